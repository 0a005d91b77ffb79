#include "ere.h"

#include <string.h>

#include <string>
#include <vector>

namespace {

// What a group holds so far: its parts, and those of its last atom, which
// a repetition after it multiplies.
struct EreFrame {
  unsigned long long parts;
  unsigned long long last;
};

// The end of a bracket expression that starts at p[i] ('['): the index
// past its ']', or the length when it is not closed.
size_t BracketEnd(const char *p, size_t i, size_t length) {
  size_t j = i + 1;
  if (j < length && p[j] == '^')
    ++j;
  if (j < length && p[j] == ']')
    ++j; // a ']' first is one of the set
  while (j < length) {
    if (p[j] == ']')
      return j + 1;
    if (p[j] == '[' && j + 1 < length &&
        (p[j + 1] == ':' || p[j + 1] == '=' || p[j + 1] == '.')) {
      // [:alpha:], [=a=], [.-.]: closed by the same sign and ']'.
      char sign = p[j + 1];
      size_t k = j + 2;
      while (k + 1 < length && !(p[k] == sign && p[k + 1] == ']'))
        ++k;
      if (k + 1 >= length)
        return length;
      j = k + 2;
      continue;
    }
    ++j;
  }
  return length;
}

// Reads an interval {m}, {m,}, {m,n} or {,n} at p[i] ('{'): the copies it
// writes out and the index past it. False when it is none, and the brace
// is an ordinary character as far as the count goes.
bool ReadInterval(const char *p, size_t i, size_t length,
                  unsigned long long *copies, size_t *next) {
  const unsigned long long kCap = 1000000; // past every count the library takes
  unsigned long long low = 0, high = 0;
  bool comma = false, lowDigits = false, highDigits = false;
  size_t j = i + 1;
  for (; j < length && p[j] >= '0' && p[j] <= '9'; ++j, lowDigits = true)
    low = low < kCap ? low * 10 + static_cast<unsigned>(p[j] - '0') : kCap;
  if (j < length && p[j] == ',') {
    comma = true;
    for (++j; j < length && p[j] >= '0' && p[j] <= '9'; ++j, highDigits = true)
      high = high < kCap ? high * 10 + static_cast<unsigned>(p[j] - '0') : kCap;
  }
  if (j >= length || p[j] != '}' || (!lowDigits && !highDigits))
    return false;
  unsigned long long n = !comma ? low : highDigits ? high : low + 1;
  if (n < low)
    n = low;
  *copies = n == 0 ? 1 : n;
  *next = j + 1;
  return true;
}

} // namespace

bool EreWithinBounds(const char *pattern, std::string *why) {
  const char *p = pattern;
  size_t length = strlen(pattern);
  std::vector<EreFrame> frames(1, EreFrame{0, 0});
  // The parts of every open group: what the expression has at least.
  unsigned long long total = 0;
  auto atom = [&](unsigned long long parts) {
    frames.back().parts += parts;
    frames.back().last = parts;
    total += parts;
  };
  auto repeat = [&](unsigned long long copies) {
    EreFrame &f = frames.back();
    if (f.last == 0) { // nothing to repeat: the sign stands for itself
      atom(1);
      return;
    }
    unsigned long long added = f.last * (copies - 1);
    f.parts += added;
    f.last += added;
    total += added;
  };
  size_t i = 0;
  while (i < length && total <= kMaxEreParts) {
    char c = p[i];
    size_t next = i + 1;
    unsigned long long copies;
    switch (c) {
    case '\\':
      if (next < length && p[next] >= '1' && p[next] <= '9') {
        *why = "back-references such as \\" + std::string(1, p[next]) +
               " are not accepted: matching one can take time that grows "
               "exponentially with the text";
        return false;
      }
      if (next < length)
        ++next;
      atom(1);
      break;
    case '[':
      next = BracketEnd(p, i, length);
      atom(1);
      break;
    case '(':
      frames.push_back(EreFrame{1, 0}); // the pair of parentheses
      ++total;
      break;
    case ')':
      if (frames.size() > 1) {
        unsigned long long parts = frames.back().parts;
        frames.pop_back();
        frames.back().parts += parts;
        frames.back().last = parts;
      } else {
        atom(1);
      }
      break;
    case '|':
      atom(1);
      frames.back().last = 0;
      break;
    case '*':
    case '?':
      repeat(1);
      break;
    case '+':
      repeat(2);
      break;
    case '{':
      if (ReadInterval(p, i, length, &copies, &next))
        repeat(copies);
      else
        atom(1);
      break;
    default:
      atom(1);
    }
    i = next;
  }
  if (total <= kMaxEreParts)
    return true;
  *why = "written out, with each counted repetition as its copies, it has "
         "more than " +
         std::to_string(kMaxEreParts) + " parts";
  return false;
}

#ifdef _WIN32

#include <new>
#include <regex>

struct Ere {
  std::regex regex;
};

Ere *CompileEre(const char *pattern, std::string *error) {
  // The library throws for what it cannot read; nothing escapes here.
  try {
    return new Ere{
        std::regex(pattern, std::regex::extended | std::regex::nosubs)};
  } catch (const std::regex_error &e) {
    *error = e.what();
  } catch (const std::bad_alloc &) {
    *error = "out of memory";
  }
  return nullptr;
}

bool MatchEre(const Ere *ere, const std::string &text) {
  try {
    return std::regex_search(text, ere->regex);
  } catch (const std::exception &) {
    return false; // too complex for the library's matcher
  }
}

void FreeEre(Ere *ere) { delete ere; }

#else

#include <regex.h>

#include <new>

struct Ere {
  regex_t regex;
};

Ere *CompileEre(const char *pattern, std::string *error) {
  Ere *ere = new (std::nothrow) Ere;
  if (ere == nullptr) {
    *error = "out of memory";
    return nullptr;
  }
  int code = regcomp(&ere->regex, pattern, REG_EXTENDED | REG_NOSUB);
  if (code == 0)
    return ere;
  char reason[256];
  regerror(code, &ere->regex, reason, sizeof reason);
  *error = reason;
  delete ere;
  return nullptr;
}

bool MatchEre(const Ere *ere, const std::string &text) {
  return regexec(&ere->regex, text.c_str(), 0, nullptr, 0) == 0;
}

void FreeEre(Ere *ere) {
  if (ere == nullptr)
    return;
  regfree(&ere->regex);
  delete ere;
}

#endif
