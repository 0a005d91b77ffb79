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
    // Moves that consume nothing, in increasing order so chains propagate.
    for (size_t p = 0; p < m; ++p) {
      if (!cur[p])
        continue;
      char e = expression[p];
      if (e == '*' || e == '<' || (e == '>' && (atEnd || name[i] == '.')) ||
          (e == '"' && atEnd))
        cur[p + 1] = true;
    }
    if (atEnd)
      return cur[m];
    unsigned char ch = static_cast<unsigned char>(name[i]);
    bool any = false;
    memset(next, 0, sizeof(bool) * (m + 1));
    for (size_t p = 0; p < m; ++p) {
      if (!cur[p])
        continue;
      unsigned char e = static_cast<unsigned char>(expression[p]);
      bool stay = false, advance = false;
      switch (e) {
      case '*':
        stay = true;
        break;
      case '<':
        stay = !(ch == '.' && name + i == lastDot);
        break;
      case '>':
        advance = ch != '.';
        break;
      case '"':
        advance = ch == '.';
        break;
      default:
        advance = FoldAscii(e) == FoldAscii(ch);
        break;
      }
      if (stay)
        next[p] = true;
      if (advance)
        next[p + 1] = true;
      any = any || stay || advance;
    }
    if (!any)
      return false;
    memcpy(cur, next, sizeof(bool) * (m + 1));
  }
}
