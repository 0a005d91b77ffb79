// A text fixed in the program with its length, taken from the literal
// where it is written: tables of labels and names are put many times a
// file, and measuring each again cost as much as copying it.
#ifndef QUELVO_LITERAL_H
#define QUELVO_LITERAL_H

#include <stddef.h>

struct Literal {
  template <size_t N>
  constexpr Literal(const char (&literal)[N]) : text(literal), length(N - 1) {}
  const char *text;
  size_t length;
};

#endif
