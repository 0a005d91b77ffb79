#include "posix_path.h"

#include <dirent.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The working directory never changes during a run; asking once spares a
// system call for every path.
const char *WorkingDirectory() {
  static char cwd[kHostPathMax];
  static int state = 0; // 0 unknown, 1 known, -1 unavailable
  if (state == 0)
    state = getcwd(cwd, sizeof cwd) != nullptr ? 1 : -1;
  return state == 1 ? cwd : nullptr;
}

// Appends one component; returns false when the result would not fit.
bool PushComponent(char *out, size_t outSize, size_t *len, const char *comp,
                   size_t compLen) {
  size_t need = (*len > 1 ? 1 : 0) + compLen;
  if (need >= outSize - *len)
    return false;
  if (*len > 1)
    out[(*len)++] = '/';
  memcpy(out + *len, comp, compLen);
  *len += compLen;
  out[*len] = '\0';
  return true;
}

void PopComponent(char *out, size_t *len) {
  while (*len > 1 && out[*len - 1] != '/')
    --*len;
  if (*len > 1)
    --*len; // the separator before the removed component
  out[*len] = '\0';
}

// Adds the components of src, resolving "." and ".." as it goes. With
// windowsRules, components are trimmed as Windows trims them: a directory
// loses one trailing period ("dir.\x" is "dir\x"), and the final component
// all its trailing dots and spaces. Sets *vanished when the final component
// trims to nothing, which leaves the path ending in a separator.
bool AddComponents(char *out, size_t outSize, size_t *len, const char *src,
                   bool windowsRules, bool stripLast, bool *vanished) {
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
      PopComponent(out, len);
      continue;
    }
    if (windowsRules && last && stripLast && !endsWithSeparator) {
      while (compLen > 0 &&
             (start[compLen - 1] == '.' || start[compLen - 1] == ' '))
        --compLen;
      if (compLen == 0) {
        *vanished = true;
        continue;
      }
    } else if (windowsRules && endsWithSeparator && compLen >= 2 &&
               start[compLen - 1] == '.' && start[compLen - 2] != '.') {
      --compLen;
    }
    if (!PushComponent(out, outSize, len, start, compLen))
      return false;
  }
  return true;
}

} // namespace

bool EqualNoCase(const char *a, const char *b) {
  for (;; ++a, ++b) {
    unsigned char x = FoldAscii(static_cast<unsigned char>(*a));
    unsigned char y = FoldAscii(static_cast<unsigned char>(*b));
    if (x != y)
      return false;
    if (x == 0)
      return true;
  }
}

bool FindNoCase(DIR *dir, const char *name, char *found, size_t foundSize) {
  bool any = false;
  while (struct dirent *entry = readdir(dir)) {
    const char *d = entry->d_name;
    if (d[0] == '.' && (d[1] == '\0' || (d[1] == '.' && d[2] == '\0')))
      continue;
    if (!EqualNoCase(d, name))
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

int NormalisePath(const char *path, bool stripLast, char *out, size_t outSize) {
  if (outSize < 2 || path[0] == '\0' || HasDrivePrefix(path))
    return -1;
  size_t len = 1;
  out[0] = '/';
  out[1] = '\0';
  bool vanished = false;
  if (!IsPathSeparator(path[0])) {
    const char *cwd = WorkingDirectory();
    if (cwd == nullptr ||
        !AddComponents(out, outSize, &len, cwd, false, false, &vanished))
      return -1;
  }
  if (!AddComponents(out, outSize, &len, path, true, stripLast, &vanished))
    return -1;
  return vanished ? 1 : 0;
}

const char *SplitLast(const char *path, char *dir, size_t dirSize) {
  const char *slash = strrchr(path, '/');
  size_t dirLen =
      slash == nullptr || slash == path ? 1 : static_cast<size_t>(slash - path);
  if (dirLen >= dirSize)
    dirLen = dirSize - 1;
  if (slash == nullptr || slash == path)
    memcpy(dir, "/", 1);
  else
    memcpy(dir, path, dirLen);
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
  size_t len = 1;
  out[0] = '/';
  out[1] = '\0';
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
    size_t mark = len;
    if (!PushComponent(out, outSize, &len, comp, compLen))
      return -1;
    if (lstat(out, &st) == 0)
      continue;
    len = mark;
    out[len] = '\0';
    DIR *dir = opendir(out);
    if (dir == nullptr)
      return -1;
    char best[256];
    if (!FindNoCase(dir, comp, best, sizeof best) ||
        !PushComponent(out, outSize, &len, best, strlen(best)))
      return -1;
  }
  return 0;
}
