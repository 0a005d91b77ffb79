// Windows has no pread: ReadFile with the offset in an OVERLAPPED record
// reads at a position on a handle opened for synchronous access, and does
// not depend on the handle's own file pointer.
#include "file_read.h"

#include <io.h>
#include <windows.h>

bool ReadFileRange(int fd, uint64_t off, unsigned char *dst, size_t len) {
  intptr_t osHandle = _get_osfhandle(fd);
  if (osHandle == -1)
    return false;
  HANDLE handle = reinterpret_cast<HANDLE>(osHandle);
  while (len > 0) {
    DWORD want = len > 0x40000000u ? 0x40000000u : static_cast<DWORD>(len);
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(off);
    at.OffsetHigh = static_cast<DWORD>(off >> 32);
    DWORD got = 0;
    if (!ReadFile(handle, dst, want, &got, &at) || got == 0)
      return false;
    dst += got;
    off += got;
    len -= got;
  }
  return true;
}
