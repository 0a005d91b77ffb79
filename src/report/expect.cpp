#include "expect.h"

#include <stdlib.h>
#include <string.h>

#include "json_fields.h"

namespace {

// How a value compares.
enum Kind {
  kKindText,   // exactly
  kKindNumber, // a JSON number: as a number
  kKindDotted, // a field of dotted numbers: as a version
};

// Reads a number written in decimal, or in hexadecimal after 0x; false for
// anything else, or more than 32 bits.
bool ReadNumber(const std::string &text, unsigned long *value) {
  bool hex =
      text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char *digits = text.c_str() + (hex ? 2 : 0);
  if (*digits == '\0' ||
      strspn(digits, hex ? "0123456789abcdefABCDEF" : "0123456789") !=
          strlen(digits) ||
      strlen(digits) > (hex ? 8u : 10u))
    return false;
  unsigned long long v = strtoull(digits, nullptr, hex ? 16 : 10);
  if (v > 0xFFFFFFFFull)
    return false;
  *value = static_cast<unsigned long>(v);
  return true;
}

// Reads one to four dotted numbers of up to nine digits each; missing
// ones are zero.
bool ReadDotted(const std::string &text, unsigned long parts[4]) {
  size_t part = 0, digits = 0;
  parts[0] = parts[1] = parts[2] = parts[3] = 0;
  for (char c : text) {
    if (c == '.') {
      if (digits == 0 || ++part == 4)
        return false;
      digits = 0;
    } else if (c >= '0' && c <= '9' && digits < 9) {
      parts[part] = parts[part] * 10 + static_cast<unsigned long>(c - '0');
      ++digits;
    } else {
      return false;
    }
  }
  return digits > 0;
}

bool Holds(const Expectation &e, Kind kind, const std::string &actual) {
  if (e.regex)
    return MatchEre(e.pattern, actual);
  unsigned long a, b;
  if (kind == kKindNumber && ReadNumber(actual, &a) && ReadNumber(e.value, &b))
    return a == b;
  unsigned long x[4], y[4];
  if (kind == kKindDotted && ReadDotted(actual, x) && ReadDotted(e.value, y))
    return memcmp(x, y, sizeof x) == 0;
  return actual == e.value;
}

const JsonMember *FindMember(const std::vector<JsonMember> &members,
                             const std::string &path) {
  for (const JsonMember &m : members)
    if (m.path == path)
      return &m;
  return nullptr;
}

// A field's value as compared: false when the object lacks it or holds
// null there.
bool FieldValue(const std::string &object,
                const std::vector<JsonMember> &members, const JsonMember &m,
                std::string *actual, Kind *kind) {
  std::string raw = object.substr(m.start, m.end - m.start);
  if (raw == "null")
    return false;
  if (raw[0] == '"') {
    *actual = CsvCell(object, &m);
    unsigned long parts[4];
    *kind = ReadDotted(*actual, parts) ? kKindDotted : kKindText;
    return true;
  }
  if (raw[0] == '{') {
    // language, charset: compared by their id.
    const JsonMember *id = FindMember(members, m.path + ".id");
    if (id != nullptr) {
      *actual = object.substr(id->start, id->end - id->start);
      *kind = kKindNumber;
      return true;
    }
  }
  *actual = raw;
  *kind = raw[0] >= '0' && raw[0] <= '9' ? kKindNumber : kKindText;
  return true;
}

} // namespace

bool ParseExpectation(const char *text, Expectation *out, std::string *error) {
  *out = Expectation();
  const char *equals = strchr(text, '=');
  if (equals == nullptr) {
    *error = "--expect takes NAME=VALUE or NAME~=REGEX";
    return false;
  }
  out->regex = equals > text && equals[-1] == '~';
  size_t nameLength = static_cast<size_t>(equals - text) - (out->regex ? 1 : 0);
  if (nameLength == 0) {
    *error = "--expect needs a name before the =";
    return false;
  }
  out->name.assign(text, nameLength);
  out->value = equals + 1;
  if (!out->regex)
    return true;
  std::string reason;
  if (!EreWithinBounds(out->value.c_str(), &reason)) {
    *error = "--expect " + out->name + "~=" + out->value +
             ": expression refused: " + reason;
    return false;
  }
  out->pattern = CompileEre(out->value.c_str(), &reason);
  if (out->pattern != nullptr)
    return true;
  *error = "--expect " + out->name + "~=" + out->value +
           ": not a valid extended regular expression: " + reason;
  return false;
}

void FreeExpectations(std::vector<Expectation> *expectations) {
  for (Expectation &e : *expectations) {
    FreeEre(e.pattern);
    e.pattern = nullptr;
  }
  expectations->clear();
}

void CheckExpectations(const std::vector<Expectation> &expectations,
                       const std::string &object, const VersionFacts &facts,
                       std::vector<ExpectResult> *results) {
  results->clear();
  std::vector<JsonMember> members;
  IndexJsonObject(object, &members);
  for (const Expectation &e : expectations) {
    ExpectResult r = ExpectResult();
    Kind kind = kKindText;
    const JsonMember *m = FindMember(members, e.name);
    if (m != nullptr) {
      r.found = FieldValue(object, members, *m, &r.actual, &kind);
    } else {
      const VersionText *text = FindVersionString(facts, e.name.c_str());
      r.found = text != nullptr;
      if (r.found)
        r.actual = text->value;
    }
    r.ok = r.found && Holds(e, kind, r.actual);
    results->push_back(r);
  }
}
