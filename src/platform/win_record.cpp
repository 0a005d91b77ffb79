// The Windows side of the records the POSIX services pass each other: the
// system's services answer by path, so a folder's note holds the path
// prefix that a search in it is given, and a file's record its path and
// the one source the long options' services read.
#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <string.h>

#include <new>

#include "byte_source.h"
#include "platform.h"
#include "record_source.h"

struct FolderNote {
  char prefix[MAX_PATH]; // the folder's path with its separator, or ""
};

struct FileState {
  int fd;        // the C runtime's descriptor of the open file, or -1
  int openError; // why it could not be opened (errno), or 0: not tried
  ByteSource src;
  FileWindow windows[2]; // headers and section table; whatever follows
  bool imageRead;        // image holds the open file's headers
  PeImage image;
};

namespace {

FolderNote *NoteFor(const char *prefix, int *error) {
  size_t len = strlen(prefix);
  if (len >= MAX_PATH) {
    *error = ENAMETOOLONG;
    return nullptr;
  }
  FolderNote *note = new (std::nothrow) FolderNote;
  if (note == nullptr) {
    *error = ENOMEM;
    return nullptr;
  }
  memcpy(note->prefix, prefix, len + 1);
  return note;
}

// The prefix followed by a component, as the search is given it.
bool Compose(const FolderNote *note, const char *component, char *out) {
  size_t a = strlen(note->prefix), b = strlen(component);
  if (a + b >= MAX_PATH)
    return false;
  memcpy(out, note->prefix, a);
  memcpy(out + a, component, b + 1);
  return true;
}

} // namespace

FolderNote *TakeFolderNote(HANDLE) { return nullptr; }

void FreeFolderNote(FolderNote *note) { delete note; }

FolderNote *OpenFolderNote(const char *path, int *error) {
  return NoteFor(path, error);
}

FolderNote *OpenSubfolderNote(const FolderNote *, const char *,
                              const char *path, int *error) {
  return NoteFor(path, error);
}

int ReadFolderNote(FolderNote *folder) {
  // The system lists the folder for every search; whether it can is what
  // a search of everything in it says.
  char search[MAX_PATH];
  WIN32_FIND_DATAA found;
  if (!Compose(folder, "*", search))
    return ENAMETOOLONG;
  HANDLE handle = FindFirstFileA(search, &found);
  if (handle == INVALID_HANDLE_VALUE)
    return EACCES;
  FindClose(handle);
  return 0;
}

bool IsSameFolder(const FolderNote *, const FolderNote *) {
  // The walk enters no reparse point, and so meets no folder twice.
  return false;
}

HANDLE FindFirstFileAt(FolderNote *folder, LPCSTR component, bool,
                       WIN32_FIND_DATAA *findData) {
  char search[MAX_PATH];
  if (folder == nullptr || !Compose(folder, component, search))
    return INVALID_HANDLE_VALUE;
  return FindFirstFileA(search, findData);
}

FileState *NewFileState() { return new (std::nothrow) FileState; }

void FreeFileState(FileState *state) { delete state; }

void OpenFileRecord(FileRecord *record, char *path, const FolderNote *folder,
                    const char *name, FileState *room) {
  record->path = path;
  record->folder = folder;
  record->name = name;
  record->error = 0;
  record->ownsState = room == nullptr;
  FileState *state = room != nullptr ? room : NewFileState();
  record->state = state;
  if (state == nullptr)
    return;
  state->fd = -1;
  state->openError = 0;
}

void CloseFileRecord(FileRecord *record) {
  FileState *state = record->state;
  if (state != nullptr && state->fd >= 0)
    _close(state->fd); // closes the handle too
  if (state != nullptr)
    state->fd = -1;
  if (record->ownsState)
    FreeFileState(state);
  record->state = nullptr;
}

namespace {

int ErrnoOfOpen(DWORD why) {
  switch (why) {
  case ERROR_FILE_NOT_FOUND:
  case ERROR_PATH_NOT_FOUND:
    return ENOENT;
  case ERROR_ACCESS_DENIED:
  case ERROR_SHARING_VIOLATION:
  case ERROR_LOCK_VIOLATION:
    return EACCES;
  case ERROR_NOT_ENOUGH_MEMORY:
  case ERROR_OUTOFMEMORY:
    return ENOMEM;
  default:
    return EIO;
  }
}

// The file the path names, opened for shared reading (the system's
// version library reads it at the same time, by its path) as a C runtime
// descriptor, and its size; or an errno value.
int OpenShared(const char *path, int *fd, uint64_t *size) {
  HANDLE handle =
      CreateFileA(path, GENERIC_READ,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return ErrnoOfOpen(GetLastError());
  LARGE_INTEGER length;
  if (!GetFileSizeEx(handle, &length) || length.QuadPart < 0) {
    int error = ErrnoOfOpen(GetLastError());
    CloseHandle(handle);
    return error;
  }
  *fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle),
                        _O_RDONLY | _O_BINARY);
  if (*fd < 0) {
    CloseHandle(handle);
    return EMFILE;
  }
  *size = static_cast<uint64_t>(length.QuadPart);
  return 0;
}

} // namespace

ByteSource *RecordSource(FileRecord *record, int *error) {
  FileState *state = record->state;
  int why = ENOMEM;
  if (state != nullptr && state->fd >= 0)
    return &state->src;
  if (state != nullptr && state->openError == 0) {
    uint64_t size = 0;
    int fd = -1;
    state->openError = OpenShared(record->path, &fd, &size);
    if (state->openError == 0) {
      state->fd = fd;
      state->imageRead = false;
      InitFileSource(&state->src, fd, size, state->windows, 2);
      return &state->src;
    }
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

int QueryRecordMode(FileRecord *record, unsigned *mode) {
  return QueryFileMode(record->path, mode);
}

DWORD GetRecordVersionInfoSize(FileRecord *record, LPDWORD handle) {
  DWORD size = GetFileVersionInfoSizeA(record->path, handle);
  if (size == 0) {
    // A file the library could not open is no file without a resource.
    DWORD why = GetLastError();
    if (why == ERROR_ACCESS_DENIED || why == ERROR_SHARING_VIOLATION ||
        why == ERROR_LOCK_VIOLATION)
      record->error = EACCES;
  }
  return size;
}

int LastSearchError() {
  switch (GetLastError()) {
  case ERROR_ACCESS_DENIED:
  case ERROR_SHARING_VIOLATION:
    return EACCES;
  default:
    return ENOENT;
  }
}

BOOL GetRecordVersionInfo(FileRecord *record, DWORD handle, DWORD length,
                          LPVOID data) {
  return GetFileVersionInfoA(record->path, handle, length, data);
}
