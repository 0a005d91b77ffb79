#include "byte_source.h"

#include <string.h>

#include "file_read.h"

void InitFileSource(ByteSource *src, int fd, uint64_t size) {
  src->fd = fd;
  src->memory = nullptr;
  src->size = size;
  src->windowOffset = 0;
  src->windowLength = 0;
}

void InitMemorySource(ByteSource *src, const void *data, size_t size) {
  src->fd = -1;
  src->memory = static_cast<const unsigned char *>(data);
  src->size = size;
  src->windowOffset = 0;
  src->windowLength = 0;
}

bool ReadAt(ByteSource *src, uint64_t off, void *dst, size_t len) {
  if (off > src->size || len > src->size - off)
    return false;
  if (len == 0)
    return true;
  if (src->fd < 0) {
    memcpy(dst, src->memory + off, len);
    return true;
  }
  if (off >= src->windowOffset &&
      off - src->windowOffset <= src->windowLength &&
      len <= src->windowLength - (off - src->windowOffset)) {
    memcpy(dst, src->window + (off - src->windowOffset), len);
    return true;
  }
  if (len > sizeof src->window)
    return ReadFileRange(src->fd, off, static_cast<unsigned char *>(dst), len);
  // Pull in a page-aligned window around the request: the next header or
  // directory entry is usually close by.
  uint64_t start = off & ~static_cast<uint64_t>(4095);
  if (off - start + len > sizeof src->window)
    start = off;
  size_t want = sizeof src->window;
  if (want > src->size - start)
    want = static_cast<size_t>(src->size - start);
  src->windowLength = 0;
  if (!ReadFileRange(src->fd, start, src->window, want))
    return false;
  src->windowOffset = start;
  src->windowLength = want;
  memcpy(dst, src->window + (off - start), len);
  return true;
}

bool ReadLe16(ByteSource *src, uint64_t off, uint16_t *value) {
  unsigned char b[2];
  if (!ReadAt(src, off, b, sizeof b))
    return false;
  *value = Le16(b);
  return true;
}

bool ReadLe32(ByteSource *src, uint64_t off, uint32_t *value) {
  unsigned char b[4];
  if (!ReadAt(src, off, b, sizeof b))
    return false;
  *value = Le32(b);
  return true;
}
