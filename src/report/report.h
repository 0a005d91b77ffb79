// The version report of one file, short or detailed.
#ifndef QUELVO_REPORT_H
#define QUELVO_REPORT_H

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
// kStatusNoFixedInfo when the block has no root record.
int ReportFixedInfo(const void *block, DWORD translation);

#endif
