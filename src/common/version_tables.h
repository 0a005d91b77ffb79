// A version block's string tables as the lossless walk hands them on:
// what the reader lists and the report prints, each string with its key
// as stored and its value up to its first zero unit, as UTF-16.
#ifndef QUELVO_VERSION_TABLES_H
#define QUELVO_VERSION_TABLES_H

#include <stddef.h>

#include <string>
#include <vector>

struct VersionString {
  std::u16string key;   // as stored
  std::u16string value; // up to its first zero unit
  // What the stored length (wValueLength, bounded by the node) counts past
  // the value's terminator: zero units only ("1.0\0" in a script gives one
  // more), or text after a zero, which no lookup shows. Nothing is counted
  // where the length reads as bytes rather than units (some compilers
  // write it so), since the node then holds the value and its terminator
  // and no more.
  size_t zerosPast;  // zero units past the terminator
  bool textPastZero; // a unit other than zero past the terminator
};

struct VersionTable {
  std::u16string key;                 // as stored
  std::vector<VersionString> strings; // in stored order
};

// What a walk of the tables hands over of one string: its key and text (as
// a VersionString holds them) in buffers that are reused for the next.
struct VersionStringUnits {
  const char16_t *key;
  size_t keyLength;
  const char16_t *value;
  size_t valueLength;
  size_t zerosPast;  // as VersionString
  bool textPastZero; // as VersionString
};

// Where a walk hands every table (its key, and whether it is the one the
// lookup picks) and then each of its strings.
struct VersionTableSink {
  void *context;
  void (*table)(void *context, const char16_t *key, size_t keyLength,
                bool picked);
  void (*string)(void *context, const VersionStringUnits &s);
};

#endif
