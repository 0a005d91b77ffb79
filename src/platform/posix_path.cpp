#include "posix_path.h"

#include <dirent.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>

namespace {

// A path being built: absolute ("/", "/a/b") or relative ("", "a/b",
// "../a"). The first `fixed` bytes are what ".." cannot take away: the
// root, or a relative path's leading run of "..".
struct PathBuilder {
  char *out;
  size_t size;
  size_t len;
  size_t fixed;
  bool absolute;
};

void StartPath(PathBuilder *b, char *out, size_t size, bool absolute) {
  b->out = out;
  b->size = size;
  b->absolute = absolute;
  b->len = b->fixed = absolute ? 1 : 0;
  out[0] = '/';
  out[b->len] = '\0';
}

// Appends one component; returns false when the result would not fit.
bool PushComponent(PathBuilder *b, const char *comp, size_t compLen) {
  bool separator = b->len > (b->absolute ? 1u : 0u);
  size_t need = (separator ? 1 : 0) + compLen;
  if (need >= b->size - b->len)
    return false;
  if (separator)
    b->out[b->len++] = '/';
  memcpy(b->out + b->len, comp, compLen);
  b->len += compLen;
  b->out[b->len] = '\0';
  return true;
}

bool PopComponent(PathBuilder *b) {
  if (b->len == b->fixed) {
    if (b->absolute)
      return true; // ".." stops at the root
    // Above the working directory the ".." stays, for the system to resolve.
    // getcwd shows the working directory free of links, so the system's
    // answer is the lexical one.
    if (!PushComponent(b, "..", 2))
      return false;
    b->fixed = b->len;
    return true;
  }
  while (b->len > b->fixed && b->out[b->len - 1] != '/')
    --b->len;
  if (b->len > (b->absolute ? 1u : 0u))
    --b->len; // the separator before the removed component
  b->out[b->len] = '\0';
  return true;
}

// Adds the components of src, resolving "." and ".." as it goes, and
// trimming components as Windows trims them: a directory loses one trailing
// period ("dir.\x" is "dir\x"), and, with stripLast, the final component
// all its trailing dots and spaces. Sets *vanished when the final component
// trims to nothing, which leaves the path ending in a separator.
bool AddComponents(PathBuilder *b, const char *src, bool stripLast,
                   bool *vanished) {
  const char *p = src;
  while (*p != '\0') {
    while (IsPathSeparator(*p))
      ++p;
    const char *start = p;
    while (*p != '\0' && !IsPathSeparator(*p))
      ++p;
    size_t compLen = static_cast<size_t>(p - start);
    if (compLen == 0)
      break;
    bool last = true;
    for (const char *q = p; *q != '\0'; ++q)
      if (!IsPathSeparator(*q)) {
        last = false;
        break;
      }
    bool endsWithSeparator = *p != '\0';
    if (compLen == 1 && start[0] == '.')
      continue;
    if (compLen == 2 && start[0] == '.' && start[1] == '.') {
      if (!PopComponent(b))
        return false;
      continue;
    }
    if (last && stripLast && !endsWithSeparator) {
      while (compLen > 0 &&
             (start[compLen - 1] == '.' || start[compLen - 1] == ' '))
        --compLen;
      if (compLen == 0) {
        *vanished = true;
        continue;
      }
    } else if (endsWithSeparator && compLen >= 2 && start[compLen - 1] == '.' &&
               start[compLen - 2] != '.') {
      --compLen;
    }
    if (!PushComponent(b, start, compLen))
      return false;
  }
  return true;
}

} // namespace

int LookUpEntryAt(int dirFd, const char *name, EntryFacts *facts) {
  if (fstatat(dirFd, name, &facts->st, AT_SYMLINK_NOFOLLOW) != 0)
    return -1;
  facts->dangling = false;
  facts->link = S_ISLNK(facts->st.st_mode);
  if (facts->link) {
    struct stat target;
    if (fstatat(dirFd, name, &target, 0) == 0)
      facts->st = target;
    else
      facts->dangling = true;
  }
  return 0;
}

int LookUpEntry(const char *hostPath, EntryFacts *facts) {
  return LookUpEntryAt(AT_FDCWD, hostPath, facts);
}

bool FindNoCase(DIR *dir, const char *name, char *found, size_t foundSize) {
  bool any = false;
  while (struct dirent *entry = readdir(dir)) {
    const char *d = entry->d_name;
    if (d[0] == '.' && (d[1] == '\0' || (d[1] == '.' && d[2] == '\0')))
      continue;
    if (!EqualNoCaseAscii(d, name))
      continue;
    size_t n = strlen(d);
    if (n < foundSize && (!any || strcmp(d, found) < 0)) {
      memcpy(found, d, n + 1);
      any = true;
    }
  }
  closedir(dir);
  return any;
}

namespace {

// Whether a path is its own normal form: '/' alone between non-empty
// components, none of them "." or "..", no directory ending in a period,
// and, with stripLast, a last component without trailing dots or spaces.
// The paths the driver composes from listed names nearly all are.
bool IsNormal(const char *path, bool stripLast) {
  const char *p = path[0] == '/' ? path + 1 : path;
  for (;;) {
    const char *start = p;
    while (*p != '\0' && *p != '/' && *p != '\\')
      ++p;
    size_t len = static_cast<size_t>(p - start);
    if (len == 0 || *p == '\\' ||
        (start[0] == '.' && len <= 2 && (len == 1 || start[1] == '.')))
      return false;
    char end = start[len - 1];
    if (*p == '\0')
      return !(stripLast && (end == '.' || end == ' '));
    if (end == '.')
      return false;
    ++p; // the '/'
  }
}

} // namespace

int NormalisePath(const char *path, bool stripLast, char *out, size_t outSize) {
  if (outSize < 2 || path[0] == '\0' || HasDrivePrefix(path))
    return -1;
  if (IsNormal(path, stripLast)) {
    size_t len = strlen(path);
    if (len >= outSize)
      return -1;
    memcpy(out, path, len + 1);
    return 0;
  }
  PathBuilder b;
  StartPath(&b, out, outSize, IsPathSeparator(path[0]));
  bool vanished = false;
  if (!AddComponents(&b, path, stripLast, &vanished))
    return -1;
  if (b.len == 0)
    memcpy(out, ".", 2); // the working directory itself
  return vanished ? 1 : 0;
}

bool HasLastComponent(const char *normalised) {
  const char *last = strrchr(normalised, '/');
  last = last == nullptr ? normalised : last + 1;
  return last[0] != '\0' && strcmp(last, ".") != 0 && strcmp(last, "..") != 0;
}

const char *SplitLast(const char *path, char *dir, size_t dirSize) {
  const char *slash = strrchr(path, '/');
  const char *head = slash == nullptr ? "." : slash == path ? "/" : path;
  size_t dirLen =
      slash == nullptr || slash == path ? 1 : static_cast<size_t>(slash - path);
  if (dirLen >= dirSize)
    dirLen = dirSize - 1;
  memcpy(dir, head, dirLen);
  dir[dirLen] = '\0';
  return slash == nullptr ? path : slash + 1;
}

int ResolvePath(const char *normalised, char *out, size_t outSize) {
  struct stat st;
  size_t total = strlen(normalised);
  if (total >= outSize)
    return -1;
  if (lstat(normalised, &st) == 0) {
    memcpy(out, normalised, total + 1);
    return 0;
  }
  // Some component differs in case from the disk: walk them one by one.
  PathBuilder b;
  StartPath(&b, out, outSize, normalised[0] == '/');
  const char *p = normalised;
  while (*p != '\0') {
    while (*p == '/')
      ++p;
    const char *start = p;
    while (*p != '\0' && *p != '/')
      ++p;
    size_t compLen = static_cast<size_t>(p - start);
    if (compLen == 0)
      break;
    char comp[kHostPathMax];
    memcpy(comp, start, compLen);
    comp[compLen] = '\0';
    size_t mark = b.len;
    if (!PushComponent(&b, comp, compLen))
      return -1;
    if (lstat(out, &st) == 0)
      continue;
    b.len = mark;
    out[b.len] = '\0';
    DIR *dir = opendir(b.len == 0 ? "." : out);
    if (dir == nullptr)
      return -1;
    char best[256];
    if (!FindNoCase(dir, comp, best, sizeof best) ||
        !PushComponent(&b, best, strlen(best)))
      return -1;
  }
  return 0;
}

int ResolveFolder(const char *normalised, char *out, size_t outSize) {
  return ResolvePath(normalised, out, outSize);
}

namespace {

// Appends "/name" to a directory path in place; false when it does not fit.
bool JoinName(char *dir, size_t size, const char *name) {
  size_t len = strlen(dir);
  size_t nameLen = strlen(name);
  bool root = strcmp(dir, "/") == 0;
  if (len + 1 + nameLen >= size)
    return false;
  if (!root)
    dir[len++] = '/';
  memcpy(dir + len, name, nameLen + 1);
  return true;
}

bool CopyPath(const char *path, char *out, size_t outSize) {
  size_t len = strlen(path);
  if (len >= outSize)
    return false;
  memcpy(out, path, len + 1);
  return true;
}

// Whether out names an entry, with what it is into facts when asked.
bool EntryExists(const char *out, EntryFacts *facts) {
  EntryFacts ignored;
  return LookUpEntry(out, facts != nullptr ? facts : &ignored) == 0;
}

} // namespace

int LocateEntry(const char *path, char *out, size_t outSize) {
  char exact[kHostPathMax];
  if (NormalisePath(path, false, exact, sizeof exact) != 0)
    return -1;
  EntryFacts facts;
  if (LookUpEntry(exact, &facts) == 0)
    return CopyPath(exact, out, outSize) ? 0 : -1;
  return LocateByWindowsReading(path, out, outSize, nullptr);
}

int LocateByWindowsReading(const char *path, char *out, size_t outSize,
                           EntryFacts *facts) {
  char exact[kHostPathMax];
  char trimmed[kHostPathMax];
  if (NormalisePath(path, false, exact, sizeof exact) != 0)
    return -1;
  int vanished = NormalisePath(path, true, trimmed, sizeof trimmed);
  if (vanished < 0)
    return -1;
  bool sameTrimmed = strcmp(trimmed, exact) == 0;
  if (!sameTrimmed && EntryExists(trimmed, facts))
    return CopyPath(trimmed, out, outSize) ? 0 : -1;
  if (vanished == 1 || !HasLastComponent(exact)) {
    if (ResolvePath(trimmed, out, outSize) != 0)
      return -1;
    return EntryExists(out, facts) ? 0 : -1;
  }
  // Some directory differs in case from the disk. Find it, then the name in
  // it: as spelled, then trimmed, then trimmed in any case. In the folder
  // as typed, the first two are what the caller and the lookup above
  // found missing already.
  char parent[kHostPathMax];
  const char *name = SplitLast(exact, parent, sizeof parent);
  const char *trimmedName = SplitLast(trimmed, parent, sizeof parent);
  if (ResolveFolder(parent, out, outSize) != 0)
    return -1;
  bool sameFolder = strcmp(out, parent) == 0;
  size_t dirLen = strlen(out);
  if (!sameFolder) {
    if (JoinName(out, outSize, name) && EntryExists(out, facts))
      return 0;
    out[dirLen] = '\0';
    if (!sameTrimmed && JoinName(out, outSize, trimmedName) &&
        EntryExists(out, facts))
      return 0;
    out[dirLen] = '\0';
  }
  DIR *dir = opendir(out);
  char best[256];
  if (dir == nullptr || !FindNoCase(dir, trimmedName, best, sizeof best) ||
      !JoinName(out, outSize, best))
    return -1;
  return facts == nullptr || EntryExists(out, facts) ? 0 : -1;
}
