// The C runtime's status query, answering for Windows-style paths as the
// Windows runtime does: wildcards and bare drives fail, a trailing
// separator fails except at the root, so does an entry whose times cannot
// be converted to local calendar time, and anything that is neither a
// directory nor a regular file reports as a character device.
#include <string.h>
#include <sys/stat.h>

#include "platform.h"
#include "posix_path.h"
#include "posix_time.h"

namespace {

const int kNothingThere = 1;

// The mode of one host path: 0; kNothingThere; or -1 when the runtime
// could not convert the entry's times.
int ModeOf(const char *path, unsigned *mode) {
  struct stat st;
  if (stat(path, &st) != 0) {
    // A dangling link is still an entry the search finds, without the
    // directory attribute: the runtime calls that a file.
    if (lstat(path, &st) != 0)
      return kNothingThere;
    if (!FileTimesConvert(st))
      return -1;
    *mode = QUELVO_MODE_REGULAR;
    return 0;
  }
  if (!FileTimesConvert(st))
    return -1;
  if (S_ISDIR(st.st_mode))
    *mode = QUELVO_MODE_DIRECTORY;
  else if (S_ISREG(st.st_mode))
    *mode = QUELVO_MODE_REGULAR;
  else
    *mode = 0x2000u; // character device: FIFOs, sockets, devices
  return 0;
}

} // namespace

int QueryFileMode(const char *path, unsigned *mode) {
  size_t len = strlen(path);
  if (len == 0 || strpbrk(path, "*?") != nullptr || HasDrivePrefix(path))
    return -1;
  if (len >= 2 && IsPathSeparator(path[len - 1]) && path[len - 2] != ':')
    return -1;
  // The path as spelled first, in the one call the common case needs; only
  // when nothing is spelled so does the Windows reading of it count.
  char entry[kHostPathMax];
  if (NormalisePath(path, false, entry, sizeof entry) != 0)
    return -1;
  int found = ModeOf(entry, mode);
  if (found != kNothingThere)
    return found;
  if (LocateEntry(path, entry, sizeof entry) != 0)
    return -1;
  return ModeOf(entry, mode) == 0 ? 0 : -1;
}
