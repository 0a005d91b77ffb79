#include "byte_source.h"

#include <string.h>

#include "file_read.h"

void InitFileSource(ByteSource *src, int fd, uint64_t size, FileWindow *windows,
                    size_t windowCount) {
  src->fd = fd;
  src->memory = nullptr;
  src->size = size;
  src->windows = windows;
  src->windowCount = windowCount;
  src->lastUsed = 0;
  src->failedReads = 0;
  for (size_t i = 0; i < windowCount; ++i) {
    windows[i].offset = 0;
    windows[i].length = 0;
  }
}

void InitMemorySource(ByteSource *src, const void *data, size_t size) {
  src->fd = -1;
  src->memory = static_cast<const unsigned char *>(data);
  src->size = size;
  src->windows = nullptr;
  src->windowCount = 0;
  src->lastUsed = 0;
  src->failedReads = 0;
}

bool ReadFromFile(ByteSource *src, uint64_t off, void *dst, size_t len) {
  if (len == 0)
    return true;
  for (size_t i = 0; i < src->windowCount; ++i) {
    const FileWindow *w = &src->windows[i];
    if (off >= w->offset && off - w->offset <= w->length &&
        len <= w->length - (off - w->offset)) {
      memcpy(dst, w->bytes + (off - w->offset), len);
      src->lastUsed = i;
      return true;
    }
  }
  if (src->windowCount == 0 || len > sizeof src->windows[0].bytes) {
    if (ReadFileRange(src->fd, off, static_cast<unsigned char *>(dst), len))
      return true;
    ++src->failedReads;
    return false;
  }
  // The first window keeps what was read first, the start of the file
  // with the headers and the section table that every address lookup
  // reads again; the others follow the resource directory to the resource.
  size_t victim = 0;
  if (src->windowCount > 1 && src->windows[0].length != 0) {
    victim = src->lastUsed + 1;
    if (victim >= src->windowCount)
      victim = 1;
    for (size_t i = 1; i < src->windowCount; ++i)
      if (src->windows[i].length == 0) {
        victim = i;
        break;
      }
  }
  FileWindow *w = &src->windows[victim];
  // Pull in a page-aligned window around the request: the next header or
  // directory entry is usually close by.
  uint64_t start = off & ~static_cast<uint64_t>(4095);
  if (off - start + len > sizeof w->bytes)
    start = off;
  size_t want = sizeof w->bytes;
  if (want > src->size - start)
    want = static_cast<size_t>(src->size - start);
  w->length = 0;
  if (!ReadFileRange(src->fd, start, w->bytes, want)) {
    ++src->failedReads;
    return false;
  }
  w->offset = start;
  w->length = want;
  src->lastUsed = victim;
  memcpy(dst, w->bytes + (off - start), len);
  return true;
}

bool FindZeroUnitInFile(ByteSource *src, uint64_t off, uint64_t stop,
                        unsigned width, uint64_t *at) {
  for (uint64_t pos = off; stop - pos >= width; pos += width) {
    unsigned char unit[2] = {0, 0};
    if (!ReadAt(src, pos, unit, width))
      return false;
    if (unit[0] == 0 && (width == 1 || unit[1] == 0)) {
      *at = pos;
      return true;
    }
  }
  return false;
}
