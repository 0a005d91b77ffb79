// Opening and reading a file by a Windows-style path, shared by the
// version library and the long options' image description so that both
// read one file.
#ifndef QUELVO_POSIX_OPEN_H
#define QUELVO_POSIX_OPEN_H

#include <stdint.h>
#include <sys/stat.h>

#include "byte_source.h"
#include "exe_locate.h"

// Opens a host path for reading, keeping it only when it is a regular file
// (whose status goes to st). A FIFO or device that took a file's place
// neither blocks the open nor becomes the controlling terminal; extraFlags
// adds O_NOFOLLOW and the like. Returns the descriptor, or -1 with errno
// from the open, or EINVAL when what opened is no regular file.
int OpenRegularEntry(const char *hostPath, int extraFlags, struct stat *st);

// Opens the regular file a path names, as the version library does, and
// stores its size. Returns the descriptor, or -1.
int OpenRegularFile(const char *path, uint64_t *size);

// LocateVersionResource for the version library's open file of path;
// when ExpectImageDescription asked for this path, it also notes the
// image's kind and languages from the reads it makes anyway, for
// QueryImageDescription.
int LocateNoting(const char *path, ByteSource *src, VersionResource *res);

#endif
