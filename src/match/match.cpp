#include "match.h"

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

// A node for the record's entry; a directory's name gets a trailing '\'.
MatchNode *MakeNode(const FindRecord &record) {
  MatchNode *node = static_cast<MatchNode *>(malloc(sizeof(MatchNode)));
  if (node == nullptr)
    return nullptr;
  size_t len = strlen(record.name);
  size_t extra = record.directory != 0 ? 2 : 1;
  node->name = static_cast<char *>(malloc(len + extra));
  if (node->name == nullptr) {
    free(node);
    return nullptr;
  }
  memcpy(node->name, record.name, len);
  if (record.directory != 0)
    node->name[len++] = '\\';
  node->name[len] = '\0';
  node->next = nullptr;
  node->previous = nullptr;
  return node;
}

void MergeSort(MatchNode **a, MatchNode **tmp, size_t n) {
  if (n < 2)
    return;
  size_t half = n / 2;
  MergeSort(a, tmp, half);
  MergeSort(a + half, tmp, n - half);
  size_t i = 0, j = half, k = 0;
  while (i < half && j < n)
    // Taking from the left on ties keeps arrival order among equals.
    tmp[k++] = CompareNames(a[j]->name, a[i]->name) < 0 ? a[j++] : a[i++];
  while (i < half)
    tmp[k++] = a[i++];
  while (j < n)
    tmp[k++] = a[j++];
  memcpy(a, tmp, n * sizeof *a);
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
    int cx = (*x >= 'A' && *x <= 'Z') ? *x + 32 : *x;
    int cy = (*y >= 'A' && *y <= 'Z') ? *y + 32 : *y;
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
  MatchNode **tmp =
      static_cast<MatchNode **>(malloc((count ? count : 1) * sizeof *tmp));
  if (tmp == nullptr) {
    // No room to sort: insertion gives the same list, only slower.
    for (size_t i = 0; i < count; ++i)
      InsertSorted(nodes[i], list);
    return;
  }
  if (*list != nullptr) {
    for (size_t i = 0; i < count; ++i)
      InsertSorted(nodes[i], list);
    free(tmp);
    return;
  }
  MergeSort(nodes, tmp, count);
  free(tmp);
  // Insertion puts a name that equals earlier ones right after the first
  // of them: among equals the earliest stays first and the rest follow in
  // reverse order of arrival.
  for (size_t i = 0; i < count;) {
    size_t j = i + 1;
    while (j < count && CompareNames(nodes[i]->name, nodes[j]->name) == 0)
      ++j;
    for (size_t lo = i + 1, hi = j - 1; lo < hi; ++lo, --hi) {
      MatchNode *t = nodes[lo];
      nodes[lo] = nodes[hi];
      nodes[hi] = t;
    }
    i = j;
  }
  for (size_t i = 0; i < count; ++i) {
    nodes[i]->previous = i > 0 ? nodes[i - 1] : nullptr;
    nodes[i]->next = i + 1 < count ? nodes[i + 1] : nullptr;
  }
  *list = count > 0 ? nodes[0] : nullptr;
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

  // Nodes are gathered in arrival order and linked at the end; should the
  // gathering array fail to grow, the rest are inserted one by one, which
  // yields the same list.
  MatchNode **nodes = nullptr;
  size_t count = 0, capacity = 0;
  bool gathering = true;
  int step = 0;
  while (step == 0) {
    if (!IsSkippedDirectory(record)) {
      MatchNode *node = MakeNode(record);
      if (node == nullptr)
        break; // out of memory: keep what has been listed
      if (gathering && count == capacity) {
        size_t grown = capacity == 0 ? 64 : capacity * 2;
        MatchNode **bigger =
            static_cast<MatchNode **>(realloc(nodes, grown * sizeof *nodes));
        if (bigger == nullptr) {
          LinkSorted(nodes, count, list);
          gathering = false;
        } else {
          nodes = bigger;
          capacity = grown;
        }
      }
      if (gathering)
        nodes[count++] = node;
      else
        InsertSorted(node, list);
    }
    step = FindNextEntry(&record);
  }
  FindClose(record.handle);
  if (gathering)
    LinkSorted(nodes, count, list);
  free(nodes);
}

void FreeMatchList(MatchNode *first) {
  while (first != nullptr) {
    MatchNode *next = first->next;
    free(first->name);
    free(first);
    first = next;
  }
}

int CheckRegularFile(char *path) {
  size_t n = strlen(path);
  if (n > 1 && path[n - 1] == '\\')
    path[n - 1] = '\0';
  unsigned mode;
  if (QueryFileMode(path, &mode) != 0)
    return kStatusStatusFailed;
  return (mode & QUELVO_MODE_REGULAR) != 0 ? kStatusOk : kStatusNotRegularFile;
}
