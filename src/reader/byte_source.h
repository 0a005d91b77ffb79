// Bounded reads from an untrusted file, or from bytes already in memory (a
// version block, or a fuzzing input). Every multi-byte value is decoded
// little-endian from copied bytes; no record is ever laid over the raw data.
#ifndef QUELVO_BYTE_SOURCE_H
#define QUELVO_BYTE_SOURCE_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

// The last range read from a file, to serve the headers and directories
// that sit together without a system call each. Only a file source has one,
// so a cursor over memory stays small enough for the stack.
struct FileWindow {
  uint64_t offset; // file offset of bytes[0]
  size_t length;   // valid bytes in bytes
  unsigned char bytes[8192];
};

struct ByteSource {
  int fd;                      // -1 when reading from memory
  const unsigned char *memory; // the bytes when fd is -1
  uint64_t size;               // bytes readable, taken once at the start
  FileWindow *window;          // a file source's window, owned by the caller
};

void InitFileSource(ByteSource *src, int fd, uint64_t size, FileWindow *window);
void InitMemorySource(ByteSource *src, const void *data, size_t size);

inline uint16_t Le16(const unsigned char *p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t Le32(const unsigned char *p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

// The part of ReadAt that goes to the file, for a range already checked
// to lie inside it.
bool ReadFromFile(ByteSource *src, uint64_t off, void *dst, size_t len);

// Copies len bytes from offset off. False when the range does not lie
// wholly inside the source or the read comes up short (the file shrank).
// Inline, with the readers below, because the version-block walk reads a
// unit at a time from memory.
inline bool ReadAt(ByteSource *src, uint64_t off, void *dst, size_t len) {
  if (off > src->size || len > src->size - off)
    return false;
  if (src->fd < 0) {
    if (len != 0)
      memcpy(dst, src->memory + off, len);
    return true;
  }
  return ReadFromFile(src, off, dst, len);
}

inline bool ReadByte(ByteSource *src, uint64_t off, uint8_t *value) {
  return ReadAt(src, off, value, 1);
}

inline bool ReadLe16(ByteSource *src, uint64_t off, uint16_t *value) {
  unsigned char b[2];
  if (!ReadAt(src, off, b, sizeof b))
    return false;
  *value = Le16(b);
  return true;
}

inline bool ReadLe32(ByteSource *src, uint64_t off, uint32_t *value) {
  unsigned char b[4];
  if (!ReadAt(src, off, b, sizeof b))
    return false;
  *value = Le32(b);
  return true;
}

#endif
