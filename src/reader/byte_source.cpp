#include "byte_source.h"

#include <string.h>

#include "file_read.h"

void InitFileSource(ByteSource *src, int fd, uint64_t size,
                    FileWindow *window) {
  src->fd = fd;
  src->memory = nullptr;
  src->size = size;
  src->window = window;
  window->offset = 0;
  window->length = 0;
}

void InitMemorySource(ByteSource *src, const void *data, size_t size) {
  src->fd = -1;
  src->memory = static_cast<const unsigned char *>(data);
  src->size = size;
  src->window = nullptr;
}

bool ReadFromFile(ByteSource *src, uint64_t off, void *dst, size_t len) {
  if (len == 0)
    return true;
  FileWindow *w = src->window;
  if (off >= w->offset && off - w->offset <= w->length &&
      len <= w->length - (off - w->offset)) {
    memcpy(dst, w->bytes + (off - w->offset), len);
    return true;
  }
  if (len > sizeof w->bytes)
    return ReadFileRange(src->fd, off, static_cast<unsigned char *>(dst), len);
  // Pull in a page-aligned window around the request: the next header or
  // directory entry is usually close by.
  uint64_t start = off & ~static_cast<uint64_t>(4095);
  if (off - start + len > sizeof w->bytes)
    start = off;
  size_t want = sizeof w->bytes;
  if (want > src->size - start)
    want = static_cast<size_t>(src->size - start);
  w->length = 0;
  if (!ReadFileRange(src->fd, start, w->bytes, want))
    return false;
  w->offset = start;
  w->length = want;
  memcpy(dst, w->bytes + (off - start), len);
  return true;
}
