// ASCII case folding: the one folding that names, patterns and version
// keys get here. Bytes from 0x80 up and every other unit stay as they are.
#ifndef QUELVO_ASCII_CASE_H
#define QUELVO_ASCII_CASE_H

#include <stddef.h>

// For unsigned char and char16_t alike.
template <typename Unit> inline Unit UpperAscii(Unit c) {
  return (c >= 'a' && c <= 'z') ? static_cast<Unit>(c - ('a' - 'A')) : c;
}
template <typename Unit> inline Unit LowerAscii(Unit c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<Unit>(c + ('a' - 'A')) : c;
}

inline bool EqualNoCaseAscii(const char *a, const char *b) {
  for (;; ++a, ++b) {
    unsigned char x = UpperAscii(static_cast<unsigned char>(*a));
    unsigned char y = UpperAscii(static_cast<unsigned char>(*b));
    if (x != y)
      return false;
    if (x == 0)
      return true;
  }
}

// Whether a stored UTF-16 key equals an ASCII name without regard to ASCII
// case, the only folding that can bring a key onto such a name.
inline bool KeyEqualsAscii(const char16_t *key, size_t keyLength,
                           const char *name) {
  size_t i = 0;
  for (; name[i] != '\0'; ++i)
    if (i >= keyLength ||
        UpperAscii(key[i]) != UpperAscii(static_cast<char16_t>(
                                  static_cast<unsigned char>(name[i]))))
      return false;
  return i == keyLength;
}

#endif
