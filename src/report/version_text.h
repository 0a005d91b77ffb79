// Version strings as machines compare them: the dotted numbers at the
// head of a FileVersion or ProductVersion string, and what follows them.
#ifndef QUELVO_VERSION_TEXT_H
#define QUELVO_VERSION_TEXT_H

#include <string>

// Reads the numeric head of a version string: one to four decimal numbers
// separated by dots or commas, spaces allowed around the separators
// ("3, 0, 21, 0" and "1.2.3.4" alike), written out as dotted numbers
// without leading zeros ("3.0.21.0"). The rest of the string, from the
// first character that continues no number, is the suffix, without the
// spaces before it ("-beta+abc", "(win7sp1_rtm.101119-1850)"); empty when
// nothing follows. False when the string does not start with a number, or
// a number has more than nine digits (no version field holds one).
bool NormaliseVersion(const std::string &text, std::string *dotted,
                      std::string *suffix);

#endif
