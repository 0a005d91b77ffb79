// Answers one platform call found, kept for the next call that would ask
// the file system the same question, so that a report fetches nothing
// twice when nothing can have changed in between:
//
// - the entry a search for a name without wildcards looked up, for the
//   status query of the path the driver composes from it (one use);
// - the entry the status query found for a path, for the version
//   service's open of that path (one use): neither normalised nor looked
//   for again, even when only the Windows reading of the path finds it;
// - the folders found in another case than the one typed, for the rest of
//   one expansion and the report of its list;
// - which of the names a pattern's listing delivered it listed as regular
//   files (by a 64-bit key of each name), for the rest of the expansion
//   and the report of its list: the status query may then open such a file
//   and read its status from the open file, where it would otherwise stat
//   the path and leave the version service to open and stat it again;
// - that open file, for the version service's open of the same path (one
//   use).
//
// Every search starts a new expansion and forgets them all. The status
// query and the version service each take what is meant for them and
// forget the rest, so an answer never outlives the call it was kept for.
// All of it belongs to the thread that searches and reports; the
// prefetcher's helpers never ask these services.
#ifndef QUELVO_POSIX_RECALL_H
#define QUELVO_POSIX_RECALL_H

#include <stddef.h>
#include <stdint.h>

#include "posix_path.h"

// A new expansion: nothing kept before it counts any more.
void ForgetEverything();

// The entry kept for the status query, taken (and forgotten) by it; true
// only when it was kept for this very host path.
void KeepEntry(const char *hostPath, const EntryFacts &facts);
bool TakeEntry(const char *hostPath, EntryFacts *facts);

// Where the status query found what path names, taken (and forgotten) by
// the version service; true only when it was kept for this very path.
void KeepLocation(const char *path, const char *hostPath);
bool TakeLocation(const char *path, char *hostPath, size_t hostPathSize);

// The open regular file the status query read its answer from, taken
// (and forgotten) by the version service: the descriptor and the size the
// status gave, or -1 when none was kept for this very path.
void KeepOpenFile(const char *path, int fd, uint64_t size);
int TakeOpenFile(const char *path, uint64_t *size);

// Forgets the entry, the location and the open file kept for the next
// call (closing the file).
void ForgetAnswers();

// What a pattern's listing of folder (normalised, found as typed) called
// regular files: the keys of those names, in a malloc'd array that this
// takes over. Kept until the next search.
void KeepListing(const char *folder, uint64_t *hashes, size_t count);
uint64_t ListingHash(const char *name);
// Whether a normalised path names an entry that the kept listing called a
// regular file.
bool ListedAsRegular(const char *normalised);

// A folder path, normalised as typed, and where it was found on disk.
void KeepFolder(const char *normalised, const char *resolved);
bool RecallFolder(const char *normalised, char *resolved, size_t size);
// Whether the folder of a normalised path is one found in another case:
// then nothing is spelled so below it.
bool InFolderFoundOtherwise(const char *normalised);

#endif
