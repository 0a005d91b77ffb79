// The version report of one file, short or detailed.
#ifndef QUELVO_REPORT_H
#define QUELVO_REPORT_H

#include <stddef.h>

#include "platform.h"
#include "status.h"

// Prints the report of one regular file and returns 0, or the code of the
// stage that failed (100 to 106, or -1 when the block cannot be allocated).
int ReportVersion(const char *path, bool detailed);

// Prints a string from the resource with one output character per byte,
// printable ASCII as itself and every other byte as a space.
void PrintSafeString(const char *text);

// Prints a path with every control byte (0x01-0x1F, 0x7F) as '?', so that
// no file name can forge a line of the output or drive the terminal; other
// bytes, those of UTF-8 names included, are printed as they are.
void PrintSafePath(const char *path);

// Prints the decoded fixed record, character set and language; 0, or
// kStatusNoFixedInfo when the block has no root record. The block is the
// one ReportVersion loaded, of blockSize bytes.
int ReportFixedInfo(const void *block, DWORD blockSize, DWORD translation);

// Copies len bytes from value, a pointer that a lookup in the block
// returned, as far as they lie inside the block's blockSize bytes; the
// rest of out is zero, and all of it for a pointer outside the block. The
// version service promises a pointer, not that the record behind it ends
// inside the block.
void CopyInsideBlock(const void *block, DWORD blockSize, const void *value,
                     void *out, size_t len);

// Looks the fixed record up at the root and copies it, bounded as above.
// False when the block has no root record.
bool QueryFixedRecord(const void *block, DWORD blockSize,
                      VS_FIXEDFILEINFO *fixed);

#endif
