// The version-information service over a POSIX file system: the file is
// opened as the status query and the search name it, read with bounded
// preads (headers, the resource directory path, the resource itself), and
// laid out as Windows lays out the block it returns.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "byte_source.h"
#include "exe_locate.h"
#include "platform.h"
#include "posix_path.h"
#include "version_block.h"

namespace {

// Opens a regular file for reading. O_NONBLOCK keeps a FIFO or device that
// took the file's place after the status query from blocking the open.
int OpenRegular(const char *path, uint64_t *size) {
  char normal[kHostPathMax];
  char real[kHostPathMax];
  if (NormalisePath(path, true, normal, sizeof normal) != 0 ||
      ResolvePath(normal, real, sizeof real) != 0)
    return -1;
  int fd;
  do
    fd = open(real, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  if (fd < 0)
    return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
    close(fd);
    return -1;
  }
  *size = static_cast<uint64_t>(st.st_size);
  return fd;
}

// Finds the resource; the ByteSource is large, so it lives on the heap.
int Locate(const char *path, ByteSource **source, VersionResource *res) {
  uint64_t size;
  int fd = OpenRegular(path, &size);
  if (fd < 0)
    return -1;
  ByteSource *src = static_cast<ByteSource *>(malloc(sizeof(ByteSource)));
  if (src == nullptr) {
    close(fd);
    return -1;
  }
  InitFileSource(src, fd, size);
  if (LocateVersionResource(src, res) != 0) {
    close(fd);
    free(src);
    return -1;
  }
  *source = src;
  return 0;
}

void Release(ByteSource *src) {
  close(src->fd);
  free(src);
}

} // namespace

DWORD GetFileVersionInfoSizeA(LPCSTR path, LPDWORD handle) {
  if (handle != nullptr)
    *handle = 0;
  if (path == nullptr)
    return 0;
  ByteSource *src;
  VersionResource res;
  if (Locate(path, &src, &res) != 0)
    return 0;
  uint16_t blockLength = 0;
  bool ok = ReadLe16(src, res.offset, &blockLength);
  Release(src);
  if (!ok)
    return 0;
  return static_cast<DWORD>(
      VersionBufferSize(res.format, res.size, blockLength));
}

BOOL GetFileVersionInfoA(LPCSTR path, DWORD handle, DWORD length, LPVOID data) {
  (void)handle;
  if (path == nullptr || data == nullptr)
    return 0;
  ByteSource *src;
  VersionResource res;
  if (Locate(path, &src, &res) != 0)
    return 0;
  size_t copied = res.size < length ? res.size : length;
  unsigned char *buffer = static_cast<unsigned char *>(data);
  bool ok = ReadAt(src, res.offset, buffer, copied);
  Release(src);
  if (!ok)
    return 0;
  return PrepareVersionBlock(buffer, length, copied) ? 1 : 0;
}
