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
#include "posix_open.h"
#include "posix_path.h"
#include "version_block.h"

namespace {

int OpenReadOnly(const char *path) {
  int fd;
  do
    fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  return fd;
}

// Opens a regular file for reading. O_NONBLOCK keeps a FIFO or device that
// took the file's place after the status query from blocking the open.
int OpenRegular(const char *path, uint64_t *size) {
  char normal[kHostPathMax];
  if (NormalisePath(path, true, normal, sizeof normal) < 0)
    return -1;
  int fd = OpenReadOnly(normal);
  if (fd < 0 && (errno == ENOENT || errno == ENOTDIR)) {
    // Only now look for a spelling that differs in case.
    char real[kHostPathMax];
    if (ResolvePath(normal, real, sizeof real) != 0)
      return -1;
    fd = OpenReadOnly(real);
  }
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
  if (LocateNoting(path, src, res) != 0) {
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

// The size query and the read that follows it name the same file: the
// file found by the first stays open for the second, so it is neither
// searched, opened nor parsed twice. One entry; a later size query, or a
// read of another path, drops it.
struct Pending {
  char path[kHostPathMax];
  ByteSource *src;
  VersionResource res;
};
Pending gPending = {{0}, nullptr, {0, 0, 0}};

void DropPending() {
  if (gPending.src != nullptr)
    Release(gPending.src);
  gPending.src = nullptr;
  gPending.path[0] = '\0';
}

} // namespace

DWORD GetFileVersionInfoSizeA(LPCSTR path, LPDWORD handle) {
  DropPending();
  if (handle != nullptr)
    *handle = 0;
  if (path == nullptr)
    return 0;
  ByteSource *src;
  VersionResource res;
  if (Locate(path, &src, &res) != 0)
    return 0;
  uint16_t blockLength = 0;
  DWORD size = 0;
  if (ReadLe16(src, res.offset, &blockLength))
    size = static_cast<DWORD>(
        VersionBufferSize(res.format, res.size, blockLength));
  size_t len = strlen(path);
  if (size == 0 || len >= sizeof gPending.path) {
    Release(src);
    return size;
  }
  memcpy(gPending.path, path, len + 1);
  gPending.src = src;
  gPending.res = res;
  return size;
}

BOOL GetFileVersionInfoA(LPCSTR path, DWORD handle, DWORD length, LPVOID data) {
  (void)handle;
  if (path == nullptr || data == nullptr) {
    DropPending();
    return 0;
  }
  ByteSource *src;
  VersionResource res;
  if (gPending.src != nullptr && strcmp(gPending.path, path) == 0) {
    src = gPending.src;
    res = gPending.res;
    gPending.src = nullptr;
    gPending.path[0] = '\0';
  } else {
    DropPending();
    if (Locate(path, &src, &res) != 0)
      return 0;
  }
  size_t copied = res.size < length ? res.size : length;
  unsigned char *buffer = static_cast<unsigned char *>(data);
  bool ok = ReadAt(src, res.offset, buffer, copied);
  Release(src);
  if (!ok)
    return 0;
  return PrepareVersionBlock(buffer, length, copied) ? 1 : 0;
}

BOOL VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID *value,
                    PUINT length) {
  UINT ignored;
  if (length == nullptr)
    length = &ignored;
  *length = 0;
  if (block == nullptr || value == nullptr)
    return 0;
  // The block is the caller's buffer from GetFileVersionInfoA; the query
  // writes its code page 1252 copies into the buffer's spare area.
  unsigned char *found;
  unsigned foundLength;
  if (!QueryVersionBlock(
          static_cast<unsigned char *>(const_cast<void *>(block)), subBlock,
          &found, &foundLength))
    return 0;
  *value = found;
  *length = foundLength;
  return 1;
}

int OpenRegularFile(const char *path, uint64_t *size) {
  return OpenRegular(path, size);
}
