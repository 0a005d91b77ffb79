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

// Each node of the list is one allocation, its name right after it.
void ExpandPattern(const char *pattern, MatchList *list);
// Takes any node whose name is set, such as one allocated alone with its
// name on the heap. The program links its lists with LinkSorted; this
// stays as the one-node form that the tests hold LinkSorted to.
void InsertSorted(MatchNode *node, MatchList *list);
// Releases every node with its name: a node allocated alone with its name
// on the heap, or one of ExpandPattern's with its name inside it. Not for
// the lists of a MatchStore.
void FreeMatchList(MatchNode *first);

// The memory of the lists the driver expands: their nodes and names in a
// few blocks rather than an allocation each, released together by the
// store's owner once the list is reported. Zero-initialised when empty.
struct Block;
struct MatchStore {
  Block *blocks;
};

// ExpandPattern into a store, handing on what the search learned of the
// folder (the caller's to free with FreeFolderNote; null when none).
void ExpandPatternInto(MatchStore *store, const char *pattern, MatchList *list,
                       FolderNote **note);
// The list of one last component's matches in a held folder (see
// FindFirstFileAt).
void ExpandInFolder(MatchStore *store, FolderNote *folder,
                    const char *component, bool bare, MatchList *list);
void ReleaseMatchStore(MatchStore *store);

// Links an array of nodes, given in the order the search delivered them,
// into exactly the list that inserting them one by one with InsertSorted
// builds, in O(n log n) comparisons instead of O(n^2), and in one pass
// when they come already in order.
void LinkSorted(MatchNode **nodes, size_t count, MatchList *list);

// 0 for a regular file, 107 for anything else whose status was read, 110
// when the status query failed. May drop one trailing '\' from path.
int CheckRegularFile(char *path);
// The same for an open record, whose path it may shorten in place.
int CheckRegularRecord(FileRecord *record);

#endif
