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
#include "posix_recall.h"
#include "version_block.h"

namespace {

// Opens a regular file for reading.
int OpenRegular(const char *path, uint64_t *size) {
  // The entry the status query has just found for the path; otherwise the
  // path as spelled first, in the one call the common case needs, and only
  // when nothing is spelled so the Windows reading of it (a dangling link
  // spelled so is found again, and stays unreadable).
  char entry[kHostPathMax];
  int fd = TakeOpenFile(path, size);
  bool located = TakeLocation(path, entry, sizeof entry);
  ForgetAnswers();
  if (fd >= 0)
    return fd; // opened and found regular by the status query just now
  struct stat st;
  if (located) {
    fd = OpenRegularEntry(entry, 0, &st);
  } else {
    if (NormalisePath(path, false, entry, sizeof entry) != 0)
      return -1;
    fd = OpenRegularEntry(entry, 0, &st);
    if (fd < 0 && (errno == ENOENT || errno == ENOTDIR)) {
      if (LocateEntry(path, entry, sizeof entry) != 0)
        return -1;
      fd = OpenRegularEntry(entry, 0, &st);
    }
  }
  if (fd >= 0)
    *size = static_cast<uint64_t>(st.st_size);
  return fd;
}

// An open file and the reader's windows on it: one keeps the headers and
// the section table while the other follows the resource directory to the
// resource. The windows are large, so the whole lives on the heap.
struct OpenFile {
  ByteSource src;
  FileWindow windows[2];
};

// The last released OpenFile, for the next file: one is in use at a time.
OpenFile *gSpareFile = nullptr;

void Release(OpenFile *f) {
  close(f->src.fd);
  if (gSpareFile == nullptr)
    gSpareFile = f;
  else
    free(f);
}

// Finds the resource.
int Locate(const char *path, OpenFile **file, VersionResource *res) {
  uint64_t size;
  int fd = OpenRegular(path, &size);
  if (fd < 0)
    return -1;
  OpenFile *f = gSpareFile;
  gSpareFile = nullptr;
  if (f == nullptr)
    f = static_cast<OpenFile *>(malloc(sizeof(OpenFile)));
  if (f == nullptr) {
    close(fd);
    return -1;
  }
  InitFileSource(&f->src, fd, size, f->windows, 2);
  if (LocateNoting(path, &f->src, res) != 0) {
    Release(f);
    return -1;
  }
  *file = f;
  return 0;
}

// The size query and the read that follows it name the same file: the
// file found by the first stays open for the second, so it is neither
// searched, opened nor parsed twice. One entry; a later size query, or a
// read of another path, drops it.
struct Pending {
  char path[kHostPathMax];
  OpenFile *file;
  VersionResource res;
};
Pending gPending = {{0}, nullptr, {0, 0, 0}};

void DropPending() {
  if (gPending.file != nullptr)
    Release(gPending.file);
  gPending.file = nullptr;
  gPending.path[0] = '\0';
}

} // namespace

DWORD GetFileVersionInfoSizeA(LPCSTR path, LPDWORD handle) {
  DropPending();
  if (handle != nullptr)
    *handle = 0;
  if (path == nullptr) {
    ForgetAnswers();
    return 0;
  }
  OpenFile *file;
  VersionResource res;
  if (Locate(path, &file, &res) != 0)
    return 0;
  uint16_t blockLength = 0;
  DWORD size = 0;
  if (ReadLe16(&file->src, res.offset, &blockLength))
    size = static_cast<DWORD>(
        VersionBufferSize(res.format, res.size, blockLength));
  size_t len = strlen(path);
  if (size == 0 || len >= sizeof gPending.path) {
    Release(file);
    return size;
  }
  memcpy(gPending.path, path, len + 1);
  gPending.file = file;
  gPending.res = res;
  return size;
}

BOOL GetFileVersionInfoA(LPCSTR path, DWORD handle, DWORD length, LPVOID data) {
  (void)handle;
  if (path == nullptr || data == nullptr) {
    DropPending();
    return 0;
  }
  OpenFile *file;
  VersionResource res;
  if (gPending.file != nullptr && strcmp(gPending.path, path) == 0) {
    file = gPending.file;
    res = gPending.res;
    gPending.file = nullptr;
    gPending.path[0] = '\0';
  } else {
    DropPending();
    if (Locate(path, &file, &res) != 0)
      return 0;
  }
  size_t copied = res.size < length ? res.size : length;
  unsigned char *buffer = static_cast<unsigned char *>(data);
  bool ok = ReadAt(&file->src, res.offset, buffer, copied);
  Release(file);
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

int OpenRegularEntry(const char *hostPath, int extraFlags, struct stat *st) {
  int fd;
  do
    fd = open(hostPath,
              O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | extraFlags);
  while (fd < 0 && errno == EINTR);
  if (fd < 0)
    return -1;
  if (fstat(fd, st) != 0 || !S_ISREG(st->st_mode) || st->st_size < 0) {
    close(fd);
    errno = EINVAL;
    return -1;
  }
  return fd;
}

int OpenRegularFile(const char *path, uint64_t *size) {
  return OpenRegular(path, size);
}
