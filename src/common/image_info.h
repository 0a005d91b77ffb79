// What kind of executable a file is: read by the reader from the headers,
// handed up through the platform's description service to the JSON report.
#ifndef QUELVO_IMAGE_INFO_H
#define QUELVO_IMAGE_INFO_H

#include <stdint.h>

enum ImageKind {
  kKindUnknown = 0,
  kKindPe32 = 1,     // optional header magic 0x10B
  kKindPe32Plus = 2, // optional header magic 0x20B
  kKindNe = 3,
  kKindLe = 4,
};

struct ImageInfo {
  int kind;         // an ImageKind
  uint16_t machine; // IMAGE_FILE_HEADER.Machine; 0 unless PE
  // PE: an executable image (IMAGE_FILE_EXECUTABLE_IMAGE) that carries
  // code: an entry point, exports or a CLR header. A DLL of resources
  // alone has none of them and is data, whatever its header calls it.
  bool code;
};

// One language of a PE file's version resource (the resource directory
// may hold it under several) and the versions of its fixed record, for the
// check that every language says the same.
struct LanguageVersion {
  uint16_t language;
  bool hasFixed; // its data could be read and holds a whole record
  uint32_t fileMs, fileLs, productMs, productLs;
};

#endif
