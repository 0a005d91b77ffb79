// POSIX extended regular expressions for --expect NAME~=REGEX, from the
// C library (regcomp and regexec) where it has them. The Windows C
// runtime has none: there the standard library's std::regex reads the
// same grammar (std::regex::extended).
#ifndef QUELVO_ERE_H
#define QUELVO_ERE_H

#include <string>

// A compiled expression; its own, freed with FreeEre.
struct Ere;

// Compiles pattern. Null, with the library's reason in *error, when it is
// no valid expression.
Ere *CompileEre(const char *pattern, std::string *error);

// Whether the expression matches anywhere in text (anchor it with ^ and $
// to match the whole); false too when the library gives up on it.
bool MatchEre(const Ere *ere, const std::string &text);

void FreeEre(Ere *ere);

#endif
