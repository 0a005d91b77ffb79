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
};

#endif
