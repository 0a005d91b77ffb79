// --recursive: an argument's folder and every folder below it, depth
// first, each folder's own matches before its subfolders, the subfolders
// in the order the directory search delivers them. Each folder is held
// open while it is walked and listed once: its matches and its subfolders
// come from that one listing, a subfolder is opened from its parent
// exactly as listed and never through a link, and the files are read
// through the folder they were listed in. So a link, a folder renamed or
// swapped for a link meanwhile, or a name the path rules read as another
// folder's can neither take the walk outside the tree nor have one
// folder's files reported under another's name; a folder met again below
// itself is not walked twice.
#include <errno.h>
#include <string.h>

#include <string>
#include <vector>

#include "match.h"
#include "platform.h"
#include "run.h"
#include "status.h"

namespace {

#ifdef _WIN32
const char kDefaultSeparator = '\\';
#else
const char kDefaultSeparator = '/';
#endif

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool HasWildcardChars(const char *text) {
  return strpbrk(text, "*?") != nullptr;
}

bool IsDirectory(const char *path) {
  unsigned mode;
  return QueryFileMode(path, &mode) == 0 && (mode & QUELVO_MODE_DIRECTORY) != 0;
}

// The separator a prefix already ends with, or the platform's own.
char SeparatorOf(const std::string &prefix) {
  if (!prefix.empty() && IsSeparator(prefix[prefix.size() - 1]))
    return prefix[prefix.size() - 1];
  return kDefaultSeparator;
}

// The folder a prefix names, for a message or a status query: the prefix
// without its trailing separator, or "." for the current folder.
std::string FolderOf(const std::string &prefix) {
  if (prefix.empty())
    return ".";
  if (prefix.size() > 1 && IsSeparator(prefix[prefix.size() - 1]) &&
      prefix[prefix.size() - 2] != ':')
    return prefix.substr(0, prefix.size() - 1);
  return prefix;
}

// Whether a path composed with a subfolder's name leads back to that
// folder: a trailing period is dropped from a folder in a path ("x." is
// "x"), and '\', '*' and '?' read as a separator and wildcards. Such a
// folder's files have no path of their own, so it is passed over with
// everything below it.
bool FolderReachable(const std::string &name) {
  return name.find_first_of("\\*?") == std::string::npos &&
         name[name.size() - 1] != '.';
}

// The folders from the argument's own down to the one being walked.
struct WalkPath {
  std::vector<const FolderNote *> folders;
};

struct Walk {
  RunState *run;
  const char *last; // the argument's last component
  bool matched;
  WalkPath path;
};

void WalkFolder(Walk *walk, FolderNote *folder, const std::string &prefix);

// The prefix of a subfolder's files. A name whose second character is a
// colon, bare, would read as a drive: "./" keeps it a name.
std::string SubfolderPrefix(const std::string &prefix,
                            const std::string &name) {
  std::string next = prefix;
  if (next.empty() && name.size() > 1 && name[1] == ':')
    next = std::string(".") + kDefaultSeparator;
  return next + name + SeparatorOf(prefix);
}

void WalkSubfolder(Walk *walk, FolderNote *parent, const std::string &prefix,
                   const std::string &name) {
  if (!FolderReachable(name))
    return;
  std::string next = SubfolderPrefix(prefix, name);
  if (next.size() + strlen(walk->last) >= kPathBuffer) {
    ReportTooLong(walk->run, next.c_str(), walk->last);
    return;
  }
  int error = 0;
  FolderNote *folder =
      OpenSubfolderNote(parent, name.c_str(), next.c_str(), &error);
  if (folder == nullptr) {
    // Gone, or no longer a folder (a link took its place): nothing to walk.
    if (error != ENOENT && error != ENOTDIR)
      ReportFailure(walk->run, kStatusFolderFailed, FolderOf(next).c_str());
    return;
  }
  bool again = false;
  for (const FolderNote *above : walk->path.folders)
    again = again || IsSameFolder(above, folder);
  if (!again)
    WalkFolder(walk, folder, next);
  FreeFolderNote(folder);
}

// One folder: its matches of the last component, then its subfolders.
void WalkFolder(Walk *walk, FolderNote *folder, const std::string &prefix) {
  walk->path.folders.push_back(folder);
  int unreadable = ReadFolderNote(folder);
  std::string pattern = prefix + walk->last;
  MatchStore store = MatchStore();
  MatchList list;
  // A name typed exactly is found even where the folder cannot be read.
  ExpandInFolder(&store, folder, walk->last, prefix.empty(), &list);
  if (list != nullptr) {
    walk->matched = true;
    ReportMatches(walk->run, pattern.c_str(), list, folder);
  }
  ReleaseMatchStore(&store);
  if (unreadable != 0) {
    ReportFailure(walk->run, kStatusFolderFailed, FolderOf(prefix).c_str());
  } else {
    std::vector<std::string> subfolders;
    ListSubfolders(folder, &subfolders);
    for (const std::string &name : subfolders)
      WalkSubfolder(walk, folder, prefix, name);
  }
  walk->path.folders.pop_back();
}

} // namespace

void WalkArgument(RunState *run, const char *argument) {
  std::string prefix;
  const char *last;
  std::string folder = argument;
  // A folder named alone stands for every file below it.
  while (folder.size() > 1 && IsSeparator(folder[folder.size() - 1]) &&
         folder[folder.size() - 2] != ':')
    folder.erase(folder.size() - 1);
  if (!HasWildcardChars(argument) && IsDirectory(folder.c_str())) {
    // Spelt with the separator the argument itself uses last.
    char separator = kDefaultSeparator;
    for (const char *p = argument; *p != '\0'; ++p)
      if (IsSeparator(*p))
        separator = *p;
    prefix = folder;
    if (!IsSeparator(prefix[prefix.size() - 1]))
      prefix += separator;
    last = "*";
  } else {
    size_t prefixLen = PrefixLength(argument);
    prefix.assign(argument, prefixLen);
    last = argument + prefixLen;
  }
  if (*last == '\0' || prefix.size() + strlen(last) >= kPathBuffer) {
    // Nothing to search for in any folder ("dir/" that names no folder),
    // or a pattern that no longer fits once the folder is spelt out.
    if (*last != '\0') {
      ReportTooLong(run, prefix.c_str(), last);
      return;
    }
    ReportFailure(run, kStatusNotFound, argument);
    return;
  }
  int error = 0;
  FolderNote *top = OpenFolderNote(prefix.c_str(), &error);
  if (top == nullptr) {
    // A folder that is there but cannot be opened is named; one that is
    // not there at all is the argument's not-found message.
    if (error != ENOENT && error != ENOTDIR)
      ReportFailure(run, kStatusFolderFailed, FolderOf(prefix).c_str());
    else
      ReportFailure(run, kStatusNotFound, argument);
    return;
  }
  Walk walk = {run, last, false, WalkPath()};
  // Where the system's search holds no folder open (Windows), a folder that
  // is not there at all shows only now.
  bool topUnreadable = ReadFolderNote(top) != 0;
  if (topUnreadable && !IsDirectory(FolderOf(prefix).c_str())) {
    FreeFolderNote(top);
    ReportFailure(run, kStatusNotFound, argument);
    return;
  }
  WalkFolder(&walk, top, prefix);
  FreeFolderNote(top);
  // An argument whose folder could not be read has had its message.
  if (!walk.matched && !topUnreadable)
    ReportFailure(run, kStatusNotFound, argument);
}
