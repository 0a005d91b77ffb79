// A JSON text built in one buffer: objects, arrays, strings, unsigned
// numbers and null, written in order with the commas put in for the
// caller. Strings come out as valid UTF-8 whatever bytes go in.
#ifndef QUELVO_JSON_WRITER_H
#define QUELVO_JSON_WRITER_H

#include <stddef.h>
#include <string.h>

#include <string>
#include <string_view>
#include <vector>

// What a value written outside every object and array was, as far as its
// text where JSON's quoting has no place (a CSV cell, a compared value)
// differs from its JSON text.
enum JsonShown {
  kShownAsWritten, // a number, true/false, an object or array: its JSON
  kShownString,    // a string written as it stands: shownAt, shownLength
  kShownConverted, // a string escaped or made valid UTF-8: shownText
  kShownNull,      // nothing
};

// Start with JsonWriter w = JsonWriter(); end with JsonFinish, which takes
// the text out of the writer.
struct JsonWriter {
  std::string buffer; // the text is its first `used` bytes
  size_t used;
  bool needComma; // a value stands before the next one at this level
  int depth;      // objects and arrays open
  // The last string or null written at depth 0: a value written on its
  // own is shown from here, never decoded back out of its JSON. A string
  // is its text made valid UTF-8 as it was written: in the buffer between
  // its quotes where nothing in it was escaped, else copied.
  JsonShown shown;
  size_t shownAt;
  size_t shownLength;
  std::string shownText;
};

// The text written so far, the buffer cut to it.
std::string JsonFinish(JsonWriter *w);

// Empties the writer for one value written on its own, keeping its room.
void JsonRestart(JsonWriter *w);

// The value written on its own since JsonRestart, as a cell shows it: a
// string its text, null nothing, anything else its JSON text.
std::string_view JsonShownText(const JsonWriter &w);
inline bool JsonShownString(const JsonWriter &w) {
  return w.shown == kShownString || w.shown == kShownConverted;
}

void JsonBeginObject(JsonWriter *w);
void JsonEndObject(JsonWriter *w);
void JsonBeginArray(JsonWriter *w);
void JsonEndArray(JsonWriter *w);

// A member's name that is one of our own ASCII words, written as it is;
// its value is the next thing written.
void JsonKey(JsonWriter *w, const char *key, size_t length);

// Writes a name of our own at p, the end of the text, where there is room
// for it and four bytes more; both JsonKey forms end here.
inline void JsonPutKeyAt(JsonWriter *w, char *p, const char *key,
                         size_t length) {
  if (w->needComma)
    *p++ = ',';
  *p++ = '"';
  memcpy(p, key, length);
  p += length;
  *p++ = '"';
  *p++ = ':';
  w->used = static_cast<size_t>(p - &w->buffer[0]);
  w->needComma = false;
}

// The same for a name known where it is written: inline where there is
// room, as an object has some thirty of them and a call to copy each cost
// more than the rest of writing it.
template <size_t N> void JsonKey(JsonWriter *w, const char (&key)[N]) {
  if (w->buffer.size() - w->used < N + 3)
    JsonKey(w, key, N - 1);
  else
    JsonPutKeyAt(w, &w->buffer[w->used], key, N - 1);
}

// A member's name from the data, escaped like any string.
void JsonMemberName(JsonWriter *w, const char *name, size_t length);

// Members of our own, written out already ("a":null,"b":null), at once.
void JsonRawMembers(JsonWriter *w, const char *members, size_t length);
template <size_t N>
void JsonRawMembers(JsonWriter *w, const char (&members)[N]) {
  JsonRawMembers(w, members, N - 1);
}

// A string value. Every ill-formed UTF-8 sequence becomes U+FFFD; quotes,
// backslashes and control characters are escaped, and so are DEL, the C1
// controls and U+2028/U+2029, which some line splitters take for line
// ends, so that one object is always exactly one line.
void JsonString(JsonWriter *w, const char *text, size_t length);
void JsonString(JsonWriter *w, const std::string &text);
// A string, or null when text is null.
void JsonStringOrNull(JsonWriter *w, const char *text);
// A string of characters that need no escaping (digits, dots, hex digits),
// written as it stands between its quotes.
void JsonPlainString(JsonWriter *w, const char *text, size_t length);

void JsonNumber(JsonWriter *w, unsigned long value);
// A value already written as JSON text (taken from an object this program
// wrote), copied as it is.
void JsonRawValue(JsonWriter *w, const char *text, size_t length);
// A number of 64 bits wherever unsigned long has 32 (Windows).
void JsonNumber64(JsonWriter *w, unsigned long long value);
// A value of our own written out already: true, false.
void JsonRawValue(JsonWriter *w, const char *value);
void JsonNull(JsonWriter *w);
void JsonBool(JsonWriter *w, bool value);

#endif
