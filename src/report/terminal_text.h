// Text from files on its way to a terminal: what a terminal would act on
// (controls) or that lets one name pass for another (the bidirectional
// formatting characters) is shown as an escape, \u and four hex digits,
// the form JSON gives the same characters.
#ifndef QUELVO_TERMINAL_TEXT_H
#define QUELVO_TERMINAL_TEXT_H

#include <stddef.h>

#include <string>
#include <string_view>

// The characters that reorder the text around them: the embeddings,
// overrides and isolates (U+202A to U+202E, U+2066 to U+2069) and the
// marks (U+200E, U+200F, U+061C).
bool IsBidiControl(unsigned codePoint);

// The code point of a well-formed UTF-8 sequence of len bytes.
unsigned Utf8CodePoint(const unsigned char *p, size_t len);

// Appends \u and the code point's four lowercase hex digits.
void AppendCodePointEscape(unsigned codePoint, std::string *out);

// Appends a line of --json or --csv as it goes to a terminal: each control
// character (C0, DEL, C1), U+2028, U+2029 and bidirectional control as its
// escape, and each byte of no well-formed UTF-8 sequence as \x and two hex
// digits; everything else as it is. A --json line's strings hold only the
// bidirectional controls of these raw, and stay JSON of the same values.
void AppendForTerminal(std::string_view line, std::string *out);

#endif
