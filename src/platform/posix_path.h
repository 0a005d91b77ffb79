// Windows path semantics over a POSIX file system: shared by the directory
// search, the status query and the version-information reader, so that all
// three agree on which file a path names.
#ifndef QUELVO_POSIX_PATH_H
#define QUELVO_POSIX_PATH_H

#include <dirent.h>
#include <stddef.h>
#include <sys/stat.h>

#include "ascii_case.h"

enum { kHostPathMax = 4096 };

inline bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

// "c:", "C:\x", "z:rel": a drive designator, which names no drive here.
inline bool HasDrivePrefix(const char *path) {
  return path[0] != '\0' && path[1] == ':';
}

// Reads dir (and closes it) for the entry that differs from name only in
// ASCII case, the first in byte order when there are several, never "." or
// "..". Copies it to found; false when there is none.
bool FindNoCase(DIR *dir, const char *name, char *found, size_t foundSize);

// One entry as the search and the status query see it: its own status, or
// its target's when it is a symbolic link that leads somewhere.
struct EntryFacts {
  struct stat st;
  bool dangling; // a link that leads nowhere: st is the link's own
  bool link;     // the entry itself is a symbolic link
};

// Looks an entry up in one call unless it is a link: lstat, then stat for
// a link only. Returns 0, or -1 when there is no entry.
int LookUpEntry(const char *hostPath, EntryFacts *facts);
// The same for a name in an open directory.
int LookUpEntryAt(int dirFd, const char *name, EntryFacts *facts);

// Turns a path typed Windows-style or POSIX-style into a POSIX path, absolute
// when typed so and relative to the working directory otherwise (so that a
// working directory deeper than the system's path limit does not matter):
// '\' and '/' both separate, empty and "." components vanish, ".." is taken
// out lexically (as Windows does, whatever symbolic links say; those above
// the working directory stay at the front), a directory component loses
// one trailing period, and, when stripLast is set, trailing dots and spaces
// leave the last component. The working directory itself is ".". Returns
// 0; 1 when the last component trimmed away to nothing (the path then names
// its directory, as if typed with a trailing separator); -1 for a drive
// designator or a result that does not fit.
int NormalisePath(const char *path, bool stripLast, char *out, size_t outSize);

// False for a normalised path that ends without a name of its own: the root,
// the working directory ".", or a run of "..".
bool HasLastComponent(const char *normalised);

// Finds the entry a normalised path names, taking each component
// in its exact case when it exists and otherwise the first entry (in byte
// order) that differs only in ASCII case. Writes the path as spelled on
// disk. Returns 0, or -1 when some component names nothing.
int ResolvePath(const char *normalised, char *out, size_t outSize);

// ResolvePath for a folder. Once per search: the files a search lists are
// opened through the folder it holds, not by their paths.
int ResolveFolder(const char *normalised, char *out, size_t outSize);

// Finds the entry that the status query and the version service read for
// a path. The last component is first taken exactly as spelled: the driver
// composes its paths from names that the search delivered as they are on
// disk, and a Linux name may end in a dot or a space, or differ from
// another only in case. Only when nothing is spelled so does the path get
// the Windows reading: trailing dots and spaces trimmed, then any case.
// Writes the host path and returns 0, or -1 when nothing is there.
int LocateEntry(const char *path, char *out, size_t outSize);

// LocateEntry for a caller that has already found nothing spelled as the
// path is: only the Windows reading is tried. Fills facts, when given,
// with what the host path names.
int LocateByWindowsReading(const char *path, char *out, size_t outSize,
                           EntryFacts *facts);

// Splits a normalised path at its last '/': the directory part ("/" at the
// root, "." for a bare name) goes to dir, the returned pointer is the last
// component.
const char *SplitLast(const char *path, char *dir, size_t dirSize);

#endif
