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
//   one expansion and the report of its list.
//
// Every search starts a new expansion and forgets them all. The status
// query and the version service each take what is meant for them and
// forget the rest, so an answer never outlives the call it was kept for.
// All of it belongs to the thread that searches and reports; the
// prefetcher's helpers never ask these services.
#ifndef QUELVO_POSIX_RECALL_H
#define QUELVO_POSIX_RECALL_H

#include <stddef.h>

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

// Forgets the entry and the location kept for the next call.
void ForgetAnswers();

// A folder path, normalised as typed, and where it was found on disk.
void KeepFolder(const char *normalised, const char *resolved);
bool RecallFolder(const char *normalised, char *resolved, size_t size);
// Whether the folder of a normalised path is one found in another case:
// then nothing is spelled so below it.
bool InFolderFoundOtherwise(const char *normalised);

#endif
