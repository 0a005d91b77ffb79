// Little-endian values decoded from bytes already copied or checked in
// bounds: the reader's fields, and a translation entry the report reads
// from a block the version service filled.
#ifndef QUELVO_LITTLE_ENDIAN_H
#define QUELVO_LITTLE_ENDIAN_H

#include <stdint.h>

inline uint16_t Le16(const unsigned char *p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t Le32(const unsigned char *p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

#endif
