#include "file_read.h"

#include <errno.h>
#include <unistd.h>

bool ReadFileRange(int fd, uint64_t off, unsigned char *dst, size_t len) {
  while (len > 0) {
    ssize_t got = pread(fd, dst, len, static_cast<off_t>(off));
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      return false;
    dst += got;
    off += static_cast<uint64_t>(got);
    len -= static_cast<size_t>(got);
  }
  return true;
}
