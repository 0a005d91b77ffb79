// Turning one command-line pattern into the sorted list of the names it
// matches, and deciding whether a composed path is a regular file.
#ifndef QUELVO_MATCH_H
#define QUELVO_MATCH_H

#include <stddef.h>

#include "platform.h"
#include "status.h"

// The whole state of one directory search.
struct FindRecord {
  char name[260];  // the current entry's long name
  DWORD directory; // FILE_ATTRIBUTE_DIRECTORY or 0
  WORD hour;       // last-write time, local
  WORD minute;
  WORD month;
  WORD day;
  WORD year;
  DWORD size; // low 32 bits of the size
  WIN32_FIND_DATAA findData;
  HANDLE handle;      // the open search, or INVALID_HANDLE_VALUE
  char shortName[14]; // the 8.3 alternative name
};

struct MatchNode {
  MatchNode *next;
  MatchNode *previous;
  char *name; // as the search spelled it, plus '\' for a directory
};

// A list is a pointer to its first node; null is the empty list.
typedef MatchNode *MatchList;

int FindFirstEntry(const char *pattern, FindRecord *record);
int FindNextEntry(FindRecord *record);

// Classic-locale case-insensitive order: only 'A'-'Z' fold, bytes compare
// unsigned, digits as characters.
int CompareNames(const char *a, const char *b);

// The list's nodes and names live in a few blocks of its own rather than
// two allocations each; build and release lists on one thread.
void ExpandPattern(const char *pattern, MatchList *list);
// Takes any node whose name is set, such as one allocated alone with its
// name on the heap.
void InsertSorted(MatchNode *node, MatchList *list);
// Releases every node with its name: the blocks of ExpandPattern's nodes
// once, and each node allocated alone (node and name) by itself.
void FreeMatchList(MatchNode *first);

// Links an array of nodes, given in the order the search delivered them,
// into exactly the list that inserting them one by one with InsertSorted
// builds, in O(n log n) comparisons instead of O(n^2), and in one pass
// when they come already in order.
void LinkSorted(MatchNode **nodes, size_t count, MatchList *list);

// 0 for a regular file, 107 for anything else whose status was read, 110
// when the status query failed. May drop one trailing '\' from path.
int CheckRegularFile(char *path);

#endif
