// The C runtime's own status query, as the program always used it.
//
// Which files count is msvcrt.dll's decision, not ours: it refuses, for
// instance, a path that ends in a separator ("dir\" or "dir/"). The name
// _stat cannot be trusted for that under mingw-w64: on 64-bit targets its
// headers turn it into _stat64i32, mingw-w64's own function (or inline
// body) that drops trailing separators and then calls _stat64. So the
// function is bound here to its import from msvcrt.dll, under its C name
// _stat, with the record it fills on each architecture: 32-bit times on x86,
// 64-bit times on x64.
#include <sys/stat.h>

#include "platform.h"

#ifdef _WIN64
typedef struct _stat64i32 CrtStatus;
#else
typedef struct _stat32 CrtStatus;
#endif

extern "C" __declspec(dllimport) int __cdecl CrtStat(
    const char *path, CrtStatus *status) __asm__("_stat");

int QueryFileMode(const char *path, unsigned *mode) {
  CrtStatus status;
  if (CrtStat(path, &status) != 0)
    return -1;
  *mode = status.st_mode;
  return 0;
}
