// The one header through which the core reaches the operating system.
//
// On Windows it is the real API. Elsewhere it declares the same functions
// and records under the same names, implemented in this folder, so the
// driver, matching and report code compile unchanged on both.
#ifndef QUELVO_PLATFORM_H
#define QUELVO_PLATFORM_H

#include <stddef.h>

#ifdef _WIN32

#include <windows.h>

#else

#include <stdint.h>

typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef int BOOL;
typedef unsigned int UINT;
typedef void *HANDLE;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef const char *LPCSTR;
typedef DWORD *LPDWORD;
typedef UINT *PUINT;

#define MAX_PATH 260
#define INVALID_HANDLE_VALUE                                                   \
  (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
#define FILE_ATTRIBUTE_READONLY 0x01u
#define FILE_ATTRIBUTE_DIRECTORY 0x10u
#define FILE_ATTRIBUTE_ARCHIVE 0x20u
#define FILE_ATTRIBUTE_REPARSE_POINT 0x400u

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};

struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  char cFileName[MAX_PATH];
  char cAlternateFileName[14];
};

struct VS_FIXEDFILEINFO {
  DWORD dwSignature;
  DWORD dwStrucVersion;
  DWORD dwFileVersionMS;
  DWORD dwFileVersionLS;
  DWORD dwProductVersionMS;
  DWORD dwProductVersionLS;
  DWORD dwFileFlagsMask;
  DWORD dwFileFlags;
  DWORD dwFileOS;
  DWORD dwFileType;
  DWORD dwFileSubtype;
  DWORD dwFileDateMS;
  DWORD dwFileDateLS;
};

// Directory search. Patterns may use '\' or '/' between components; the
// last component may hold '*' and '?', matched as the Windows search does.
HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA *findData);
BOOL FindNextFileA(HANDLE search, WIN32_FIND_DATAA *findData);
BOOL FindClose(HANDLE search);
BOOL FileTimeToLocalFileTime(const FILETIME *fileTime, FILETIME *localTime);
BOOL FileTimeToSystemTime(const FILETIME *fileTime, SYSTEMTIME *systemTime);

// Version information, read from the file's PE or NE resources (or an LE
// driver's version record) into the block layout that Windows hands out.
DWORD GetFileVersionInfoSizeA(LPCSTR path, LPDWORD handle);
BOOL GetFileVersionInfoA(LPCSTR path, DWORD handle, DWORD length, LPVOID data);
BOOL VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID *value,
                    PUINT length);

#endif

// File type bits as the C runtime's status query reports them.
#define QUELVO_MODE_REGULAR 0x8000u
#define QUELVO_MODE_DIRECTORY 0x4000u

// The C runtime's file status query for a narrow path, reduced to what the
// callers read: returns 0 and stores the mode's type bits, or -1.
int QueryFileMode(const char *path, unsigned *mode);

// What a directory listing learned of the folder it read, handed on to the
// reports of the names it delivered: where the folder holds a descriptor,
// its files are opened through it, exactly as listed, and the entries it
// called regular files are opened rather than looked up first. Owned by
// whoever took it; null stands for a listing that hands nothing on (always
// so on Windows, where every report goes by its path).
struct FolderNote;

// Takes the note of a search started by FindFirstFileA, before FindClose;
// the search keeps none of it. Null when there is nothing to hand on.
FolderNote *TakeFolderNote(HANDLE search);
void FreeFolderNote(FolderNote *note);

// A recursive walk's folders, each held open while it is walked, so that
// what is listed in it is what is reported, whatever is renamed meanwhile.
// OpenFolderNote opens the folder a path names (links followed, as any
// path's); OpenSubfolderNote opens the entry name of parent exactly as
// listed, never through a link: a folder swapped for a link after the
// listing fails to open. path is the subfolder's own path as reports name
// it, which the Windows build searches by. Both give null and an errno
// value in *error on failure (ENOENT or ENOTDIR: not, or no longer, a
// folder).
FolderNote *OpenFolderNote(const char *path, int *error);
FolderNote *OpenSubfolderNote(const FolderNote *parent, const char *name,
                              const char *path, int *error);
// Lists a held folder, once however often it is asked: 0, or the errno
// value of a folder that may be looked in but not listed (a search for an
// exact name in it still finds that name).
int ReadFolderNote(FolderNote *folder);
// Whether two open notes hold the same folder (the walk's guard against a
// folder reached again below itself).
bool IsSameFolder(const FolderNote *a, const FolderNote *b);

// Why the last FindFirstFileA or FindFirstFileAt of this thread found
// nothing, as an errno value: ENOENT when nothing matches, EACCES when a
// folder on the way may not be searched or read.
int LastSearchError();

// FindFirstFileA of one last component inside a held folder, listing it
// at most once however many searches follow (the walk's matches and its
// subfolders come from one listing). bare: names are composed without a
// directory prefix, so a name that would read as a drive is left out.
// Links are delivered with FILE_ATTRIBUTE_REPARSE_POINT. FindNextFileA and
// FindClose as for any search; the note outlives the search.
HANDLE FindFirstFileAt(FolderNote *folder, LPCSTR component, bool bare,
                       WIN32_FIND_DATAA *findData);

// What the platform found of one file while answering for it; its own.
struct FileState;

// Bounded reads of one file's bytes (the reader's byte_source.h): over an
// open descriptor, or over bytes in memory.
struct ByteSource;

// One reported file, from its status query to its report: opened by the
// caller for a composed path and, where a listing delivered the name, the
// listing's note and the name as listed; closed by the caller when the
// report is done. Every service below reads what the ones before it found
// from the record (the entry looked up, the file opened, the resource
// located), so a report opens, looks up and parses a file once; nothing
// is kept anywhere else between calls, and nothing on the record asks a
// service to do more than its own work.
struct FileRecord {
  char *path;               // the caller's buffer, as reports name the file
  const FolderNote *folder; // the listing that delivered name, or null
  const char *name;         // the entry's name as listed, or null
  // The errno value of why the file could not be opened for reading (a
  // permission, a lock), or 0: then a size of 0 means no version resource.
  int error;
  FileState *state; // null without memory for it
  bool ownsState;   // state was allocated for this record alone
};

// Room for what a record keeps of its file (its source's windows, a host
// path: some 12 KiB), for a caller that reports many files to hand to
// each record in turn, so that a file costs no allocation of it. Null
// without memory.
FileState *NewFileState();
void FreeFileState(FileState *state);

// With room (NewFileState's, used by no open record) the record keeps its
// file's facts there; without, in room of its own.
void OpenFileRecord(FileRecord *record, char *path, const FolderNote *folder,
                    const char *name, FileState *room = nullptr);
void CloseFileRecord(FileRecord *record);

// QueryFileMode, GetFileVersionInfoSizeA and GetFileVersionInfoA for the
// record's file. The path forms of those three open a record of their
// own for one call.
int QueryRecordMode(FileRecord *record, unsigned *mode);
DWORD GetRecordVersionInfoSize(FileRecord *record, LPDWORD handle);
BOOL GetRecordVersionInfo(FileRecord *record, DWORD handle, DWORD length,
                          LPVOID data);

// The record's file as one byte source: opened at the first call where
// the status query found it (or taken over from the status query, which
// opens a file its listing called regular), and handed out again, with
// the windows that keep what the calls before read of its headers, until
// CloseFileRecord. Every per-file service of the record (version,
// description, languages, .NET, signature, digest) reads this one. Null
// when the file cannot be opened, for this call and every later one of
// the record's, with the errno value of why in *error when it is given
// (ENOENT when it is gone, EINVAL when it is no regular file); on POSIX a
// file that is there but may not be read notes that in record->error too.
// On Windows, where the system's version library reads the file by its
// path (and notes record->error), the source serves the long options'
// services only.
ByteSource *RecordSource(FileRecord *record, int *error = nullptr);

#endif
