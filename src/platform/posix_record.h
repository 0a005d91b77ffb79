// The records the POSIX services hand each other explicitly: a folder's
// note (its descriptor, its listing, what a lookup in it found) and the
// state of one reported file. Shared by the search, the status query and
// the per-file services of this folder only.
#ifndef QUELVO_POSIX_RECORD_H
#define QUELVO_POSIX_RECORD_H

#include <stddef.h>
#include <stdint.h>
#include <sys/stat.h>

#include "byte_source.h"
#include "exe_locate.h"
#include "pe_image.h"
#include "platform.h"
#include "posix_path.h"

// One entry of a folder's listing: where its name starts in the listing's
// name store, and the type the listing gave it (a dirent d_type).
struct ListedEntry {
  uint32_t offset;
  unsigned char type;
};

// NewNote (posix_find.cpp) starts each field but the buffers by hand: a
// field added here starts there too.
struct FolderNote {
  int dirFd;       // the folder, or -1 when none is held
  bool lookupOnly; // dirFd may look names up but not list them
  bool searchable; // names can be looked up in it: a folder that may be
                   // read but not searched is not listed either
  dev_t device;    // the folder's identity, for the walk's loop guard
  ino_t inode;
  bool atRoot; // the root lists no "." or ".."
  // The root's identity as found when the note was opened, handed on to
  // the notes of its subfolders, which would otherwise ask for it again
  // each.
  bool rootKnown;
  dev_t rootDevice;
  ino_t rootInode;
  // The listing, read once and sorted in delivery order; freed when the
  // note is handed on by a search, whose delivered names are then the
  // match list's.
  bool listed;
  char *names; // zero-terminated names, back to back
  size_t namesUsed;
  size_t namesCap;
  ListedEntry *entries;
  size_t count;
  size_t cap;
  // Keys (ListingKey) of the names the listing called regular files,
  // sorted: the status query opens such a file through dirFd at once.
  uint64_t *regular;
  size_t regularCount;
  bool regularLost; // no memory to note them all: none count
  // The one entry a search for a name without wildcards looked up.
  bool haveFound;
  char foundName[256];
  char foundHost[kHostPathMax]; // the host path the lookup found it by
  EntryFacts foundFacts;
};

// Where the status query found a record's file, for the version service.
enum FileWhere {
  kWhereUnknown = 0, // not queried: the version service looks for it itself
  kWhereHost = 1,    // at the host path in host
  kWhereFolder = 2,  // the record's name in its folder's descriptor
};

struct FileState {
  FileWhere where;
  char host[kHostPathMax];
  // The record's open file (found regular by the status query, or opened
  // by RecordSource), read through src; or -1.
  int fd;
  uint64_t size;
  // Why RecordSource could not open the file (an errno value), so that
  // the services after it do not try again; 0 when it has not tried.
  int openError;
  bool located; // the size query found the resource in the open file
  VersionResource resource;
  ByteSource src;
  FileWindow windows[2]; // headers and section table; directory and block
  // The source's headers, read once for every reader of the open file
  // (RecordImage); cleared whenever another file is held.
  bool imageRead;
  PeImage image;
};

// Makes fd, of size bytes, the record's open file and its source.
void HoldRecordFile(FileState *state, int fd, uint64_t size);

// Closes the record's open file, if any; the next RecordSource opens it
// again.
void ReleaseRecordFile(FileState *state);

// A name's key in a listing's note: its first three bytes case folded,
// then 40 bits of a hash of the whole name.
uint64_t ListingKey(const char *name);

// Whether the note's listing called name a regular file.
bool ListedAsRegular(const FolderNote *note, const char *name);

// Opens a host path, or a name in an open folder (dirFd, or AT_FDCWD), for
// reading, keeping it only when it is a regular file (whose status goes
// to st). A FIFO or device that took a file's place neither blocks the
// open nor becomes the controlling terminal; extraFlags adds O_NOFOLLOW
// and the like. Returns the descriptor, or -1 with errno from the open, or
// EINVAL when what opened is no regular file.
int OpenRegularAt(int dirFd, const char *name, int extraFlags, struct stat *st);

#endif
