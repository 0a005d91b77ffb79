// --recursive: an argument's folder and every folder below it, depth
// first, each folder's own matches before its subfolders, the subfolders
// in the order the directory search delivers them. Links to folders found
// on the way are not followed, so the walk cannot loop.
#include <string.h>

#include <string>
#include <vector>

#include "platform.h"
#include "platform_extra.h"
#include "run.h"
#include "status.h"

namespace {

#ifdef _WIN32
const char kDefaultSeparator = '\\';
#else
const char kDefaultSeparator = '/';
#endif

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool HasWildcards(const char *text) { return strpbrk(text, "*?") != nullptr; }

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

// The subfolders of the folder a prefix names, in delivery order; false
// when the folder cannot be searched.
bool ListSubfolders(const std::string &prefix, std::vector<std::string> *out) {
  std::string search = prefix + "*";
  WIN32_FIND_DATAA found;
  HANDLE handle = FindFirstFileA(search.c_str(), &found);
  if (handle == INVALID_HANDLE_VALUE)
    return false;
  do {
    const char *name = found.cFileName;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
      continue;
    out->push_back(name);
  } while (FindNextFileA(handle, &found));
  FindClose(handle);
  return true;
}

// One folder: its matches of the last component, then its subfolders.
// top is the argument's own folder, which may simply not exist.
void WalkFolder(RunState *run, const std::string &prefix, const char *last,
                bool top, bool *matched) {
  std::string pattern = prefix + last;
  MatchList list = nullptr;
  ExpandPattern(pattern.c_str(), &list);
  if (list != nullptr) {
    *matched = true;
    ReportMatches(run, pattern.c_str(), list);
    FreeMatchList(list);
  }
  std::vector<std::string> subfolders;
  if (!ListSubfolders(prefix, &subfolders)) {
    // A folder that is there but cannot be listed is named; one that is
    // not there at all is the argument's not-found message.
    std::string folder = FolderOf(prefix);
    if (!top || IsDirectory(folder.c_str()))
      ReportFailure(run, kStatusFolderFailed, folder.c_str());
    return;
  }
  char separator = SeparatorOf(prefix);
  for (const std::string &name : subfolders) {
    std::string folder = prefix + name;
    if (IsLinkOrReparsePoint(folder.c_str()))
      continue;
    std::string next = folder + separator;
    if (next.size() + strlen(last) >= kPathBuffer) {
      ReportTooLong(run, next.c_str(), last);
      continue;
    }
    WalkFolder(run, next, last, false, matched);
  }
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
  if (!HasWildcards(argument) && IsDirectory(folder.c_str())) {
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
  bool matched = false;
  WalkFolder(run, prefix, last, true, &matched);
  if (!matched)
    ReportFailure(run, kStatusNotFound, argument);
}
