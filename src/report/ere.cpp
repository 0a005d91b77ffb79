#include "ere.h"

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
