#include "match.h"

#include "ascii_case.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

namespace {

// Copies the current find data into the record's own fields.
void FillRecord(FindRecord *record) {
  FILETIME local;
  SYSTEMTIME when;
  memset(&when, 0, sizeof when);
  // A time that cannot be converted leaves the fields zero; nothing in
  // the program reads them.
  if (FileTimeToLocalFileTime(&record->findData.ftLastWriteTime, &local))
    FileTimeToSystemTime(&local, &when);
  record->hour = when.wHour;
  record->minute = when.wMinute;
  record->month = when.wMonth;
  record->day = when.wDay;
  record->year = when.wYear;
  record->size = record->findData.nFileSizeLow;
  record->directory =
      record->findData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
  memcpy(record->name, record->findData.cFileName, sizeof record->name);
  record->name[sizeof record->name - 1] = '\0';
}

bool IsSkippedDirectory(const FindRecord &record) {
  return record.directory != 0 && record.name[0] == '.';
}

} // namespace

// The lists expanded into a store keep their names and their nodes in
// blocks rather than in two allocations per entry. While the search runs,
// only names are stored, back to back; the nodes follow once it has ended
// and released its own copy of the names, so that the two copies and the
// nodes are never all held at once.
struct Block {
  Block *next; // the following block on the store's chain
  size_t size; // usable bytes after this header
  size_t used;
};

namespace {

const size_t kFirstNameBlock = 4096;
const size_t kLargestNameBlock = 256 * 1024;

unsigned char *BlockBytes(Block *block) {
  return reinterpret_cast<unsigned char *>(block + 1);
}

Block *NewBlock(size_t size) {
  Block *block = static_cast<Block *>(malloc(sizeof(Block) + size));
  if (block != nullptr) {
    block->next = nullptr;
    block->size = size;
    block->used = 0;
  }
  return block;
}

void FreeChain(Block *block) {
  while (block != nullptr) {
    Block *next = block->next;
    free(block);
    block = next;
  }
}

// The names of one expansion, in arrival order.
struct NameStore {
  Block *first;
  Block *last;
  size_t count;
  size_t nextSize;
};

// Stores the record's name; a directory's gets a trailing '\'. False when
// no block can be had.
bool AddName(NameStore *store, const FindRecord &record) {
  size_t len = strlen(record.name);
  size_t size = len + (record.directory != 0 ? 2 : 1);
  Block *block = store->last;
  if (block == nullptr || block->size - block->used < size) {
    block = NewBlock(store->nextSize > size ? store->nextSize : size);
    if (block == nullptr)
      return false;
    if (store->last != nullptr)
      store->last->next = block;
    else
      store->first = block;
    store->last = block;
    if (store->nextSize < kLargestNameBlock)
      store->nextSize *= 2;
  }
  char *name = reinterpret_cast<char *>(BlockBytes(block) + block->used);
  memcpy(name, record.name, len);
  if (record.directory != 0)
    name[len++] = '\\';
  name[len] = '\0';
  block->used += size;
  ++store->count;
  return true;
}

// Makes a node for every stored name, chained through next in arrival
// order, in blocks that go to the match store with the name blocks. Should
// memory run short, the chain holds the names that got a node, from the
// first on.
MatchNode *MakeNodes(NameStore *store, MatchStore *owner) {
  MatchNode *chain = nullptr;
  MatchNode **tail = &chain;
  Block *names = store->first;
  size_t offset = 0;
  size_t left = store->count;
  while (left > 0) {
    size_t want = left;
    Block *block = nullptr;
    while (want > 0 &&
           (want > SIZE_MAX / sizeof(MatchNode) - sizeof(Block) ||
            (block = NewBlock(want * sizeof(MatchNode))) == nullptr))
      want /= 2;
    if (block == nullptr)
      break;
    block->next = owner->blocks;
    owner->blocks = block;
    MatchNode *nodes = reinterpret_cast<MatchNode *>(BlockBytes(block));
    for (size_t i = 0; i < want; ++i) {
      while (offset == names->used) {
        names = names->next;
        offset = 0;
      }
      MatchNode *node = &nodes[i];
      node->name = reinterpret_cast<char *>(BlockBytes(names) + offset);
      node->previous = nullptr;
      offset += strlen(node->name) + 1;
      *tail = node;
      tail = &node->next;
    }
    left -= want;
  }
  *tail = nullptr;
  if (store->last != nullptr) {
    store->last->next = owner->blocks;
    owner->blocks = store->first;
  }
  return chain;
}

// Cuts the chain after its first run of names in order; returns the rest.
MatchNode *CutRun(MatchNode *run) {
  while (run->next != nullptr && CompareNames(run->name, run->next->name) <= 0)
    run = run->next;
  MatchNode *rest = run->next;
  run->next = nullptr;
  return rest;
}

// Merges two sorted chains; among equal names those of a, which arrived
// earlier, go first.
MatchNode *Merge(MatchNode *a, MatchNode *b) {
  MatchNode *head = nullptr;
  MatchNode **link = &head;
  while (a != nullptr && b != nullptr) {
    if (CompareNames(b->name, a->name) < 0) {
      *link = b;
      b = b->next;
    } else {
      *link = a;
      a = a->next;
    }
    link = &(*link)->next;
  }
  *link = a != nullptr ? a : b;
  return head;
}

// Sorts a chain linked through next in arrival order, keeping arrival
// order among equal names. The runs already in order are merged, so a
// search that delivers names in list order costs one pass.
MatchNode *SortChain(MatchNode *chain) {
  // A chain in order already (a name typed literally, a folder listed in
  // order) is one run: nothing to merge.
  MatchNode *rest = chain == nullptr ? nullptr : CutRun(chain);
  if (rest == nullptr)
    return chain;
  // pending[k] merges 2^k runs, every one of which arrived before those in
  // the lower slots.
  MatchNode *pending[sizeof(size_t) * 8] = {};
  pending[0] = chain;
  chain = rest;
  while (chain != nullptr) {
    MatchNode *run = chain;
    chain = CutRun(run);
    size_t k = 0;
    for (; pending[k] != nullptr; ++k) {
      run = Merge(pending[k], run);
      pending[k] = nullptr;
    }
    pending[k] = run;
  }
  MatchNode *sorted = nullptr;
  for (MatchNode *older : pending)
    if (older != nullptr)
      sorted = sorted == nullptr ? older : Merge(older, sorted);
  return sorted;
}

// Links a chain in arrival order into the list that inserting its nodes
// one by one with InsertSorted builds.
MatchNode *LinkChain(MatchNode *chain) {
  MatchNode *sorted = SortChain(chain);
  // Insertion puts a name that equals earlier ones right after the first
  // of them: among equals the earliest stays first and the rest follow in
  // reverse order of arrival.
  for (MatchNode *first = sorted; first != nullptr;) {
    MatchNode *n = first->next;
    if (n == nullptr || CompareNames(first->name, n->name) != 0) {
      first = n;
      continue;
    }
    MatchNode *groupLast = n, *reversed = nullptr;
    while (n != nullptr && CompareNames(first->name, n->name) == 0) {
      MatchNode *next = n->next;
      n->next = reversed;
      reversed = n;
      n = next;
    }
    first->next = reversed;
    groupLast->next = n;
    first = n;
  }
  MatchNode *previous = nullptr;
  for (MatchNode *n = sorted; n != nullptr; n = n->next) {
    n->previous = previous;
    previous = n;
  }
  return sorted;
}

// Makes a node that owns its name in one allocation, the name right after
// it: FreeMatchList knows such a node by that.
MatchNode *NewNodeAlone(const FindRecord &record) {
  size_t len = strlen(record.name);
  size_t size = len + (record.directory != 0 ? 2 : 1);
  MatchNode *node = static_cast<MatchNode *>(malloc(sizeof(MatchNode) + size));
  if (node == nullptr)
    return nullptr;
  char *name = reinterpret_cast<char *>(node + 1);
  memcpy(name, record.name, len);
  if (record.directory != 0)
    name[len++] = '\\';
  name[len] = '\0';
  node->name = name;
  node->next = node->previous = nullptr;
  return node;
}

// Stores every entry of a search begun on record, then ends it; the note
// of what it listed is taken first when asked for.
MatchList CollectInto(MatchStore *owner, FindRecord *record,
                      FolderNote **note) {
  NameStore store = {nullptr, nullptr, 0, kFirstNameBlock};
  int step = 0;
  while (step == 0) {
    if (!IsSkippedDirectory(*record) && !AddName(&store, *record))
      break; // out of memory: keep what has been listed
    step = FindNextEntry(record);
  }
  if (note != nullptr)
    *note = TakeFolderNote(record->handle);
  FindClose(record->handle);
  return LinkChain(MakeNodes(&store, owner));
}

} // namespace

int FindFirstEntry(const char *pattern, FindRecord *record) {
  record->handle = FindFirstFileA(pattern, &record->findData);
  if (record->handle == INVALID_HANDLE_VALUE)
    return 1;
  FillRecord(record);
  return 0;
}

int FindNextEntry(FindRecord *record) {
  if (record->handle == INVALID_HANDLE_VALUE)
    return -1;
  if (!FindNextFileA(record->handle, &record->findData))
    return 1;
  FillRecord(record);
  memcpy(record->shortName, record->findData.cAlternateFileName,
         sizeof record->shortName);
  record->shortName[sizeof record->shortName - 1] = '\0';
  return 0;
}

int CompareNames(const char *a, const char *b) {
  const unsigned char *x = reinterpret_cast<const unsigned char *>(a);
  const unsigned char *y = reinterpret_cast<const unsigned char *>(b);
  for (;; ++x, ++y) {
    int cx = LowerAscii(*x);
    int cy = LowerAscii(*y);
    if (cx != cy)
      return cx - cy;
    if (cx == 0)
      return 0;
  }
}

void InsertSorted(MatchNode *node, MatchList *list) {
  if (*list == nullptr) {
    node->next = nullptr;
    node->previous = nullptr;
    *list = node;
    return;
  }
  MatchNode *current = *list;
  while (CompareNames(node->name, current->name) > 0 &&
         current->next != nullptr)
    current = current->next;
  if (CompareNames(node->name, current->name) < 0) {
    node->next = current;
    node->previous = current->previous;
    if (current->previous != nullptr)
      current->previous->next = node;
    else
      *list = node;
    current->previous = node;
  } else {
    node->next = current->next;
    node->previous = current;
    if (current->next != nullptr)
      current->next->previous = node;
    current->next = node;
  }
}

void LinkSorted(MatchNode **nodes, size_t count, MatchList *list) {
  if (*list != nullptr) {
    for (size_t i = 0; i < count; ++i)
      InsertSorted(nodes[i], list);
    return;
  }
  for (size_t i = 0; i < count; ++i)
    nodes[i]->next = i + 1 < count ? nodes[i + 1] : nullptr;
  *list = LinkChain(count > 0 ? nodes[0] : nullptr);
}

void ExpandPattern(const char *pattern, MatchList *list) {
  *list = nullptr;
  char copy[260];
  size_t len = strlen(pattern);
  if (len >= sizeof copy)
    return; // cannot be searched without cutting it: matches nothing
  memcpy(copy, pattern, len + 1);
  FindRecord record;
  if (FindFirstEntry(copy, &record) != 0)
    return;
  MatchNode *chain = nullptr;
  MatchNode **tail = &chain;
  int step = 0;
  while (step == 0) {
    if (!IsSkippedDirectory(record)) {
      MatchNode *node = NewNodeAlone(record);
      if (node == nullptr)
        break; // out of memory: keep what has been listed
      *tail = node;
      tail = &node->next;
    }
    step = FindNextEntry(&record);
  }
  FindClose(record.handle);
  *list = LinkChain(chain);
}

void ExpandPatternInto(MatchStore *store, const char *pattern, MatchList *list,
                       FolderNote **note, int *searchError) {
  *list = nullptr;
  *note = nullptr;
  *searchError = 0;
  char copy[260];
  size_t len = strlen(pattern);
  if (len >= sizeof copy)
    return; // cannot be searched without cutting it: matches nothing
  memcpy(copy, pattern, len + 1);
  FindRecord record;
  if (FindFirstEntry(copy, &record) != 0) {
    *searchError = LastSearchError();
    return;
  }
  *list = CollectInto(store, &record, note);
}

void ExpandInFolder(MatchStore *store, FolderNote *folder,
                    const char *component, bool bare, MatchList *list) {
  *list = nullptr;
  FindRecord record;
  record.handle = FindFirstFileAt(folder, component, bare, &record.findData);
  if (record.handle == INVALID_HANDLE_VALUE)
    return;
  FillRecord(&record);
  *list = CollectInto(store, &record, nullptr);
}

void ListSubfolders(FolderNote *folder, std::vector<std::string> *out) {
  WIN32_FIND_DATAA found;
  HANDLE handle = FindFirstFileAt(folder, "*", false, &found);
  if (handle == INVALID_HANDLE_VALUE)
    return;
  do {
    const char *name = found.cFileName;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
      continue;
    out->push_back(name);
  } while (FindNextFileA(handle, &found));
  FindClose(handle);
}

void ReleaseMatchStore(MatchStore *store) {
  FreeChain(store->blocks);
  store->blocks = nullptr;
}

void FreeMatchList(MatchNode *first) {
  while (first != nullptr) {
    MatchNode *next = first->next;
    if (first->name != reinterpret_cast<char *>(first + 1))
      free(first->name);
    free(first);
    first = next;
  }
}

StatusCode CheckRegularRecord(FileRecord *record) {
  char *path = record->path;
  size_t n = strlen(path);
  if (n > 1 && path[n - 1] == '\\')
    path[n - 1] = '\0';
  unsigned mode;
  if (QueryRecordMode(record, &mode) != 0)
    return kStatusQueryFailed;
  return (mode & QUELVO_MODE_REGULAR) != 0 ? kStatusOk : kStatusNotRegularFile;
}

StatusCode CheckRegularFile(char *path) {
  FileRecord record;
  OpenFileRecord(&record, path, nullptr, nullptr);
  StatusCode status = CheckRegularRecord(&record);
  CloseFileRecord(&record);
  return status;
}
