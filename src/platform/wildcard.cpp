#include "wildcard.h"

#include <string.h>

#include "posix_path.h"

bool HasWildcards(const char *component) {
  return strpbrk(component, "*?<>\"") != nullptr;
}

void RewritePattern(const char *component, char *out, size_t outSize) {
  size_t len = strlen(component);
  if (outSize == 0)
    return;
  if (len >= outSize)
    len = outSize - 1;
  bool endedWithDot = false;
  while (len > 0 && component[len - 1] == '.') {
    --len;
    endedWithDot = true;
  }
  if (len == 3 && memcmp(component, "*.*", 3) == 0) {
    memcpy(out, "*", 2);
    return;
  }
  for (size_t i = 0; i < len; ++i) {
    char c = component[i];
    char next = i + 1 < len ? component[i + 1] : '\0';
    if (c == '?')
      c = '>';
    else if (c == '.' && (next == '?' || next == '*'))
      c = '"';
    else if (c == '*' && next == '.')
      c = '<';
    out[i] = c;
  }
  if (endedWithDot && len > 0 && out[len - 1] == '*')
    out[len - 1] = '<';
  out[len] = '\0';
}

namespace {

// The expression positions reachable without consuming a character: a
// star may match nothing, '>' nothing before a dot or at the end, '"'
// nothing at the end. In increasing order, so that chains propagate.
void CloseOverEmpty(const char *expression, size_t m, bool atEnd, char next,
                    bool *states) {
  for (size_t p = 0; p < m; ++p) {
    if (!states[p])
      continue;
    char e = expression[p];
    if (e == '*' || e == '<' || (e == '>' && (atEnd || next == '.')) ||
        (e == '"' && atEnd))
      states[p + 1] = true;
  }
}

// One character of the name: from each live position, whether the
// position stays (a star swallows the character) or advances past it.
// False when no position lives on.
bool Consume(const char *expression, size_t m, unsigned char ch, bool isLastDot,
             const bool *states, bool *next) {
  bool any = false;
  memset(next, 0, sizeof(bool) * (m + 1));
  for (size_t p = 0; p < m; ++p) {
    if (!states[p])
      continue;
    unsigned char e = static_cast<unsigned char>(expression[p]);
    bool stay = false, advance = false;
    switch (e) {
    case '*':
      stay = true;
      break;
    case '<':
      stay = !(ch == '.' && isLastDot); // cannot swallow the last dot
      break;
    case '>':
      advance = ch != '.';
      break;
    case '"':
      advance = ch == '.';
      break;
    default:
      advance = UpperAscii(e) == UpperAscii(ch);
      break;
    }
    next[p] = next[p] || stay;
    next[p + 1] = next[p + 1] || advance;
    any = any || stay || advance;
  }
  return any;
}

} // namespace

bool MatchExpression(const char *expression, const char *name) {
  if (expression[0] == '*' && expression[1] == '\0')
    return true; // every name, as the automaton below would find
  // A small NFA over expression positions; names and patterns are short
  // (at most 259 bytes here), so two flag rows suffice.
  enum { kMax = 512 };
  size_t m = strlen(expression);
  size_t n = strlen(name);
  if (m >= kMax)
    return false;
  const char *lastDot = strrchr(name, '.');
  bool cur[kMax + 1];
  bool next[kMax + 1];
  memset(cur, 0, sizeof(bool) * (m + 1));
  cur[0] = true;
  for (size_t i = 0;; ++i) {
    bool atEnd = i == n;
    CloseOverEmpty(expression, m, atEnd, name[i], cur);
    if (atEnd)
      return cur[m];
    if (!Consume(expression, m, static_cast<unsigned char>(name[i]),
                 name + i == lastDot, cur, next))
      return false;
    memcpy(cur, next, sizeof(bool) * (m + 1));
  }
}
