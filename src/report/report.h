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

// Prints the decoded fixed record, character set and language; 0, or
// kStatusNoFixedInfo when the block has no root record.
int ReportFixedInfo(const void *block, DWORD translation);

#endif
