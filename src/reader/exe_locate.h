// Finds the version resource inside an executable image.
#ifndef QUELVO_EXE_LOCATE_H
#define QUELVO_EXE_LOCATE_H

#include <stdint.h>

#include "byte_source.h"

enum ImageFormat {
  kImagePe = 1, // PE32 or PE32+: a resource in the 32-bit (Unicode) layout
  kImageNe = 2, // 16-bit Windows: the 16-bit (ANSI) layout
  kImageLe = 3, // VxD: a 16-bit block behind the LE version record
};

struct VersionResource {
  uint64_t offset; // file offset of the block's first byte
  uint32_t size;   // bytes of the block present in the file
  int format;      // an ImageFormat
};

// Reads the headers and walks the resource directory to the version
// resource (type 16, name 1), choosing the language as US-English Windows
// does. Returns 0 and fills res, or -1 when the file holds no version
// resource that can be read whole; a malformed file is simply a -1.
int LocateVersionResource(ByteSource *src, VersionResource *res);

// The largest resource worth reading: a block's length field is 16 bits.
const uint32_t kMaxVersionResource = 0x10000;

#endif
