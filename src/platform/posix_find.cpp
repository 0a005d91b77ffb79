// Directory search over a folder descriptor, answering as the Windows
// search does: one entry for a name without wildcards, every match of a
// pattern otherwise, "." and ".." included except at the root. A search
// lists its folder into a note, which the reports of what it delivered
// take over, or searches inside a note that a recursive walk holds.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef __linux__
#include <stddef.h>
#include <sys/syscall.h>
#endif

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <utility>

#include "platform.h"
#include "posix_path.h"
#include "posix_record.h"
#include "posix_time.h"
#include "wildcard.h"

namespace {

// Opens a directory for looking names up in it without reading it.
#ifdef O_PATH
const int kLookupOnly = O_PATH;
#else
const int kLookupOnly = O_RDONLY;
#endif

// A search delivers the listed entries that match its expression, each
// found as it is asked for, so that nothing beside the listing is held
// per entry while the caller builds its own list; or the one entry a
// lookup found.
// NewSearch starts each field but the buffers by hand: a field added here
// starts there too.
struct SearchState {
  FolderNote *folder;
  bool ownsFolder; // a search by path: the note is the search's until taken
  size_t next;     // the listing's next entry to try
  bool bare;
  char expression[kHostPathMax];
  // What the lookup of a name without wildcards found, for its times and
  // size; a listing answers only with names and types.
  bool single;
  bool singleDelivered;
  char singleName[256];
  DWORD singleAttributes;
  EntryFacts singleFacts;
};

// A note and a search are some 5 KiB each, nearly all of it a path buffer
// and a name buffer written before they are read: a walk makes two
// searches and a note for every folder, so only the rest starts cleared.
FolderNote *NewNote() {
  FolderNote *note = static_cast<FolderNote *>(malloc(sizeof(FolderNote)));
  if (note == nullptr)
    return nullptr;
  note->dirFd = -1;
  note->lookupOnly = false;
  note->searchable = false;
  note->device = 0;
  note->inode = 0;
  note->atRoot = false;
  note->rootKnown = false;
  note->rootDevice = 0;
  note->rootInode = 0;
  note->listed = false;
  note->names = nullptr;
  note->namesUsed = note->namesCap = 0;
  note->entries = nullptr;
  note->count = note->cap = 0;
  note->regular = nullptr;
  note->regularCount = 0;
  note->regularLost = false;
  note->haveFound = false;
  note->foundName[0] = '\0';
  note->foundHost[0] = '\0';
  note->foundFacts = EntryFacts();
  return note;
}

void DropListing(FolderNote *note) {
  free(note->names);
  free(note->entries);
  note->names = nullptr;
  note->entries = nullptr;
  note->namesUsed = note->namesCap = note->count = note->cap = 0;
}

bool IsDotName(const char *name) {
  return name[0] == '.' &&
         (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// A name's byte in the delivery order: ASCII letters in upper case.
inline unsigned char DeliveryByte(char c) {
  return UpperAscii(static_cast<unsigned char>(c));
}

// readdir hands names out in hash order. Deliver them as NTFS would: the
// dot entries first, then by upper-cased name, ties by their bytes, so that
// every run lists equal names alike. The recursive walk goes through the
// folders in this order. The match list's own order (lower case, a
// directory with its '\\') differs only around the characters between 'Z'
// and 'a' and where a directory's name begins another, so the list takes
// what arrives in one pass, or in a few runs, rather than sort it again.
bool DeliveryBefore(const char *a, const char *b) {
  bool dotA = IsDotName(a), dotB = IsDotName(b);
  if (dotA || dotB)
    return dotA && (!dotB || strlen(a) < strlen(b)); // "." before ".."
  for (const char *x = a, *y = b;; ++x, ++y) {
    unsigned char cx = DeliveryByte(*x), cy = DeliveryByte(*y);
    if (cx != cy)
      return cx < cy;
    if (cx == 0)
      break;
  }
  return strcmp(a, b) < 0;
}

// A name's first eight bytes in the delivery order, padded with zeros, as
// one number: numbers in order are names in order, and most comparisons of
// a sort end there instead of in the names.
uint64_t OrderPrefix(const char *name) {
  uint64_t key = 0;
  bool ended = false;
  for (int i = 0; i < 8; ++i) {
    unsigned char c = ended ? 0 : DeliveryByte(name[i]);
    ended = c == 0;
    key = (key << 8) | c;
  }
  return key;
}

struct SortEntry {
  uint64_t prefix;
  ListedEntry entry;
};

// Puts the listed names in delivery order: the dot entries, then the rest
// sorted on their prefixes, the names themselves deciding only between
// equal prefixes. Without memory for the prefixes, on the names.
void SortForDelivery(FolderNote *note) {
  const char *base = note->names;
  ListedEntry *e = note->entries;
  size_t dots = 0;
  for (size_t i = 0; i < note->count; ++i)
    if (IsDotName(base + e[i].offset))
      std::swap(e[i], e[dots++]);
  auto before = [base](const ListedEntry &a, const ListedEntry &b) {
    return DeliveryBefore(base + a.offset, base + b.offset);
  };
  std::sort(e, e + dots, before);
  size_t rest = note->count - dots;
  SortEntry *keyed =
      rest > SIZE_MAX / sizeof(SortEntry)
          ? nullptr
          : static_cast<SortEntry *>(malloc(rest * sizeof(SortEntry)));
  if (keyed == nullptr) {
    std::sort(e + dots, e + note->count, before);
    return;
  }
  for (size_t i = 0; i < rest; ++i)
    keyed[i] = {OrderPrefix(base + e[dots + i].offset), e[dots + i]};
  std::sort(
      keyed, keyed + rest, [base](const SortEntry &a, const SortEntry &b) {
        if (a.prefix != b.prefix)
          return a.prefix < b.prefix;
        return DeliveryBefore(base + a.entry.offset, base + b.entry.offset);
      });
  for (size_t i = 0; i < rest; ++i)
    e[dots + i] = keyed[i].entry;
  free(keyed);
}

bool NoteRegular(FolderNote *note, const char *name, size_t *cap) {
  if (note->regularCount == *cap) {
    size_t grown = *cap == 0 ? 256 : *cap * 2;
    uint64_t *keys = static_cast<uint64_t *>(
        grown > SIZE_MAX / sizeof(uint64_t)
            ? nullptr
            : realloc(note->regular, grown * sizeof(uint64_t)));
    if (keys == nullptr)
      return false;
    note->regular = keys;
    *cap = grown;
  }
  note->regular[note->regularCount++] = ListingKey(name);
  return true;
}

bool AddListed(FolderNote *note, const char *name, unsigned char type) {
  size_t len = strlen(name) + 1;
  // Offsets are 32 bits: a listing's names beyond 4 GiB cannot be held.
  if (len > UINT32_MAX - note->namesUsed)
    return false;
  if (note->namesCap - note->namesUsed < len) {
    size_t cap = note->namesCap == 0 ? 4096 : note->namesCap * 2;
    while (cap - note->namesUsed < len)
      cap *= 2;
    char *grown = static_cast<char *>(realloc(note->names, cap));
    if (grown == nullptr)
      return false;
    note->names = grown;
    note->namesCap = cap;
  }
  if (note->count == note->cap) {
    size_t cap = note->cap == 0 ? 64 : note->cap * 2;
    ListedEntry *grown = static_cast<ListedEntry *>(
        realloc(note->entries, cap * sizeof(ListedEntry)));
    if (grown == nullptr)
      return false;
    note->entries = grown;
    note->cap = cap;
  }
  memcpy(note->names + note->namesUsed, name, len);
  note->entries[note->count++] = {static_cast<uint32_t>(note->namesUsed), type};
  note->namesUsed += len;
  return true;
}

#ifdef __linux__
// Reads the entries straight from the note's own descriptor (opened to
// read, at its start, and listed only once): a directory stream takes a
// descriptor of its own, which costs five system calls a folder, more
// than the listing of a small one. The records are the kernel's
// linux_dirent64, which glibc's dirent64 lays out.
int ReadEntries(FolderNote *note, size_t *regularCap) {
  const size_t kReclen = offsetof(struct dirent64, d_reclen);
  const size_t kType = offsetof(struct dirent64, d_type);
  const size_t kName = offsetof(struct dirent64, d_name);
  alignas(8) unsigned char buffer[32768];
  for (;;) {
    long got = syscall(SYS_getdents64, note->dirFd, buffer, sizeof buffer);
    if (got < 0)
      return errno;
    if (got == 0)
      return 0;
    size_t end = static_cast<size_t>(got);
    for (size_t pos = 0; pos < end;) {
      uint16_t reclen;
      if (end - pos <= kName)
        return EIO;
      memcpy(&reclen, buffer + pos + kReclen, sizeof reclen);
      if (reclen <= kName || reclen > end - pos)
        return EIO;
      const char *name = reinterpret_cast<const char *>(buffer + pos + kName);
      if (memchr(name, 0, reclen - kName) == nullptr)
        return EIO;
      unsigned char type = buffer[pos + kType];
      if (!AddListed(note, name, type))
        return ENOMEM;
      if (type == DT_REG && !note->regularLost &&
          !NoteRegular(note, name, regularCap))
        note->regularLost = true;
      pos += reclen;
    }
  }
}
#else
int ReadEntries(FolderNote *note, size_t *regularCap) {
  int fd = openat(note->dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return errno;
  DIR *dir = fdopendir(fd);
  if (dir == nullptr) {
    int error = errno;
    close(fd);
    return error;
  }
  int error = 0;
  errno = 0;
  while (struct dirent *entry = readdir(dir)) {
    if (!AddListed(note, entry->d_name, entry->d_type)) {
      error = ENOMEM;
      break;
    }
    if (entry->d_type == DT_REG && !note->regularLost &&
        !NoteRegular(note, entry->d_name, regularCap))
      note->regularLost = true;
    errno = 0;
  }
  if (error == 0 && errno != 0)
    error = errno;
  closedir(dir);
  return error;
}
#endif

// Reads the whole folder once: every name with its listed type, in
// delivery order, and the keys of the regular files among them.
int ListFolder(FolderNote *note) {
  if (note->listed)
    return 0;
  if (note->dirFd < 0 || note->lookupOnly || !note->searchable)
    return EACCES;
  size_t regularCap = 0;
  int error = ReadEntries(note, &regularCap);
  if (error != 0) {
#ifdef __linux__
    // A listing asked for again starts from the first entry.
    lseek(note->dirFd, 0, SEEK_SET);
#endif
    DropListing(note);
    note->regularCount = 0;
    return error;
  }
  if (note->regularLost)
    note->regularCount = 0;
  std::sort(note->regular, note->regular + note->regularCount);
  SortForDelivery(note);
  note->listed = true;
  return 0;
}

// Whether a name holds '\\', '*' or '?'. Asked of every entry a search
// delivers, most of them a couple of dozen bytes long: looked for all
// three at once, which costs less than a search for a set of bytes.
bool HoldsSearchSyntax(const char *name, size_t len) {
  size_t i = 0;
#ifdef __SSE2__
  // Sixteen bytes at a time (every x86-64), the last sixteen taken whole.
  if (len >= 16) {
    const __m128i kBackslash = _mm_set1_epi8('\\'), kStar = _mm_set1_epi8('*'),
                  kQuestion = _mm_set1_epi8('?');
    for (;; i += 16) {
      if (len - i < 16)
        i = len - 16;
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(name + i));
      __m128i hit = _mm_or_si128(
          _mm_cmpeq_epi8(v, kBackslash),
          _mm_or_si128(_mm_cmpeq_epi8(v, kStar), _mm_cmpeq_epi8(v, kQuestion)));
      if (_mm_movemask_epi8(hit) != 0)
        return true;
      if (len - i == 16)
        return false;
    }
  }
#endif
  for (; i < len; ++i)
    if (name[i] == '\\' || name[i] == '*' || name[i] == '?')
      return true;
  return false;
}

// Whether the path the driver composes for a name, a directory prefix
// followed by the name, leads the status query and the version service
// back to this same entry. A '\' in a name reads as a separator, '*' and
// '?' fail the status query, and a name listed without a prefix whose
// second character is a colon reads as a drive: the search passes such
// names over rather than have another file, or none, answer for them.
bool Reachable(const char *name, size_t len, bool bare) {
  return !HoldsSearchSyntax(name, len) && !(bare && len >= 2 && name[1] == ':');
}

bool Reachable(const char *name, bool bare) {
  return Reachable(name, strlen(name), bare);
}

// An entry's attributes, links followed for whether it is a directory (a
// dangling link is a file): the listing's type says so for all but links
// and file systems that leave the type unknown. False when it vanished
// meanwhile.
bool Attributes(const FolderNote *note, const char *name, unsigned char type,
                DWORD *attributes) {
  bool directory = type == DT_DIR;
  bool link = type == DT_LNK;
  if (type == DT_LNK || type == DT_UNKNOWN) {
    EntryFacts facts;
    if (LookUpEntryAt(note->dirFd, name, &facts) != 0)
      return false;
    directory = S_ISDIR(facts.st.st_mode);
    link = facts.link;
  }
  *attributes =
      (directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE) |
      (link ? FILE_ATTRIBUTE_REPARSE_POINT : 0u);
  return true;
}

// Sets the search to deliver the listed entries whose names the
// expression matches, in delivery order.
bool PickMatches(SearchState *s, const char *expression, bool bare) {
  size_t len = strlen(expression);
  if (len >= sizeof s->expression)
    return false;
  memcpy(s->expression, expression, len + 1);
  s->bare = bare;
  s->next = 0;
  return true;
}

// Delivers the one entry a lookup found, with what it is.
bool PickFound(SearchState *s, const char *name, const EntryFacts &facts) {
  size_t len = strlen(name);
  if (len >= sizeof s->singleName)
    return false;
  memcpy(s->singleName, name, len + 1);
  s->single = true;
  s->singleDelivered = false;
  s->singleFacts = facts;
  s->singleAttributes = (S_ISDIR(facts.st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY
                                                   : FILE_ATTRIBUTE_ARCHIVE) |
                        (facts.link ? FILE_ATTRIBUTE_REPARSE_POINT : 0u);
  return true;
}

// The entry of a listed folder that differs from name only in ASCII case,
// the first in byte order when there are several, never "." or "..".
const char *ListedNoCase(const FolderNote *note, const char *name) {
  const char *best = nullptr;
  for (size_t i = 0; i < note->count; ++i) {
    const char *listed = note->names + note->entries[i].offset;
    if (!IsDotName(listed) && EqualNoCaseAscii(listed, name) &&
        (best == nullptr || strcmp(listed, best) < 0))
      best = listed;
  }
  return best;
}

// Finds the one entry a wildcard-free name designates: exact case first,
// which needs only the right to search the folder (unless the caller has
// just found nothing spelled so there); only a name that differs in case
// from the disk needs the folder read.
bool PickOne(SearchState *s, const char *name, bool bare, bool tryExact) {
  if (!Reachable(name, bare))
    return false; // no case variant differs in these characters
  FolderNote *note = s->folder;
  EntryFacts facts;
  if (tryExact && LookUpEntryAt(note->dirFd, name, &facts) == 0)
    return PickFound(s, name, facts);
  if (note->listed) {
    const char *best = ListedNoCase(note, name);
    return best != nullptr && LookUpEntryAt(note->dirFd, best, &facts) == 0 &&
           PickFound(s, best, facts);
  }
  int fd = openat(note->dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return false;
  DIR *dir = fdopendir(fd);
  if (dir == nullptr) {
    close(fd);
    return false;
  }
  char best[256];
  return FindNoCase(dir, name, best, sizeof best) &&
         LookUpEntryAt(note->dirFd, best, &facts) == 0 &&
         PickFound(s, best, facts);
}

SearchState *NewSearch(FolderNote *folder, bool owns) {
  SearchState *s = static_cast<SearchState *>(malloc(sizeof(SearchState)));
  if (s == nullptr) {
    if (owns)
      FreeFolderNote(folder);
    return nullptr;
  }
  s->folder = folder;
  s->ownsFolder = owns;
  s->next = 0;
  s->bare = false;
  s->expression[0] = '\0';
  s->single = false;
  s->singleDelivered = false;
  s->singleName[0] = '\0';
  s->singleAttributes = 0;
  s->singleFacts = EntryFacts();
  return s;
}

void FreeSearch(SearchState *s) {
  if (s->ownsFolder)
    FreeFolderNote(s->folder);
  free(s);
}

// Fills the find data of one delivered entry, with its times and size
// when they are known.
void FillFound(const char *name, size_t len, DWORD attributes,
               const EntryFacts *facts, WIN32_FIND_DATAA *fd) {
  memset(fd, 0, sizeof *fd);
  bool directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  fd->dwFileAttributes = attributes;
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
  memcpy(fd->cFileName, name, len);
  fd->cFileName[len] = '\0';
}

bool DeliverNext(SearchState *s, WIN32_FIND_DATAA *fd) {
  if (s->single) {
    if (s->singleDelivered)
      return false;
    s->singleDelivered = true;
    FillFound(s->singleName, strlen(s->singleName), s->singleAttributes,
              &s->singleFacts, fd);
    return true;
  }
  const FolderNote *note = s->folder;
  while (s->next < note->count) {
    const ListedEntry &entry = note->entries[s->next++];
    const char *name = note->names + entry.offset;
    DWORD attributes;
    if ((note->atRoot && IsDotName(name)) ||
        !MatchExpression(s->expression, name))
      continue;
    size_t len = strlen(name);
    if (!Reachable(name, len, s->bare) ||
        !Attributes(note, name, entry.type, &attributes))
      continue;
    FillFound(name, len, attributes, nullptr, fd);
    return true;
  }
  return false;
}

HANDLE Deliver(SearchState *s, bool ok, WIN32_FIND_DATAA *findData) {
  if (!ok || !DeliverNext(s, findData)) {
    // Why, for LastSearchError: what the call that gave up said, or that
    // nothing matched.
    int why = errno;
    FreeSearch(s);
    errno = why == 0 || why == EINVAL ? ENOENT : why;
    return INVALID_HANDLE_VALUE;
  }
  return s;
}

// The root lists no "." or ".." entries, however a path reaches it (a
// bind mount of it inside the tree too). Its identity is taken from the
// note of the folder above where that has it.
bool IsRoot(FolderNote *note, const struct stat &dir, const FolderNote *above) {
  if (above != nullptr && above->rootKnown) {
    note->rootKnown = true;
    note->rootDevice = above->rootDevice;
    note->rootInode = above->rootInode;
  } else {
    struct stat root;
    if (stat("/", &root) != 0)
      return false;
    note->rootKnown = true;
    note->rootDevice = root.st_dev;
    note->rootInode = root.st_ino;
  }
  return dir.st_dev == note->rootDevice && dir.st_ino == note->rootInode;
}

// Opens a folder into a note: for reading, or, where it may only be
// searched, for looking names up. above: the note of the folder dirFd
// holds, when there is one.
bool OpenNoteAt(FolderNote *note, int dirFd, const char *name, int extra,
                const FolderNote *above = nullptr) {
  note->dirFd = openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | extra);
  if (note->dirFd < 0 && errno == EACCES) {
    note->dirFd =
        openat(dirFd, name, kLookupOnly | O_DIRECTORY | O_CLOEXEC | extra);
    note->lookupOnly = true;
  }
  if (note->dirFd < 0)
    return false;
  // Asked through "." rather than of the descriptor: the lookup fails
  // where the folder may be read but not searched, as its listing must.
  struct stat st;
  note->searchable = fstatat(note->dirFd, ".", &st, 0) == 0;
  if (!note->searchable && fstat(note->dirFd, &st) != 0)
    return false;
  note->device = st.st_dev;
  note->inode = st.st_ino;
  note->atRoot = IsRoot(note, st, above);
  return true;
}

// Keeps the entry a lookup found for the status query of its report.
void NoteFound(FolderNote *note, const SearchState *s, const char *host) {
  size_t len = strlen(host);
  if (!s->single || len >= sizeof note->foundHost)
    return;
  note->haveFound = true;
  memcpy(note->foundName, s->singleName, strlen(s->singleName) + 1);
  memcpy(note->foundHost, host, len + 1);
  note->foundFacts = s->singleFacts;
}

// Appends "/name" to a folder path into out ("name" alone for "."). False
// when it does not fit.
bool JoinHost(const char *dir, const char *name, char *out, size_t size) {
  int n = strcmp(dir, ".") == 0   ? snprintf(out, size, "%s", name)
          : strcmp(dir, "/") == 0 ? snprintf(out, size, "/%s", name)
                                  : snprintf(out, size, "%s/%s", dir, name);
  return n >= 0 && static_cast<size_t>(n) < size;
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

// A search for a name without wildcards: its entry looked up as spelled
// in the one call the common case needs, or, in a folder found otherwise
// or spelled otherwise on disk, found by reading the folder.
bool SearchName(SearchState *s, const char *pattern, bool bare) {
  FolderNote *note = s->folder;
  char normal[kHostPathMax];
  char dirPath[kHostPathMax];
  char name[kHostPathMax];
  // A last component that trims away leaves nothing to search for.
  if (NormalisePath(pattern, true, normal, sizeof normal) != 0 ||
      strcmp(normal, "/") == 0)
    return false;
  bool tryExact = true;
  if (HasLastComponent(normal)) {
    char parent[kHostPathMax];
    const char *last = SplitLast(normal, parent, sizeof parent);
    if (strlen(last) >= sizeof name || !Reachable(last, bare))
      return false;
    EntryFacts facts;
    if (LookUpEntry(normal, &facts) == 0) {
      // Spelled as on disk: the one lookup answers the search, and the
      // status query of the report that follows.
      if (!PickFound(s, last, facts))
        return false;
      NoteFound(note, s, normal);
      return true;
    }
    memcpy(name, last, strlen(last) + 1);
    if (ResolveFolder(parent, dirPath, sizeof dirPath) != 0)
      return false;
    // In the folder as typed, the lookup has just found nothing.
    tryExact = strcmp(dirPath, parent) != 0;
  } else if (!AncestorEntry(normal, dirPath, sizeof dirPath, name,
                            sizeof name)) {
    return false;
  }
  note->dirFd = open(dirPath, kLookupOnly | O_DIRECTORY | O_CLOEXEC);
  note->lookupOnly = true;
  char host[kHostPathMax];
  if (note->dirFd < 0 || !PickOne(s, name, bare, tryExact))
    return false;
  if (JoinHost(dirPath, s->singleName, host, sizeof host))
    NoteFound(note, s, host);
  return true;
}

// A search for a pattern: its folder listed once, the matches picked.
bool SearchPattern(SearchState *s, const char *pattern, const char *last,
                   bool bare) {
  char head[kHostPathMax];
  char normal[kHostPathMax];
  char dirPath[kHostPathMax];
  char expression[kHostPathMax];
  size_t headLen = static_cast<size_t>(last - pattern);
  if (headLen >= sizeof head || strlen(last) >= sizeof expression ||
      (headLen == 0 && HasDrivePrefix(pattern)))
    return false;
  // Only the directory part is a path; the component is an expression.
  memcpy(head, pattern, headLen);
  head[headLen] = '\0';
  if (headLen == 0)
    memcpy(head, ".", 2);
  if (NormalisePath(head, false, normal, sizeof normal) != 0 ||
      ResolveFolder(normal, dirPath, sizeof dirPath) != 0 ||
      !OpenNoteAt(s->folder, AT_FDCWD, dirPath, 0) ||
      ListFolder(s->folder) != 0)
    return false;
  RewritePattern(last, expression, sizeof expression);
  return PickMatches(s, expression, bare);
}

} // namespace

namespace {

const uint64_t kKeyMultiplier = 0x9e3779b97f4a7c15ull;

uint64_t MixKeyWord(uint64_t h, uint64_t word) {
  h = (h ^ word) * kKeyMultiplier;
  return h ^ (h >> 29);
}

} // namespace

uint64_t ListingKey(const char *name) {
  // The status queries come in the order of the list, which is close to
  // name order: led by the name's first three bytes, case folded, the
  // sorted keys of successive queries lie side by side, so that a binary
  // search over a large folder's keys mostly finds them in the cache. The
  // rest is 40 bits of a hash of the whole name, eight bytes a step: two
  // names that begin alike share a key by a chance of about 2^-40, and a
  // name that shares one with a listed file at worst has the status query
  // open it first, which it undoes when the entry is no regular file.
  const unsigned char *p = reinterpret_cast<const unsigned char *>(name);
  size_t len = strlen(name);
  uint64_t lead = 0;
  for (size_t i = 0; i < 3 && i < len; ++i)
    lead |= static_cast<uint64_t>(UpperAscii(p[i])) << (16 - 8 * i);
  uint64_t h = 0xcbf29ce484222325ull ^ len;
  size_t i = 0;
  for (; len - i >= 8; i += 8) {
    uint64_t word;
    memcpy(&word, p + i, sizeof word);
    h = MixKeyWord(h, word);
  }
  if (i < len) {
    // The last eight bytes whole where the name has them, else byte by
    // byte: a copy of varying length costs a call.
    uint64_t word = 0;
    if (len >= 8)
      memcpy(&word, p + len - 8, sizeof word);
    else
      for (size_t j = i; j < len; ++j)
        word |= static_cast<uint64_t>(p[j]) << (8 * j);
    h = MixKeyWord(h, word);
  }
  h *= kKeyMultiplier;
  h ^= h >> 32;
  return (lead << 40) | (h >> 24);
}

bool ListedAsRegular(const FolderNote *note, const char *name) {
  size_t count = note->regularCount;
  if (count == 0)
    return false;
  uint64_t key = ListingKey(name);
  // Halved without a branch on the comparison (a conditional move): the
  // keys a walk looks up follow no pattern a predictor could learn.
  const uint64_t *base = note->regular;
  while (count > 1) {
    size_t half = count / 2;
    base = base[half] <= key ? base + half : base;
    count -= half;
  }
  return *base == key;
}

int LastSearchError() { return errno == 0 ? ENOENT : errno; }

HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA *findData) {
  errno = 0;
  size_t len = strlen(pattern);
  // An empty last component (a trailing separator, a root) finds nothing.
  if (len == 0 || IsPathSeparator(pattern[len - 1]))
    return INVALID_HANDLE_VALUE;
  const char *last = pattern + len;
  while (last > pattern && !IsPathSeparator(last[-1]))
    --last;
  bool bare = last == pattern; // names are composed without a prefix
  FolderNote *note = NewNote();
  SearchState *s = note == nullptr ? nullptr : NewSearch(note, true);
  if (s == nullptr)
    return INVALID_HANDLE_VALUE;
  bool ok = HasWildcards(last) ? SearchPattern(s, pattern, last, bare)
                               : SearchName(s, pattern, bare);
  return Deliver(s, ok, findData);
}

HANDLE FindFirstFileAt(FolderNote *folder, LPCSTR component, bool bare,
                       WIN32_FIND_DATAA *findData) {
  errno = 0;
  if (folder == nullptr || component[0] == '\0')
    return INVALID_HANDLE_VALUE;
  SearchState *s = NewSearch(folder, false);
  if (s == nullptr)
    return INVALID_HANDLE_VALUE;
  bool ok;
  if (HasWildcards(component)) {
    char expression[kHostPathMax];
    ok = strlen(component) < sizeof expression && ListFolder(folder) == 0;
    if (ok) {
      RewritePattern(component, expression, sizeof expression);
      ok = PickMatches(s, expression, bare);
    }
  } else {
    // The Windows reading of a last component: trailing dots and spaces
    // are no part of the name.
    char name[kHostPathMax];
    size_t len = strlen(component);
    while (len > 0 && (component[len - 1] == '.' || component[len - 1] == ' '))
      --len;
    ok = len > 0 && len < sizeof name;
    if (ok) {
      memcpy(name, component, len);
      name[len] = '\0';
      ok = !IsDotName(name) && PickOne(s, name, bare, true);
    }
  }
  return Deliver(s, ok, findData);
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

FolderNote *TakeFolderNote(HANDLE search) {
  if (search == INVALID_HANDLE_VALUE || search == nullptr)
    return nullptr;
  SearchState *s = static_cast<SearchState *>(search);
  if (!s->ownsFolder)
    return nullptr;
  // The delivered names live in the listing: nothing more is delivered.
  s->next = s->folder->count;
  s->singleDelivered = true;
  s->ownsFolder = false;
  FolderNote *note = s->folder;
  // The reports need the descriptor and the keys, not the names, which
  // the match list holds by now.
  DropListing(note);
  if (note->regularCount != 0)
    if (uint64_t *fitted = static_cast<uint64_t *>(
            realloc(note->regular, note->regularCount * sizeof(uint64_t))))
      note->regular = fitted;
  return note;
}

void FreeFolderNote(FolderNote *note) {
  if (note == nullptr)
    return;
  if (note->dirFd >= 0)
    close(note->dirFd);
  DropListing(note);
  free(note->regular);
  free(note);
}

FolderNote *OpenFolderNote(const char *path, int *error) {
  char normal[kHostPathMax];
  char dirPath[kHostPathMax];
  *error = ENOENT;
  if (NormalisePath(path[0] == '\0' ? "." : path, false, normal,
                    sizeof normal) != 0 ||
      ResolveFolder(normal, dirPath, sizeof dirPath) != 0)
    return nullptr;
  FolderNote *note = NewNote();
  if (note == nullptr) {
    *error = ENOMEM;
    return nullptr;
  }
  if (!OpenNoteAt(note, AT_FDCWD, dirPath, 0)) {
    *error = errno;
    FreeFolderNote(note);
    return nullptr;
  }
  return note;
}

FolderNote *OpenSubfolderNote(const FolderNote *parent, const char *name,
                              const char *, int *error) {
  FolderNote *note = NewNote();
  if (note == nullptr) {
    *error = ENOMEM;
    return nullptr;
  }
  if (!OpenNoteAt(note, parent->dirFd, name, O_NOFOLLOW, parent)) {
    // A link in the folder's place: no longer the folder that was listed.
    *error = errno == ELOOP ? ENOTDIR : errno;
    FreeFolderNote(note);
    return nullptr;
  }
  return note;
}

int ReadFolderNote(FolderNote *folder) { return ListFolder(folder); }

bool IsSameFolder(const FolderNote *a, const FolderNote *b) {
  return a->device == b->device && a->inode == b->inode;
}
