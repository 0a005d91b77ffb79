// The C runtime's status query, answering for Windows-style paths as the
// Windows runtime does: wildcards and bare drives fail, a trailing
// separator fails except at the root, so does an entry whose times cannot
// be converted to local calendar time, and anything that is neither a
// directory nor a regular file reports as a character device.
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform.h"
#include "posix_open.h"
#include "posix_path.h"
#include "posix_recall.h"
#include "posix_time.h"

namespace {

// The mode the runtime reports for an entry, or -1 when it could not
// convert the entry's times.
int ModeOf(const EntryFacts &facts, unsigned *mode) {
  if (!FileTimesConvert(facts.st))
    return -1;
  // A dangling link is still an entry the search finds, without the
  // directory attribute: the runtime calls that a file.
  if (facts.dangling || S_ISREG(facts.st.st_mode))
    *mode = QUELVO_MODE_REGULAR;
  else if (S_ISDIR(facts.st.st_mode))
    *mode = QUELVO_MODE_DIRECTORY;
  else
    *mode = 0x2000u; // character device: FIFOs, sockets, devices
  return 0;
}

bool Queryable(const char *path) {
  size_t len = strlen(path);
  if (len == 0 || strpbrk(path, "*?") != nullptr || HasDrivePrefix(path))
    return false;
  return len < 2 || !IsPathSeparator(path[len - 1]) || path[len - 2] == ':';
}

// A file that the listing just called regular is opened rather than
// stat-ed: the open file answers the status query, and the version service
// that reads it next needs neither to open nor to stat it again. Only such
// a file: opening whatever a path names could start a device. Not through
// a link, and only while it is still a regular file; anything else (it
// cannot be read, or it changed since the listing) goes the usual way.
// Returns the descriptor, or -1.
int OpenListed(const char *entry, EntryFacts *facts) {
  facts->dangling = false;
  return OpenRegularEntry(entry, O_NOFOLLOW, &facts->st);
}

} // namespace

int QueryFileMode(const char *path, unsigned *mode) {
  // The path as spelled first, in the one call the common case needs (none
  // when the search has just looked the same entry up); only when nothing
  // is spelled so does the Windows reading of it count. What was kept for
  // this query is used now or never.
  char entry[kHostPathMax];
  bool queryable =
      Queryable(path) && NormalisePath(path, false, entry, sizeof entry) == 0;
  EntryFacts facts;
  bool known = queryable && TakeEntry(entry, &facts);
  ForgetAnswers();
  if (!queryable)
    return -1;
  int fd = -1;
  if (!known && ListedAsRegular(entry))
    known = (fd = OpenListed(entry, &facts)) >= 0;
  if (!known &&
      (InFolderFoundOtherwise(entry) || LookUpEntry(entry, &facts) != 0) &&
      LocateUnspelled(path, entry, sizeof entry, &facts) != 0)
    return -1;
  // The version service reads this path next: it opens what was found here
  // rather than look for it again.
  KeepLocation(path, entry);
  int result = ModeOf(facts, mode);
  if (fd >= 0) {
    if (result == 0)
      KeepOpenFile(path, fd, static_cast<uint64_t>(facts.st.st_size));
    else
      close(fd);
  }
  return result;
}
