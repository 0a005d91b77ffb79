// Opening a file by a Windows-style path, shared by the version library
// and the long options' image description so that both read one file.
#ifndef QUELVO_POSIX_OPEN_H
#define QUELVO_POSIX_OPEN_H

#include <stdint.h>

// Opens the regular file a path names, as the version library does, and
// stores its size. Returns the descriptor, or -1.
int OpenRegularFile(const char *path, uint64_t *size);

// A file that the image description opened, handed to the version
// library's next open of the same path instead of a second open: returns
// its descriptor and size, or -1 when none is parked for that path.
int TakeParkedFile(const char *path, uint64_t *size);

#endif
