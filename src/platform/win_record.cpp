// The Windows side of the records the POSIX services pass each other: the
// system's services answer by path, so a file's record holds its path
// alone and a folder's note the path prefix that a search in it is given.
#include <errno.h>
#include <string.h>

#include <new>

#include "platform.h"

struct FolderNote {
  char prefix[MAX_PATH]; // the folder's path with its separator, or ""
};

struct FileState {};

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

FileState *NewFileState() { return nullptr; }

void FreeFileState(FileState *) {}

void OpenFileRecord(FileRecord *record, char *path, const FolderNote *folder,
                    const char *name, FileState *) {
  record->path = path;
  record->folder = folder;
  record->name = name;
  record->describe = false;
  record->error = 0;
  record->dotnet = nullptr;
  record->state = nullptr;
  record->ownsState = false;
}

void CloseFileRecord(FileRecord *) {}

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
