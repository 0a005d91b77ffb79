// What the fuzzers share: bytes in as an executable image, and the version
// block that the version service would hand out for it.
#ifndef QUELVO_FUZZ_BLOCK_H
#define QUELVO_FUZZ_BLOCK_H

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "byte_source.h"
#include "exe_locate.h"
#include "version_block.h"

// The image's version resource located, sized and laid out as
// GetFileVersionInfoA lays it out from a file, in a buffer of *length
// bytes for the caller to free; null when there is no usable block.
inline unsigned char *PreparedBlock(const uint8_t *data, size_t size,
                                    unsigned long *length) {
  ByteSource src;
  InitMemorySource(&src, data, size);
  VersionResource res;
  NoVersionReason why = LocateVersionResource(&src, &res);
  // Every input that finds nothing says why, in a word of the list; a
  // memory source never fails a read. Headers read first and handed on
  // lead to the same answer.
  PeImage image;
  ReadPeImage(&src, &image);
  VersionResource again = VersionResource();
  NoVersionReason whyAgain = LocateVersionResource(&src, image, &again);
  if (strcmp(NoVersionReasonName(why), "unknown") == 0 ||
      why == kReasonReadFailed || whyAgain != why ||
      (why == kReasonNone &&
       (again.offset != res.offset || again.size != res.size)))
    __builtin_trap();
  if (why != kReasonNone)
    return nullptr;
  *length = VersionBufferSizeOf(&src, res, &why);
  if ((*length == 0) != (why == kReasonBlockTooShort))
    __builtin_trap();
  if (*length == 0)
    return nullptr;
  unsigned char *block = static_cast<unsigned char *>(malloc(*length));
  if (block == nullptr)
    return nullptr;
  // A memory source never fails a read.
  why = ReadVersionBlock(&src, res, block, *length);
  if (why == kReasonReadFailed)
    __builtin_trap();
  if (why != kReasonNone) {
    free(block);
    return nullptr;
  }
  return block;
}

#endif
