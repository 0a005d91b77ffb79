// Wildcard matching as the Windows directory search applies it to a
// pattern's last component.
#ifndef QUELVO_WILDCARD_H
#define QUELVO_WILDCARD_H

#include <stddef.h>

// True when the component holds a character the search treats as a
// wildcard ('*', '?', and the rewritten forms '<', '>', '"').
bool HasWildcards(const char *component);

// The search rewrites the component before matching: "*.*" becomes "*",
// '?' becomes '>' (one character, or nothing at a dot or the end), '*'
// before a dot becomes '<' (cannot swallow the last dot), a dot before a
// wildcard becomes '"' (a dot, or nothing at the end), and trailing dots
// are dropped, turning a now-final '*' into '<'. The output is never longer
// than the input; outSize must exceed the input's length.
void RewritePattern(const char *component, char *out, size_t outSize);

// Matches a rewritten expression against one name, folding ASCII case.
bool MatchExpression(const char *expression, const char *name);

#endif
