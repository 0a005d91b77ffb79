// The version-information service over a POSIX file system, and the one
// byte source of a record that it and the other per-file services read:
// the file is opened where the status query found it, read with bounded
// preads (headers, the resource directory path, the resource itself), and
// laid out as Windows lays out the block it returns.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

#include "byte_source.h"
#include "exe_locate.h"
#include "platform.h"
#include "posix_path.h"
#include "posix_record.h"
#include "record_source.h"
#include "version_block.h"

namespace {

// Finds the version resource in the record's source, which stays open
// for the read that follows and for the services after it.
bool Locate(FileRecord *record) {
  FileState *state = record->state;
  state->located = false;
  const PeImage *image = nullptr;
  ByteSource *src = RecordSourceAndImage(record, &image);
  if (src == nullptr ||
      LocateVersionResource(src, *image, &state->resource) != kReasonNone)
    return false;
  state->located = true;
  return true;
}

// Copies a record's path into a buffer of its own, for the path forms of
// the services.
bool CopyPath(const char *path, char *copy, size_t size) {
  size_t len = path == nullptr ? size : strlen(path);
  if (len >= size)
    return false;
  memcpy(copy, path, len + 1);
  return true;
}

// Opens the record's file for reading where the status query found it,
// or, when it was not queried, as the version library finds a path.
// Returns the descriptor and its size, or -1 with errno set.
int OpenRecordFile(FileRecord *record, uint64_t *size) {
  FileState *state = record->state;
  struct stat st;
  int fd = -1;
  switch (state->where) {
  case kWhereFolder:
    fd = OpenRegularAt(record->folder->dirFd, record->name, 0, &st);
    break;
  case kWhereHost:
    fd = OpenRegularAt(AT_FDCWD, state->host, 0, &st);
    break;
  case kWhereUnknown:
    // The path as spelled first, in the one call the common case needs, and
    // only when nothing is spelled so the Windows reading of it (a dangling
    // link spelled so is found again, and stays unreadable).
    if (NormalisePath(record->path, false, state->host, sizeof state->host) !=
        0)
      return -1;
    fd = OpenRegularAt(AT_FDCWD, state->host, 0, &st);
    if (fd < 0 && (errno == ENOENT || errno == ENOTDIR)) {
      if (LocateEntry(record->path, state->host, sizeof state->host) != 0)
        return -1;
      fd = OpenRegularAt(AT_FDCWD, state->host, 0, &st);
    }
    break;
  }
  if (fd >= 0)
    *size = static_cast<uint64_t>(st.st_size);
  else if (errno != ENOENT && errno != ENOTDIR && errno != EINVAL)
    record->error = errno; // there, but not to be read
  return fd;
}

} // namespace

FileState *NewFileState() { return new (std::nothrow) FileState; }

void FreeFileState(FileState *state) { delete state; }

void HoldRecordFile(FileState *state, int fd, uint64_t size) {
  state->fd = fd;
  state->size = size;
  state->openError = 0;
  state->located = false;
  state->imageRead = false;
  InitFileSource(&state->src, fd, size, state->windows, 2);
}

void ReleaseRecordFile(FileState *state) {
  if (state->fd >= 0)
    close(state->fd);
  state->fd = -1;
  state->openError = 0;
  state->located = false;
  state->imageRead = false;
}

void OpenFileRecord(FileRecord *record, char *path, const FolderNote *folder,
                    const char *name, FileState *room) {
  record->path = path;
  record->folder = folder;
  record->name = name;
  record->error = 0;
  // Headers, windows and a host path: too large for every caller's stack,
  // and too large to clear for every file (12 KiB): only what tells the
  // calls what the ones before found starts set; the buffers are written
  // before they are read. Room the caller gives may hold the last file's.
  record->ownsState = room == nullptr;
  FileState *state = room != nullptr ? room : NewFileState();
  record->state = state;
  if (state == nullptr)
    return;
  state->where = kWhereUnknown;
  state->fd = -1;
  state->size = 0;
  state->openError = 0;
  state->located = false;
}

void CloseFileRecord(FileRecord *record) {
  if (record->state != nullptr)
    ReleaseRecordFile(record->state);
  if (record->ownsState)
    FreeFileState(record->state);
  record->state = nullptr;
}

int OpenRegularAt(int dirFd, const char *name, int extraFlags,
                  struct stat *st) {
  int fd;
  do
    fd = openat(dirFd, name,
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

ByteSource *RecordSource(FileRecord *record, int *error) {
  FileState *state = record->state;
  int why = ENOMEM;
  if (state != nullptr && state->fd >= 0)
    return &state->src;
  if (state != nullptr && state->openError == 0) {
    uint64_t size;
    errno = 0;
    int fd = OpenRecordFile(record, &size);
    if (fd >= 0) {
      HoldRecordFile(state, fd, size);
      return &state->src;
    }
    state->openError = errno != 0 ? errno : ENOENT;
  }
  if (state != nullptr)
    why = state->openError;
  if (error != nullptr)
    *error = why;
  return nullptr;
}

ByteSource *RecordSourceAndImage(FileRecord *record, const PeImage **image) {
  ByteSource *src = RecordSource(record);
  if (src == nullptr)
    return nullptr;
  FileState *state = record->state;
  if (!state->imageRead) {
    ReadPeImage(src, &state->image);
    state->imageRead = true;
  }
  *image = &state->image;
  return src;
}

DWORD GetRecordVersionInfoSize(FileRecord *record, LPDWORD handle) {
  if (handle != nullptr)
    *handle = 0;
  FileState *state = record->state;
  // Asked again, the resource is located afresh, in the same open file.
  if (state == nullptr || !Locate(record))
    return 0;
  uint16_t blockLength = 0;
  DWORD size = 0;
  if (ReadLe16(&state->src, state->resource.offset, &blockLength))
    size = static_cast<DWORD>(VersionBufferSize(
        state->resource.format, state->resource.size, blockLength));
  if (size == 0)
    state->located = false;
  return size;
}

BOOL GetRecordVersionInfo(FileRecord *record, DWORD handle, DWORD length,
                          LPVOID data) {
  (void)handle;
  FileState *state = record->state;
  if (state == nullptr || data == nullptr)
    return 0;
  // The resource the size query located is read from the file it found it
  // in; without one, it is looked for again.
  if (!state->located && !Locate(record))
    return 0;
  return ReadVersionBlock(&state->src, state->resource,
                          static_cast<unsigned char *>(data),
                          length) == kReasonNone
             ? 1
             : 0;
}

DWORD GetFileVersionInfoSizeA(LPCSTR path, LPDWORD handle) {
  if (handle != nullptr)
    *handle = 0;
  char copy[kHostPathMax];
  if (!CopyPath(path, copy, sizeof copy))
    return 0;
  FileRecord record;
  OpenFileRecord(&record, copy, nullptr, nullptr);
  DWORD size = GetRecordVersionInfoSize(&record, handle);
  CloseFileRecord(&record);
  return size;
}

BOOL GetFileVersionInfoA(LPCSTR path, DWORD handle, DWORD length, LPVOID data) {
  char copy[kHostPathMax];
  if (!CopyPath(path, copy, sizeof copy))
    return 0;
  FileRecord record;
  OpenFileRecord(&record, copy, nullptr, nullptr);
  BOOL ok = GetRecordVersionInfo(&record, handle, length, data);
  CloseFileRecord(&record);
  return ok;
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
