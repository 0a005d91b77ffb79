// The one system call the reader makes: a positioned read of an open file,
// by file descriptor (on Windows, the C runtime's descriptor of a handle).
#ifndef QUELVO_FILE_READ_H
#define QUELVO_FILE_READ_H

#include <stddef.h>
#include <stdint.h>

// Reads exactly len bytes at offset off, or reports failure; a file that
// ends early has changed under us and is treated as unreadable.
bool ReadFileRange(int fd, uint64_t off, unsigned char *dst, size_t len);

#endif
