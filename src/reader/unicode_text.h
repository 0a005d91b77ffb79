// Text conversions that must never fail or lose track of where they are:
// UTF-16 as stored in version resources, and byte strings that are meant
// to be UTF-8 but may not be.
#ifndef QUELVO_UNICODE_TEXT_H
#define QUELVO_UNICODE_TEXT_H

#include <stddef.h>

#include <string>

// Appends UTF-16 units as UTF-8. A surrogate that is not part of a pair
// becomes U+FFFD; a zero unit is converted like any other.
void AppendUtf16AsUtf8(const char16_t *units, size_t count, std::string *out);

// Appends bytes that should be UTF-8, each ill-formed sequence (a stray
// continuation byte, a truncated sequence, an overlong form, an encoded
// surrogate, anything past U+10FFFF) replaced by one U+FFFD per maximal
// ill-formed part, as Unicode recommends.
void AppendBytesAsUtf8(const char *bytes, size_t count, std::string *out);

// Appends bytes in code page 1252 as UTF-8; every byte has a character.
void AppendCp1252AsUtf8(const char *bytes, size_t count, std::string *out);

#endif
