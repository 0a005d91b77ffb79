#include "posix_time.h"

#include <stdint.h>

namespace {

// The last tick Windows converts to a calendar date.
const uint64_t kMaxTicks = INT64_MAX;
// Seconds from 1601-01-01 to 1970-01-01.
const int64_t kEpochDelta = 11644473600LL;
const FILETIME kUnconvertible = {0xFFFFFFFFu, 0xFFFFFFFFu};

uint64_t Ticks(const FILETIME &ft) {
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// More than any bias a time zone can have: the C library takes offsets of
// at most 24:59:59 either way.
const uint64_t kBiasBound = 2ull * 24 * 3600 * 10000000;

// Whether the calendar conversion of the local time succeeds: the local
// conversion lands in 0..kMaxTicks or fails, and the calendar conversion
// takes every time in that range, so the first answers for both. A time
// that no bias can push out of that range converts whatever the zone
// says: the zone is asked only near the ends, not three times a file.
bool Converts(const FILETIME &ft) {
  uint64_t ticks = Ticks(ft);
  if (ticks >= kBiasBound && ticks <= kMaxTicks - kBiasBound)
    return true;
  FILETIME local;
  return FileTimeToLocalFileTime(&ft, &local) != 0;
}

} // namespace

FILETIME FileTimeFromPosix(const struct timespec &ts) {
  // Both ends are checked before any arithmetic: tmpfs and others keep
  // 64-bit seconds, far beyond what ticks can count.
  if (ts.tv_sec < -kEpochDelta ||
      ts.tv_sec > static_cast<int64_t>(kMaxTicks / 10000000) - kEpochDelta)
    return kUnconvertible;
  uint64_t seconds = static_cast<uint64_t>(ts.tv_sec + kEpochDelta);
  uint64_t ticks = seconds * 10000000u;
  if (ts.tv_nsec > 0)
    ticks += static_cast<uint64_t>(ts.tv_nsec) / 100u;
  if (ticks > kMaxTicks)
    return kUnconvertible;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return ft;
}

namespace {

// Seconds since 1970 between which a time is at least a bias's bound from
// both ends of the ticks Windows converts, whatever its nanoseconds: such
// a time converts, as Converts would find, without being turned to ticks.
const int64_t kSafeFirst =
    static_cast<int64_t>(kBiasBound / 10000000) - kEpochDelta;
const int64_t kSafeLast =
    static_cast<int64_t>((kMaxTicks - kBiasBound) / 10000000) - 1 - kEpochDelta;

bool SafelyConverts(const struct timespec &ts) {
  return ts.tv_sec >= kSafeFirst && ts.tv_sec <= kSafeLast;
}

} // namespace

bool FileTimesConvert(const struct stat &st) {
  // Nearly every file's three times lie far from both ends.
  if (SafelyConverts(st.st_mtim) && SafelyConverts(st.st_atim) &&
      SafelyConverts(st.st_ctim))
    return true;
  FILETIME write = FileTimeFromPosix(st.st_mtim);
  FILETIME access = FileTimeFromPosix(st.st_atim);
  FILETIME creation = FileTimeFromPosix(st.st_ctim);
  return Converts(write) && (Ticks(access) == 0 || Converts(access)) &&
         (Ticks(creation) == 0 || Converts(creation));
}

BOOL FileTimeToLocalFileTime(const FILETIME *fileTime, FILETIME *localTime) {
  uint64_t ticks = Ticks(*fileTime);
  if (ticks > kMaxTicks)
    return 0;
  // Windows applies the bias in force now, not the one of the given date.
  time_t now = time(nullptr);
  struct tm today;
  if (localtime_r(&now, &today) == nullptr)
    return 0;
  int64_t biasTicks = static_cast<int64_t>(today.tm_gmtoff) * 10000000;
  // The result must land in 0..kMaxTicks; checked before the addition,
  // which could overflow otherwise.
  int64_t utc = static_cast<int64_t>(ticks);
  if (biasTicks >= 0 ? utc > INT64_MAX - biasTicks : utc < -biasTicks)
    return 0;
  int64_t local = utc + biasTicks;
  localTime->dwLowDateTime = static_cast<DWORD>(local);
  localTime->dwHighDateTime =
      static_cast<DWORD>(static_cast<uint64_t>(local) >> 32);
  return 1;
}

BOOL FileTimeToSystemTime(const FILETIME *fileTime, SYSTEMTIME *systemTime) {
  uint64_t ticks = Ticks(*fileTime);
  if (ticks > kMaxTicks)
    return 0;
  uint64_t ms = ticks / 10000;
  uint64_t days = ms / 86400000;
  uint64_t msOfDay = ms % 86400000;
  // Days since 1601-01-01 (a Monday) to a civil date; the algorithm counts
  // from 0000-03-01, which lies 584,694 days before 1601-01-01.
  int64_t z = static_cast<int64_t>(days) + 584694;
  int64_t era = z / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int64_t day = doy - (153 * mp + 2) / 5 + 1;
  int64_t month = mp < 10 ? mp + 3 : mp - 9;
  int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  systemTime->wYear = static_cast<WORD>(year);
  systemTime->wMonth = static_cast<WORD>(month);
  systemTime->wDay = static_cast<WORD>(day);
  systemTime->wDayOfWeek = static_cast<WORD>((days + 1) % 7);
  systemTime->wHour = static_cast<WORD>(msOfDay / 3600000);
  systemTime->wMinute = static_cast<WORD>(msOfDay / 60000 % 60);
  systemTime->wSecond = static_cast<WORD>(msOfDay / 1000 % 60);
  systemTime->wMilliseconds = static_cast<WORD>(msOfDay % 1000);
  return 1;
}
