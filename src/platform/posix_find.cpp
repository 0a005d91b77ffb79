// Directory search over opendir/readdir, answering as the Windows search
// does: one entry for a name without wildcards, every match of a pattern
// otherwise, "." and ".." included except at the root.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform.h"
#include "posix_path.h"
#include "posix_time.h"
#include "wildcard.h"

namespace {

// Opens a directory for looking names up in it without reading it.
#ifdef O_PATH
const int kLookupOnly = O_PATH;
#else
const int kLookupOnly = O_RDONLY;
#endif

struct SearchState {
  int dirFd;
  char *names; // every delivered name, zero-terminated, back to back
  size_t namesUsed;
  size_t namesCap;
  size_t *offsets; // one per entry, into names, in delivery order
  size_t count;
  size_t cap;
  size_t next;
};

bool AddName(SearchState *s, const char *name) {
  size_t len = strlen(name) + 1;
  if (s->namesCap - s->namesUsed < len) {
    size_t cap = s->namesCap == 0 ? 4096 : s->namesCap * 2;
    while (cap - s->namesUsed < len)
      cap *= 2;
    char *grown = static_cast<char *>(realloc(s->names, cap));
    if (grown == nullptr)
      return false;
    s->names = grown;
    s->namesCap = cap;
  }
  if (s->count == s->cap) {
    size_t cap = s->cap == 0 ? 64 : s->cap * 2;
    size_t *grown =
        static_cast<size_t *>(realloc(s->offsets, cap * sizeof(size_t)));
    if (grown == nullptr)
      return false;
    s->offsets = grown;
    s->cap = cap;
  }
  memcpy(s->names + s->namesUsed, name, len);
  s->offsets[s->count++] = s->namesUsed;
  s->namesUsed += len;
  return true;
}

void FreeSearch(SearchState *s) {
  if (s->dirFd >= 0)
    close(s->dirFd);
  free(s->names);
  free(s->offsets);
  free(s);
}

bool IsDotName(const char *name) {
  return name[0] == '.' &&
         (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// readdir hands names out in hash order. Deliver them as NTFS would: the
// dot entries first, then by upper-cased name, ties by their bytes, so that
// every run lists equal names alike.
bool DeliveryBefore(const char *a, const char *b) {
  bool dotA = IsDotName(a), dotB = IsDotName(b);
  if (dotA != dotB)
    return dotA;
  for (const char *x = a, *y = b;; ++x, ++y) {
    unsigned char cx = FoldAscii(static_cast<unsigned char>(*x));
    unsigned char cy = FoldAscii(static_cast<unsigned char>(*y));
    if (cx != cy)
      return cx < cy;
    if (cx == 0)
      break;
  }
  return strcmp(a, b) < 0;
}

// Fills the find data of one entry; false when it vanished meanwhile.
bool FillEntry(SearchState *s, const char *name, WIN32_FIND_DATAA *fd) {
  struct stat st;
  if (fstatat(s->dirFd, name, &st, 0) != 0 &&
      fstatat(s->dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
    return false;
  memset(fd, 0, sizeof *fd);
  // The directory bit follows symbolic links; a dangling link is a file.
  fd->dwFileAttributes =
      S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  fd->ftCreationTime = FileTimeFromPosix(st.st_ctim);
  fd->ftLastAccessTime = FileTimeFromPosix(st.st_atim);
  fd->ftLastWriteTime = FileTimeFromPosix(st.st_mtim);
  uint64_t size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
  fd->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  fd->nFileSizeLow = static_cast<DWORD>(size);
  size_t len = strlen(name);
  if (len >= sizeof fd->cFileName)
    len = sizeof fd->cFileName - 1;
  memcpy(fd->cFileName, name, len);
  fd->cFileName[len] = '\0';
  return true;
}

bool DeliverNext(SearchState *s, WIN32_FIND_DATAA *fd) {
  while (s->next < s->count) {
    const char *name = s->names + s->offsets[s->next++];
    if (FillEntry(s, name, fd))
      return true;
  }
  return false;
}

// Whether the path the driver composes for a name, the pattern's directory
// prefix followed by the name, leads the status query and the version
// service back to this same entry. A '\' in a name reads as a separator,
// '*' and '?' fail the status query, and a name listed without a prefix
// whose second character is a colon reads as a drive: the search passes
// such names over rather than have another file, or none, answer for them.
bool Reachable(const char *name, bool bare) {
  return strpbrk(name, "\\*?") == nullptr &&
         !(bare && name[0] != '\0' && name[1] == ':');
}

// Collects the entries of dir whose names the expression matches.
bool CollectMatches(SearchState *s, const char *expression, bool atRoot,
                    bool bare) {
  int fd = dup(s->dirFd);
  if (fd < 0)
    return false;
  DIR *dir = fdopendir(fd);
  if (dir == nullptr) {
    close(fd);
    return false;
  }
  bool ok = true;
  while (struct dirent *entry = readdir(dir)) {
    if (atRoot && IsDotName(entry->d_name))
      continue;
    if (MatchExpression(expression, entry->d_name) &&
        Reachable(entry->d_name, bare) && !AddName(s, entry->d_name)) {
      ok = false;
      break;
    }
  }
  closedir(dir);
  return ok;
}

// Finds the one entry a wildcard-free name designates: exact case first,
// which needs only the right to search the directory; only a name that
// differs in case from the disk needs the directory read.
bool CollectOne(SearchState *s, const char *name, bool bare) {
  if (!Reachable(name, bare))
    return false; // no case variant differs in these characters
  struct stat st;
  if (fstatat(s->dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0)
    return AddName(s, name);
  int fd = openat(s->dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return false;
  DIR *dir = fdopendir(fd);
  if (dir == nullptr) {
    close(fd);
    return false;
  }
  char best[256];
  return FindNoCase(dir, name, best, sizeof best) && AddName(s, best);
}

// "." or a run of ".." names the working directory or one of its
// ancestors, whose own name only the working directory's full path tells;
// that path may be longer than any fixed buffer. Fills the entry's parent
// (a run of "..") and its name; false for the root, which has no entry.
bool AncestorEntry(const char *normal, char *parent, size_t parentSize,
                   char *name, size_t nameSize) {
  size_t up = strcmp(normal, ".") == 0 ? 0 : (strlen(normal) + 1) / 3;
  if (3 * (up + 1) > parentSize)
    return false;
  char *cwd = nullptr;
  for (size_t cap = 4096;; cap *= 2) {
    char *grown = static_cast<char *>(realloc(cwd, cap));
    if (grown == nullptr) {
      free(cwd);
      return false;
    }
    cwd = grown;
    if (getcwd(cwd, cap) != nullptr)
      break;
    if (errno != ERANGE) {
      free(cwd);
      return false;
    }
  }
  size_t end = strlen(cwd);
  for (size_t i = 0; i < up && end > 1; ++i) {
    while (end > 1 && cwd[end - 1] != '/')
      --end;
    if (end > 1)
      --end;
  }
  size_t start = end;
  while (start > 0 && cwd[start - 1] != '/')
    --start;
  bool found = cwd[0] == '/' && start < end && end - start < nameSize;
  if (found) {
    memcpy(name, cwd + start, end - start);
    name[end - start] = '\0';
    parent[0] = '\0';
    for (size_t i = 0; i <= up; ++i)
      strcat(parent, i == 0 ? ".." : "/..");
  }
  free(cwd);
  return found;
}

// The root lists no "." or ".." entries, however a path reaches it.
bool IsRoot(int dirFd) {
  struct stat dir, root;
  return fstat(dirFd, &dir) == 0 && stat("/", &root) == 0 &&
         dir.st_dev == root.st_dev && dir.st_ino == root.st_ino;
}

} // namespace

HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA *findData) {
  size_t len = strlen(pattern);
  // An empty last component (a trailing separator, a root) finds nothing.
  if (len == 0 || IsPathSeparator(pattern[len - 1]))
    return INVALID_HANDLE_VALUE;
  const char *lastSep = pattern + len;
  while (lastSep > pattern && !IsPathSeparator(lastSep[-1]))
    --lastSep;
  const char *typedLast = lastSep;
  bool wild = HasWildcards(typedLast);
  bool bare = typedLast == pattern; // names are composed without a prefix

  char normal[kHostPathMax];
  char dirPath[kHostPathMax];
  char expression[kHostPathMax];
  const char *lastName;
  if (wild) {
    // Only the directory part is a path; the component is an expression.
    char head[kHostPathMax];
    size_t headLen = static_cast<size_t>(typedLast - pattern);
    if (headLen >= sizeof head || strlen(typedLast) >= sizeof expression)
      return INVALID_HANDLE_VALUE;
    memcpy(head, pattern, headLen);
    head[headLen] = '\0';
    if (headLen == 0) {
      if (HasDrivePrefix(pattern))
        return INVALID_HANDLE_VALUE;
      memcpy(head, ".", 2);
    }
    if (NormalisePath(head, false, normal, sizeof normal) != 0 ||
        ResolvePath(normal, dirPath, sizeof dirPath) != 0)
      return INVALID_HANDLE_VALUE;
    RewritePattern(typedLast, expression, sizeof expression);
    lastName = expression;
  } else {
    // A last component that trims away leaves nothing to search for.
    if (NormalisePath(pattern, true, normal, sizeof normal) != 0 ||
        strcmp(normal, "/") == 0)
      return INVALID_HANDLE_VALUE;
    if (HasLastComponent(normal)) {
      char parent[kHostPathMax];
      const char *name = SplitLast(normal, parent, sizeof parent);
      if (ResolvePath(parent, dirPath, sizeof dirPath) != 0 ||
          strlen(name) >= sizeof expression)
        return INVALID_HANDLE_VALUE;
      memcpy(expression, name, strlen(name) + 1);
    } else if (!AncestorEntry(normal, dirPath, sizeof dirPath, expression,
                              sizeof expression)) {
      return INVALID_HANDLE_VALUE;
    }
    lastName = expression;
  }

  SearchState *s = static_cast<SearchState *>(calloc(1, sizeof *s));
  if (s == nullptr)
    return INVALID_HANDLE_VALUE;
  s->dirFd =
      open(dirPath, (wild ? O_RDONLY : kLookupOnly) | O_DIRECTORY | O_CLOEXEC);
  bool ok = s->dirFd >= 0 &&
            (wild ? CollectMatches(s, lastName, IsRoot(s->dirFd), bare)
                  : CollectOne(s, lastName, bare));
  if (ok) {
    const char *base = s->names;
    std::sort(s->offsets, s->offsets + s->count, [base](size_t a, size_t b) {
      return DeliveryBefore(base + a, base + b);
    });
  }
  if (!ok || !DeliverNext(s, findData)) {
    FreeSearch(s);
    return INVALID_HANDLE_VALUE;
  }
  return s;
}

BOOL FindNextFileA(HANDLE search, WIN32_FIND_DATAA *findData) {
  if (search == INVALID_HANDLE_VALUE || search == nullptr)
    return 0;
  return DeliverNext(static_cast<SearchState *>(search), findData) ? 1 : 0;
}

BOOL FindClose(HANDLE search) {
  if (search == INVALID_HANDLE_VALUE || search == nullptr)
    return 0;
  FreeSearch(static_cast<SearchState *>(search));
  return 1;
}
