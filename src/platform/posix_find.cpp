// Directory search over opendir/readdir, answering as the Windows search
// does: one entry for a name without wildcards, every match of a pattern
// otherwise, "." and ".." included except at the root.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

#include "platform.h"
#include "posix_path.h"
#include "posix_recall.h"
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
  // Every delivered name, zero-terminated, back to back; a directory's
  // with a '\\' after it (no deliverable name holds a '\\' of its own).
  char *names;
  size_t namesUsed;
  size_t namesCap;
  size_t *offsets; // one per entry, into names, in delivery order
  size_t count;
  size_t cap;
  size_t next;
  // What the lookup of a name without wildcards found, for its times and
  // size; a listing answers only with names and types.
  bool haveFacts;
  EntryFacts facts;
  // A pattern's listing: the hashes of the names it listed as regular
  // files, for the status queries of the report that follows.
  uint64_t *regular;
  size_t regularCount;
  size_t regularCap;
  bool regularLost; // no memory to note them all: none count
};

void NoteRegular(SearchState *s, const char *name) {
  if (s->regularLost)
    return;
  if (s->regularCount == s->regularCap) {
    size_t cap = s->regularCap == 0 ? 256 : s->regularCap * 2;
    uint64_t *grown = static_cast<uint64_t *>(
        cap > SIZE_MAX / sizeof(uint64_t)
            ? nullptr
            : realloc(s->regular, cap * sizeof(uint64_t)));
    if (grown == nullptr) {
      s->regularLost = true;
      return;
    }
    s->regular = grown;
    s->regularCap = cap;
  }
  s->regular[s->regularCount++] = ListingHash(name);
}

bool AddName(SearchState *s, const char *name, bool directory) {
  size_t len = strlen(name) + (directory ? 2 : 1);
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
  char *stored = s->names + s->namesUsed;
  memcpy(stored, name, len - (directory ? 2 : 1));
  if (directory)
    stored[len - 2] = '\\';
  stored[len - 1] = '\0';
  s->offsets[s->count++] = s->namesUsed;
  s->namesUsed += len;
  return true;
}

// One finished search kept, buffers and all, for the next: a run given
// many names searches once for each. Searches belong to one thread.
SearchState *gSpare = nullptr;
const size_t kSpareNames = 64 * 1024; // bytes of names a spare may keep
const size_t kSpareEntries = 4096;

SearchState *NewSearch() {
  SearchState *s = gSpare;
  gSpare = nullptr;
  if (s == nullptr)
    s = static_cast<SearchState *>(calloc(1, sizeof *s));
  if (s != nullptr)
    s->dirFd = -1;
  return s;
}

void FreeSearch(SearchState *s) {
  if (s->dirFd >= 0)
    close(s->dirFd);
  free(s->regular);
  if (gSpare == nullptr && s->namesCap <= kSpareNames &&
      s->cap <= kSpareEntries) {
    char *names = s->names;
    size_t *offsets = s->offsets;
    size_t namesCap = s->namesCap, cap = s->cap;
    memset(s, 0, sizeof *s);
    s->names = names;
    s->offsets = offsets;
    s->namesCap = namesCap;
    s->cap = cap;
    gSpare = s;
    return;
  }
  free(s->names);
  free(s->offsets);
  free(s);
}

bool IsDotName(const char *name) {
  return name[0] == '.' &&
         (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

bool IsDotEntry(const char *stored) {
  return stored[0] == '.' &&
         (strcmp(stored + 1, "\\") == 0 || strcmp(stored + 1, ".\\") == 0);
}

// A stored name's byte in the delivery order: ASCII letters in upper
// case, and a directory's '\\' as the end of its name.
inline unsigned char DeliveryByte(char c) {
  return c == '\\' ? 0 : FoldAscii(static_cast<unsigned char>(c));
}

// readdir hands names out in hash order. Deliver them as NTFS would: the
// dot entries first, then by upper-cased name, ties by their bytes, so that
// every run lists equal names alike. The recursive walk goes through the
// folders in this order. The match list's own order (lower case, a
// directory with its '\\') differs only around the characters between 'Z'
// and 'a' and where a directory's name begins another, so the list takes
// what arrives in one pass, or in a few runs, rather than sort it again.
bool DeliveryBefore(const char *a, const char *b) {
  bool dotA = IsDotEntry(a), dotB = IsDotEntry(b);
  if (dotA || dotB)
    return dotA && (!dotB || strlen(a) < strlen(b)); // "." before ".."
  for (const char *x = a, *y = b;; ++x, ++y) {
    unsigned char cx = DeliveryByte(*x), cy = DeliveryByte(*y);
    if (cx != cy)
      return cx < cy;
    if (cx == 0)
      break;
  }
  for (const char *x = a, *y = b;; ++x, ++y) {
    unsigned char cx = *x == '\\' ? 0 : static_cast<unsigned char>(*x);
    unsigned char cy = *y == '\\' ? 0 : static_cast<unsigned char>(*y);
    if (cx != cy)
      return cx < cy;
    if (cx == 0)
      return false;
  }
}

// A name's first eight bytes in the delivery order, padded with zeros, as
// one number: numbers in order are names in order, and most comparisons of
// a sort end there instead of in the names.
uint64_t OrderPrefix(const char *stored) {
  uint64_t key = 0;
  bool ended = false;
  for (int i = 0; i < 8; ++i) {
    unsigned char c = ended ? 0 : DeliveryByte(stored[i]);
    ended = c == 0;
    key = (key << 8) | c;
  }
  return key;
}

struct SortEntry {
  uint64_t prefix;
  size_t offset;
};

// Puts the stored names in delivery order: the dot entries, then the
// rest sorted on their prefixes, the names themselves deciding only
// between equal prefixes. Without memory for the prefixes, on the names.
void SortForDelivery(SearchState *s) {
  const char *base = s->names;
  size_t dots = 0;
  for (size_t i = 0; i < s->count; ++i)
    if (IsDotEntry(base + s->offsets[i]))
      std::swap(s->offsets[i], s->offsets[dots++]);
  std::sort(s->offsets, s->offsets + dots, [base](size_t a, size_t b) {
    return DeliveryBefore(base + a, base + b);
  });
  size_t rest = s->count - dots;
  SortEntry *entries =
      rest > SIZE_MAX / sizeof(SortEntry)
          ? nullptr
          : static_cast<SortEntry *>(malloc(rest * sizeof(SortEntry)));
  if (entries == nullptr) {
    std::sort(s->offsets + dots, s->offsets + s->count,
              [base](size_t a, size_t b) {
                return DeliveryBefore(base + a, base + b);
              });
    return;
  }
  for (size_t i = 0; i < rest; ++i) {
    size_t offset = s->offsets[dots + i];
    entries[i].prefix = OrderPrefix(base + offset);
    entries[i].offset = offset;
  }
  std::sort(entries, entries + rest,
            [base](const SortEntry &a, const SortEntry &b) {
              if (a.prefix != b.prefix)
                return a.prefix < b.prefix;
              return DeliveryBefore(base + a.offset, base + b.offset);
            });
  for (size_t i = 0; i < rest; ++i)
    s->offsets[dots + i] = entries[i].offset;
  free(entries);
}

// Fills the find data of one stored entry, with its times and size when
// they are known.
void FillFound(const char *stored, const EntryFacts *facts,
               WIN32_FIND_DATAA *fd) {
  memset(fd, 0, sizeof *fd);
  size_t len = strlen(stored);
  bool directory = len > 0 && stored[len - 1] == '\\';
  if (directory)
    --len;
  fd->dwFileAttributes =
      directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  if (facts == nullptr) {
    // No time known: one that no conversion accepts, so that the record's
    // calendar fields stay zero in every time zone.
    const FILETIME kUnknown = {0xFFFFFFFFu, 0xFFFFFFFFu};
    fd->ftCreationTime = fd->ftLastAccessTime = fd->ftLastWriteTime = kUnknown;
  } else {
    const struct stat &st = facts->st;
    fd->ftCreationTime = FileTimeFromPosix(st.st_ctim);
    fd->ftLastAccessTime = FileTimeFromPosix(st.st_atim);
    fd->ftLastWriteTime = FileTimeFromPosix(st.st_mtim);
    uint64_t size = directory ? 0 : static_cast<uint64_t>(st.st_size);
    fd->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    fd->nFileSizeLow = static_cast<DWORD>(size);
  }
  if (len >= sizeof fd->cFileName)
    len = sizeof fd->cFileName - 1;
  memcpy(fd->cFileName, stored, len);
  fd->cFileName[len] = '\0';
}

bool DeliverNext(SearchState *s, WIN32_FIND_DATAA *fd) {
  if (s->next >= s->count)
    return false;
  const char *stored = s->names + s->offsets[s->next++];
  FillFound(stored, s->haveFacts ? &s->facts : nullptr, fd);
  return true;
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

// Whether an entry is a directory, links followed (a dangling link is a
// file): the listing's type says so for all but links and file systems
// that leave the type unknown. False when it vanished meanwhile.
bool TypeEntry(SearchState *s, const struct dirent *entry, bool *directory) {
  switch (entry->d_type) {
  case DT_DIR:
    *directory = true;
    return true;
  case DT_LNK:
  case DT_UNKNOWN: {
    EntryFacts facts;
    if (LookUpEntryAt(s->dirFd, entry->d_name, &facts) != 0)
      return false;
    *directory = S_ISDIR(facts.st.st_mode);
    return true;
  }
  default:
    *directory = false;
    return true;
  }
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
    bool directory;
    if (!MatchExpression(expression, entry->d_name) ||
        !Reachable(entry->d_name, bare) || !TypeEntry(s, entry, &directory))
      continue;
    if (!AddName(s, entry->d_name, directory)) {
      ok = false;
      break;
    }
    if (entry->d_type == DT_REG)
      NoteRegular(s, entry->d_name);
  }
  closedir(dir);
  return ok;
}

// Adds the one entry a lookup found, with what it is.
bool AddFound(SearchState *s, const char *name, const EntryFacts &facts) {
  s->haveFacts = true;
  s->facts = facts;
  return AddName(s, name, S_ISDIR(facts.st.st_mode));
}

// Finds the one entry a wildcard-free name designates: exact case first,
// which needs only the right to search the directory (unless the caller
// has just found nothing spelled so there); only a name that differs in
// case from the disk needs the directory read.
bool CollectOne(SearchState *s, const char *name, bool bare, bool tryExact) {
  if (!Reachable(name, bare))
    return false; // no case variant differs in these characters
  EntryFacts facts;
  if (tryExact && LookUpEntryAt(s->dirFd, name, &facts) == 0)
    return AddFound(s, name, facts);
  int fd = openat(s->dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return false;
  DIR *dir = fdopendir(fd);
  if (dir == nullptr) {
    close(fd);
    return false;
  }
  char best[256];
  return FindNoCase(dir, name, best, sizeof best) &&
         LookUpEntryAt(s->dirFd, best, &facts) == 0 && AddFound(s, best, facts);
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
  // A new expansion: what the calls before found counts no more.
  ForgetEverything();
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

  SearchState *s = NewSearch();
  if (s == nullptr)
    return INVALID_HANDLE_VALUE;
  char normal[kHostPathMax];
  char dirPath[kHostPathMax];
  char expression[kHostPathMax];
  bool ok;
  if (wild) {
    // Only the directory part is a path; the component is an expression.
    char head[kHostPathMax];
    size_t headLen = static_cast<size_t>(typedLast - pattern);
    ok = headLen < sizeof head && strlen(typedLast) < sizeof expression &&
         !(headLen == 0 && HasDrivePrefix(pattern));
    if (ok) {
      memcpy(head, pattern, headLen);
      head[headLen] = '\0';
      if (headLen == 0)
        memcpy(head, ".", 2);
      ok = NormalisePath(head, false, normal, sizeof normal) == 0 &&
           ResolveFolder(normal, dirPath, sizeof dirPath) == 0;
    }
    if (ok) {
      RewritePattern(typedLast, expression, sizeof expression);
      s->dirFd = open(dirPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      ok = s->dirFd >= 0 &&
           CollectMatches(s, expression, IsRoot(s->dirFd), bare);
    }
    if (ok)
      SortForDelivery(s);
    // Only a folder found as typed: the status query then composes the
    // same host paths that were listed.
    if (ok && !s->regularLost && strcmp(dirPath, normal) == 0) {
      KeepListing(normal, s->regular, s->regularCount);
      s->regular = nullptr;
      s->regularCount = s->regularCap = 0;
    }
  } else {
    // A last component that trims away leaves nothing to search for.
    ok = NormalisePath(pattern, true, normal, sizeof normal) == 0 &&
         strcmp(normal, "/") != 0;
    bool tryExact = true;
    if (ok && HasLastComponent(normal)) {
      char parent[kHostPathMax];
      const char *name = SplitLast(normal, parent, sizeof parent);
      ok = strlen(name) < sizeof expression && Reachable(name, bare);
      EntryFacts facts;
      if (ok && LookUpEntry(normal, &facts) == 0) {
        // Spelled as on disk: the one lookup answers the search, and the
        // status query that the driver asks next for the same entry.
        ok = AddFound(s, name, facts);
        if (ok)
          KeepEntry(normal, facts);
      } else if (ok) {
        memcpy(expression, name, strlen(name) + 1);
        ok = ResolveFolder(parent, dirPath, sizeof dirPath) == 0;
        // In the folder as typed, the lookup has just found nothing.
        tryExact = ok && strcmp(dirPath, parent) != 0;
      }
    } else if (ok) {
      ok = AncestorEntry(normal, dirPath, sizeof dirPath, expression,
                         sizeof expression);
    }
    if (ok && s->count == 0) {
      s->dirFd = open(dirPath, kLookupOnly | O_DIRECTORY | O_CLOEXEC);
      ok = s->dirFd >= 0 && CollectOne(s, expression, bare, tryExact);
    }
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
