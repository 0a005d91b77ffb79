// The C runtime's status query, answering for Windows-style paths as the
// Windows runtime does: wildcards and bare drives fail, a trailing
// separator fails except at the root, so does an entry whose times cannot
// be converted to local calendar time, and anything that is neither a
// directory nor a regular file reports as a character device.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>

#include "platform.h"
#include "posix_path.h"
#include "posix_record.h"
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
  // Two scans of a known length cost less than one for a set of bytes.
  if (len == 0 || memchr(path, '*', len) != nullptr ||
      memchr(path, '?', len) != nullptr || HasDrivePrefix(path))
    return false;
  return len < 2 || !IsPathSeparator(path[len - 1]) || path[len - 2] == ':';
}

// Finds the entry through what the listing that delivered its name knows:
// the entry its lookup found, or the folder it holds. A file the listing
// called regular is opened rather than looked up: the open file answers
// the status query, and the version service that reads it next needs
// neither to open nor to stat it again. Only such a file: opening whatever
// a name designates could start a device. Not through a link, and only
// while it is still a regular file; anything else (it cannot be read, or
// it changed since the listing) is looked up in the folder. False when the
// listing knows nothing of the name.
bool FindListed(FileRecord *record, EntryFacts *facts) {
  const FolderNote *note = record->folder;
  FileState *state = record->state;
  if (note == nullptr || record->name == nullptr)
    return false;
  if (note->haveFound && strcmp(note->foundName, record->name) == 0) {
    *facts = note->foundFacts;
    state->where = kWhereHost;
    memcpy(state->host, note->foundHost, strlen(note->foundHost) + 1);
    return true;
  }
  if (note->dirFd < 0)
    return false;
  if (ListedAsRegular(note, record->name)) {
    int fd = OpenRegularAt(note->dirFd, record->name, O_NOFOLLOW, &facts->st);
    if (fd >= 0) {
      facts->dangling = facts->link = false;
      HoldRecordFile(state, fd, static_cast<uint64_t>(facts->st.st_size));
      state->where = kWhereFolder;
      return true;
    }
  }
  if (LookUpEntryAt(note->dirFd, record->name, facts) != 0)
    return false;
  state->where = kWhereFolder;
  return true;
}

// Finds the entry by the path: as spelled first, in the one call the
// common case needs; only when nothing is spelled so does the Windows
// reading of it count.
bool FindByPath(FileRecord *record, EntryFacts *facts) {
  FileState *state = record->state;
  if (NormalisePath(record->path, false, state->host, sizeof state->host) != 0)
    return false;
  if (LookUpEntry(state->host, facts) != 0 &&
      LocateByWindowsReading(record->path, state->host, sizeof state->host,
                             facts) != 0)
    return false;
  state->where = kWhereHost;
  return true;
}

} // namespace

int QueryRecordMode(FileRecord *record, unsigned *mode) {
  FileState *state = record->state;
  if (state == nullptr || !Queryable(record->path))
    return -1;
  // A query asked again starts afresh.
  ReleaseRecordFile(state);
  state->where = kWhereUnknown;
  EntryFacts facts;
  if (!FindListed(record, &facts) && !FindByPath(record, &facts)) {
    state->where = kWhereUnknown;
    return -1;
  }
  int result = ModeOf(facts, mode);
  if (result != 0)
    ReleaseRecordFile(state);
  return result;
}

int QueryFileMode(const char *path, unsigned *mode) {
  char copy[kHostPathMax];
  size_t len = strlen(path);
  if (len >= sizeof copy)
    return -1;
  memcpy(copy, path, len + 1);
  FileRecord record;
  OpenFileRecord(&record, copy, nullptr, nullptr);
  int result = QueryRecordMode(&record, mode);
  CloseFileRecord(&record);
  return result;
}
