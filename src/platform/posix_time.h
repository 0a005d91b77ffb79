// File times between POSIX and Windows: the FILETIME of a POSIX time, and
// the conversions the directory search and the status query make of it.
#ifndef QUELVO_POSIX_TIME_H
#define QUELVO_POSIX_TIME_H

#include <sys/stat.h>
#include <time.h>

#include "platform.h"

// 100-nanosecond ticks since 1601-01-01 UTC. A time that Windows cannot
// hold, before 1601 or past the last tick its calendar conversion accepts
// (0x7FFFFFFFFFFFFFFF, in the year 30828), becomes a FILETIME that no
// conversion accepts.
FILETIME FileTimeFromPosix(const struct timespec &ts);

// The Windows runtime's status query turns an entry's last-write time, and
// its last-access and creation times when they are not zero, into local
// calendar time, and fails when it cannot: true when all of them convert.
bool FileTimesConvert(const struct stat &st);

#endif
