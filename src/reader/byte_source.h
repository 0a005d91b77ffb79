// Bounded reads from an untrusted file, or from bytes already in memory (a
// version block, or a fuzzing input). Every multi-byte value is decoded
// little-endian from copied bytes; no record is ever laid over the raw data.
#ifndef QUELVO_BYTE_SOURCE_H
#define QUELVO_BYTE_SOURCE_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "little_endian.h"

// A range read from a file, to serve the headers and directories that sit
// together without a system call each. Only a file source has windows, so
// a cursor over memory stays small enough for the stack.
// One page: the headers and section table, or a resource directory with
// the resource beside it, nearly always fit one; a larger window costs
// more copying on every file than the rare extra read it saves.
struct FileWindow {
  uint64_t offset; // file offset of bytes[0]
  size_t length;   // valid bytes in bytes
  unsigned char bytes[4096];
};

struct ByteSource {
  int fd;                      // -1 when reading from memory
  const unsigned char *memory; // the bytes when fd is -1
  uint64_t size;               // bytes readable, taken once at the start
  FileWindow *windows;         // a file source's windows, owned by the caller
  size_t windowCount;
  size_t lastUsed; // the window that served the latest read
  // Reads of the file itself that failed on a range inside its size (an
  // I/O error, or the file shrank). A reader's entry point tells them
  // apart from a range the bytes placed outside the file by the count
  // before and after its own reads, and says so in its result; nothing
  // clears it.
  uint32_t failedReads;
};

// A file source reads through the windows it is given: with two, the
// headers and the section table stay in the first while the resource
// directory and the resource take turns in the second, so the section
// table is not read again for every address it maps.
void InitFileSource(ByteSource *src, int fd, uint64_t size, FileWindow *windows,
                    size_t windowCount = 1);
void InitMemorySource(ByteSource *src, const void *data, size_t size);

// The part of ReadAt that goes to the file, for a range already checked
// to lie inside it.
bool ReadFromFile(ByteSource *src, uint64_t off, void *dst, size_t len);

// Copies len bytes from offset off. False when the range does not lie
// wholly inside the source or the read comes up short (the file shrank).
// Inline, with the readers below, because the version-block walk reads a
// unit at a time from memory, and the header and directory walks a field
// at a time from the window that served the read before.
inline bool ReadAt(ByteSource *src, uint64_t off, void *dst, size_t len) {
  if (off > src->size || len > src->size - off)
    return false;
  if (src->fd < 0) {
    if (len != 0)
      memcpy(dst, src->memory + off, len);
    return true;
  }
  if (src->windowCount != 0) {
    const FileWindow *w = &src->windows[src->lastUsed];
    if (off >= w->offset && off - w->offset <= w->length &&
        len <= w->length - (off - w->offset)) {
      memcpy(dst, w->bytes + (off - w->offset), len);
      return true;
    }
  }
  return ReadFromFile(src, off, dst, len);
}

// Where a range's bytes already lie (the memory, or a window read before),
// or null when they lie in none whole; nothing is read. For a caller that
// reads many fields of one range, such as a section table, without a copy
// each; it reads them through ReadAt when this gives null.
inline const unsigned char *ViewAt(const ByteSource *src, uint64_t off,
                                   uint64_t len) {
  if (off > src->size || len > src->size - off)
    return nullptr;
  if (src->fd < 0)
    return src->memory + off;
  for (size_t i = 0; i < src->windowCount; ++i) {
    const FileWindow *w = &src->windows[i];
    if (off >= w->offset && off - w->offset <= w->length &&
        len <= w->length - (off - w->offset))
      return w->bytes + (off - w->offset);
  }
  return nullptr;
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

// The part of FindZeroUnit that reads a file, for a range already cut to
// the source's size.
bool FindZeroUnitInFile(ByteSource *src, uint64_t off, uint64_t stop,
                        unsigned width, uint64_t *at);

// Finds the first zero unit, 1 or 2 bytes wide (little-endian), among the
// units at off, off + width, ... that lie wholly before end and inside the
// source; false when there is none. A key or string scan, bounded like
// every read, without a call per unit over memory.
inline bool FindZeroUnit(ByteSource *src, uint64_t off, uint64_t end,
                         unsigned width, uint64_t *at) {
  uint64_t stop = end < src->size ? end : src->size;
  if (off > stop)
    return false;
  if (src->fd >= 0)
    return FindZeroUnitInFile(src, off, stop, width, at);
  const unsigned char *m = src->memory;
  if (width == 1) {
    const void *zero = memchr(m + off, 0, static_cast<size_t>(stop - off));
    if (zero == nullptr)
      return false;
    *at = static_cast<uint64_t>(static_cast<const unsigned char *>(zero) - m);
    return true;
  }
  uint64_t pos = off;
#ifdef __SSE2__
  if (stop - pos >= 16) {
    // Eight units at a time (every x86-64), the last eight of the range
    // taken whole where fewer are left: keys and values are mostly one to
    // three such steps long.
    const __m128i kZero = _mm_setzero_si128();
    for (;;) {
      uint64_t from = pos;
      uint64_t left = stop - pos;
      if (left < 16)
        from = pos + (left & ~uint64_t{1}) - 16; // in step with the units
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(m + from));
      unsigned mask =
          static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(v, kZero))) >>
          (pos - from);
      if (mask != 0) {
        *at = pos + static_cast<uint64_t>(__builtin_ctz(mask));
        return true;
      }
      if (left <= 16)
        return false;
      pos += 16;
    }
  }
#endif
  // Four units at a time until a word holds a zero unit: keys and values
  // are mostly a few words long.
  const uint64_t kLow = 0x0001000100010001ull, kHigh = 0x8000800080008000ull;
  for (; stop - pos >= 8; pos += 8) {
    uint64_t word;
    memcpy(&word, m + pos, sizeof word);
    if (((word - kLow) & ~word & kHigh) != 0)
      break;
  }
  for (; stop - pos >= 2; pos += 2)
    if ((m[pos] | m[pos + 1]) == 0) {
      *at = pos;
      return true;
    }
  return false;
}

#endif
