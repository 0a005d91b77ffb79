// The one header through which the core reaches the operating system.
//
// On Windows it is the real API. Elsewhere it declares the same functions
// and records under the same names, implemented in this folder, so the
// driver, matching and report code compile unchanged on both.
#ifndef QUELVO_PLATFORM_H
#define QUELVO_PLATFORM_H

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
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define FILE_ATTRIBUTE_READONLY 0x01u
#define FILE_ATTRIBUTE_DIRECTORY 0x10u
#define FILE_ATTRIBUTE_ARCHIVE 0x20u

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

#endif
