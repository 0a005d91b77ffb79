// The names a user types that the program checks: the keys --fields may
// name, and the nearest of a list to a word mistyped.
#ifndef QUELVO_NAMES_H
#define QUELVO_NAMES_H

#include <stddef.h>

#include <string>

// Every key and dotted path of the objects --json writes (nested objects'
// members, not arrays' elements), in the order they are written, and the
// strings Windows itself defines. The bash completion offers the same list.
extern const char *const kFieldNames[];
extern const size_t kFieldNameCount;

// Whether --fields may name a field: one of kFieldNames, "strings." and any
// string's name, or a bare name with an upper-case letter, which stands for
// a string of that name as resources spell them ("ProductName").
bool IsKnownField(const std::string &field);

// The name of names (count of them) nearest to word by edit distance,
// letter case aside, or one that word begins; null when none is near
// enough to be what was meant.
const char *NearestName(const char *word, const char *const *names,
                        size_t count);

#endif
