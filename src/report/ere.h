// POSIX extended regular expressions for --expect NAME~=REGEX, from the
// C library (regcomp and regexec) where it has them. The Windows C
// runtime has none: there the standard library's std::regex reads the
// same grammar (std::regex::extended).
#ifndef QUELVO_ERE_H
#define QUELVO_ERE_H

#include <string>

// The most parts an expression may have written out: each character,
// bracket expression, anchor, '|' and pair of parentheses one part, with
// each counted repetition written as its copies ({m,n} as n, {m,} as m+1,
// x+ as two, which is how the C library builds them). Its compiler and
// matcher take time and memory that grow with these copies, nested ones
// multiplied: (((a{100}){100}){100}){100} has 100 million parts.
const unsigned long kMaxEreParts = 256;

// Whether the expression stays within what a check of every file can
// afford: no back-reference (\1 to \9, which the library matches by
// trying every split of the text) and at most kMaxEreParts parts. False
// with the reason in *why; what is no valid expression is left to
// CompileEre to say.
bool EreWithinBounds(const char *pattern, std::string *why);

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
