// Bounded reads from an untrusted file (or, for fuzzing, a memory image).
// Every multi-byte value is decoded little-endian from copied bytes; no
// record is ever laid over the raw data.
#ifndef QUELVO_BYTE_SOURCE_H
#define QUELVO_BYTE_SOURCE_H

#include <stddef.h>
#include <stdint.h>

struct ByteSource {
  int fd;                      // -1 when reading from memory
  const unsigned char *memory; // the image when fd is -1
  uint64_t size;               // bytes in the file, taken once at open
  uint64_t windowOffset;       // file offset of window[0]
  size_t windowLength;         // valid bytes in window
  unsigned char window[8192];  // the last range read, to serve the
                               // headers and directories that sit together
};

void InitFileSource(ByteSource *src, int fd, uint64_t size);
void InitMemorySource(ByteSource *src, const void *data, size_t size);

// Copies len bytes from offset off. False when the range does not lie
// wholly inside the file or the read comes up short (the file shrank).
bool ReadAt(ByteSource *src, uint64_t off, void *dst, size_t len);
bool ReadLe16(ByteSource *src, uint64_t off, uint16_t *value);
bool ReadLe32(ByteSource *src, uint64_t off, uint32_t *value);

inline uint16_t Le16(const unsigned char *p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t Le32(const unsigned char *p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

#endif
