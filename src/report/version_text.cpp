#include "version_text.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

size_t SkipSpaces(const std::string &t, size_t i) {
  while (i < t.size() && t[i] == ' ')
    ++i;
  return i;
}

} // namespace

bool NormaliseVersion(const std::string &text, std::string *dotted,
                      std::string *suffix) {
  dotted->clear();
  suffix->clear();
  size_t i = SkipSpaces(text, 0);
  size_t end = i; // just past the last number taken
  for (int count = 0; count < 4; ++count) {
    size_t at = i;
    if (count > 0) {
      // A separator, spaces around it, then a number; else the head ends.
      at = SkipSpaces(text, at);
      if (at >= text.size() || (text[at] != '.' && text[at] != ','))
        break;
      at = SkipSpaces(text, at + 1);
    }
    size_t digits = at;
    while (digits < text.size() && IsDigit(text[digits]))
      ++digits;
    if (digits == at)
      break;
    if (digits - at > 9)
      return false;
    // Leading zeros go: "01" is 1, as the fixed record would hold it.
    size_t first = at;
    while (first + 1 < digits && text[first] == '0')
      ++first;
    if (count > 0)
      dotted->push_back('.');
    dotted->append(text, first, digits - first);
    i = end = digits;
  }
  if (dotted->empty())
    return false;
  size_t rest = SkipSpaces(text, end);
  suffix->assign(text, rest, std::string::npos);
  return true;
}
