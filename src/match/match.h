// Turning one command-line pattern into the sorted list of the names it
// matches, and deciding whether a composed path is a regular file.
#ifndef QUELVO_MATCH_H
#define QUELVO_MATCH_H

#include <stddef.h>

#include <string>
#include <vector>

#include "platform.h"
#include "status.h"

// The whole state of one directory search. The match list reads only the
// name and the directory bit; the time, size and short-name fields stay,
// filled on every step, as the record of a search is documented to hold
// them for any user of it (their conversion's failure leaves them zero),
// and the tests hold them to that.
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

// 0 with the first entry in record, or 1 when the search could not start
// (record->handle is then INVALID_HANDLE_VALUE).
int FindFirstEntry(const char *pattern, FindRecord *record);
// 0 with the next entry in record; 1 at the end or when the step fails,
// the record keeping the previous entry; -1 for a search never started.
int FindNextEntry(FindRecord *record);

// Classic-locale case-insensitive order: only 'A'-'Z' fold, bytes compare
// unsigned, digits as characters.
int CompareNames(const char *a, const char *b);

// The list of one pattern, each node one allocation with its name right
// after it. The program expands into a MatchStore (below) and keeps the
// folder's note; this plain form stays for any caller that wants a list it
// owns alone, and the tests hold both forms to the same order.
void ExpandPattern(const char *pattern, MatchList *list);
// Links one node in at its place: any node whose name is set, such as one
// allocated alone with its name on the heap. Every expansion links its
// list in one pass instead (LinkSorted's way); this stays as the rule that
// pass must match, node for node, which the tests check.
void InsertSorted(MatchNode *node, MatchList *list);
// Releases every node with its name: a node allocated alone with its name
// on the heap, or one of ExpandPattern's with its name inside it. Not for
// the lists of a MatchStore, which its owner releases whole.
void FreeMatchList(MatchNode *first);

// The memory of the lists the driver expands: their nodes and names in a
// few blocks rather than an allocation each, released together by the
// store's owner once the list is reported. Zero-initialised when empty.
struct Block;
struct MatchStore {
  Block *blocks;
};

// ExpandPattern into a store, handing on what the search learned of the
// folder (the caller's to free with FreeFolderNote; null when none) and,
// when the search found nothing, why (LastSearchError), else 0.
void ExpandPatternInto(MatchStore *store, const char *pattern, MatchList *list,
                       FolderNote **note, int *searchError);
// The list of one last component's matches in a held folder (see
// FindFirstFileAt).
void ExpandInFolder(MatchStore *store, FolderNote *folder,
                    const char *component, bool bare, MatchList *list);
// The subfolders of a held folder, in the order its listing delivers
// them and named as listed: neither links nor the dot entries. The
// recursive walk opens each through the folder, never by a path.
void ListSubfolders(FolderNote *folder, std::vector<std::string> *out);
void ReleaseMatchStore(MatchStore *store);

// Links an array of nodes, given in the order the search delivered them,
// into exactly the list that inserting them one by one with InsertSorted
// builds, in O(n log n) comparisons instead of O(n^2), and in one pass
// when they come already in order.
void LinkSorted(MatchNode **nodes, size_t count, MatchList *list);

// kStatusOk for a regular file, kStatusNotRegularFile for anything else
// whose status was read, kStatusQueryFailed when the status query failed.
// May drop one trailing '\' from path. The program checks through a
// record (below); this path form stays for callers without one.
StatusCode CheckRegularFile(char *path);
// The same for an open record, whose path it may shorten in place.
StatusCode CheckRegularRecord(FileRecord *record);

#endif
