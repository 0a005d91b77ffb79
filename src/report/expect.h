// --expect NAME=VALUE and NAME~=REGEX: what a file must say, checked on
// every file the arguments match.
//
// NAME is a field of the --json object, as --fields names them (format,
// machine, file_version, language, fixed.file_flags, version.file ...), or
// else the name of a string of the table Windows picks, looked up as
// Windows looks it up (the first key equal to it without regard to ASCII
// case). A field whose value is an object with an id (language, charset)
// compares its id, given in any form the JSON shows (ReadIdValue), and
// matches a regular expression when its id, hex or name does; a number compares
// as a number, written in decimal or in hexadecimal after 0x; a field of dotted
// numbers (file_version, version.product) compares as a version, missing
// numbers counting as zero ("1.2" is 1.2.0.0). Anything else, and every string
// of the table, compares as text, exactly. ~= matches a POSIX extended regular
// expression anywhere in the text.
#ifndef QUELVO_EXPECT_H
#define QUELVO_EXPECT_H

#include <string>
#include <vector>

#include "ere.h"
#include "file_facts.h"

struct Expectation {
  std::string name;
  std::string value; // the text, or the expression
  bool regex;        // ~=
  Ere *pattern;      // compiled, for ~=; the expectation's own
};

// Reads one --expect value. False, with the reason in *error, for a value
// without "=" or a name, or an expression that does not compile.
bool ParseExpectation(const char *text, Expectation *out, std::string *error);

void FreeExpectations(std::vector<Expectation> *expectations);

// How a value given for a field with an id (language, charset) is read:
// four hex digits that start with 0 or hold a letter as the JSON's "hex"
// spells them ("0409", "04b0"); 0x and hex digits; other decimal digits
// as the id ("1033"); anything else as the name ("English (United
// States)"). *id is set for all but a name.
enum IdForm { kIdFormDecimal, kIdFormHex, kIdFormName };
IdForm ReadIdValue(const std::string &text, unsigned long *id);

// Checks every expectation against one file's facts, each name read as
// the file's --json object would hold it (before "expect" and "lint"). One
// result per expectation, in order.
void CheckExpectations(const std::vector<Expectation> &expectations,
                       const FileFacts &facts,
                       std::vector<ExpectResult> *results);

#endif
