#include "expect.h"

#include <stdlib.h>
#include <string.h>

#include "fact_fields.h"

namespace {

// How a value compares.
enum Kind {
  kKindText,   // exactly
  kKindNumber, // a JSON number: as a number
  kKindDotted, // a field of dotted numbers: as a version
  kKindId,     // language, charset: by id, in any form the JSON shows
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

// The hex and name forms of an id field, beside its decimal id.
struct IdForms {
  std::string hex;  // four digits, as the JSON's "hex"
  std::string name; // empty when the JSON's "name" is null
};

bool Holds(const Expectation &e, Kind kind, const std::string &actual,
           const IdForms &forms) {
  if (kind == kKindId) {
    if (e.regex)
      return MatchEre(e.pattern, actual) || MatchEre(e.pattern, forms.hex) ||
             (!forms.name.empty() && MatchEre(e.pattern, forms.name));
    unsigned long want, have;
    if (ReadIdValue(e.value, &want) == kIdFormName)
      return !forms.name.empty() && e.value == forms.name;
    return ReadNumber(actual, &have) && want == have;
  }
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

// A member's value as the object holds it, written on its own from the
// facts: JsonShownText gives it as a cell does.
void WriteValue(const FactsField &field, const FileFacts &facts,
                JsonWriter *w) {
  JsonRestart(w);
  field.write(w, facts);
}

// The text of a member as a cell holds it: a string's text, null or no
// member empty.
std::string TextOf(const char *name, const FileFacts &facts, JsonWriter *w) {
  const FactsField *field = FindFactsField(name);
  if (field == nullptr || !FieldPresent(*field, facts, w))
    return std::string();
  WriteValue(*field, facts, w);
  return std::string(JsonShownText(*w));
}

// A field's value as compared: false when the object lacks it or holds
// null there.
bool FieldValue(const FactsField &field, const FileFacts &facts, JsonWriter *w,
                std::string *actual, Kind *kind, IdForms *forms) {
  WriteValue(field, facts, w);
  if (w->shown == kShownNull)
    return false;
  if (JsonShownString(*w)) {
    *actual = std::string(JsonShownText(*w));
    unsigned long parts[4];
    *kind = ReadDotted(*actual, parts) ? kKindDotted : kKindText;
    return true;
  }
  std::string raw(JsonShownText(*w));
  if (raw[0] == '{') {
    // language, charset: compared by their id.
    std::string path(field.name);
    const FactsField *id = FindFactsField(path + ".id");
    if (id != nullptr) {
      WriteValue(*id, facts, w);
      *actual = std::string(JsonShownText(*w));
      *kind = kKindId;
      forms->hex = TextOf((path + ".hex").c_str(), facts, w);
      forms->name = TextOf((path + ".name").c_str(), facts, w);
      return true;
    }
  }
  *actual = raw;
  *kind = raw[0] >= '0' && raw[0] <= '9' ? kKindNumber : kKindText;
  return true;
}

// The member an expectation names, where the object has it: the checks'
// own results are not among them.
const FactsField *MemberOf(const std::string &name, const FileFacts &facts,
                           JsonWriter *w) {
  const FactsField *field = FindFactsField(name);
  if (field == nullptr || field->presence == kFieldWithExpect ||
      field->presence == kFieldWithLint || !FieldPresent(*field, facts, w))
    return nullptr;
  return field;
}

// "strings.X": the picked table's first string of the key X exactly.
const std::string *NamedString(const std::string &name,
                               const FileFacts &facts) {
  if (name.size() <= 8 || name.compare(0, 8, "strings.") != 0 ||
      !facts.examined || !facts.version.hasTable)
    return nullptr;
  for (const VersionText &s : facts.version.strings)
    if (s.key.compare(0, std::string::npos, name, 8, std::string::npos) == 0)
      return &s.value;
  return nullptr;
}

} // namespace

IdForm ReadIdValue(const std::string &text, unsigned long *id) {
  bool hex4 = text.size() == 4 &&
              strspn(text.c_str(), "0123456789abcdefABCDEF") == 4 &&
              (text[0] == '0' || strspn(text.c_str(), "0123456789") != 4);
  if (hex4) {
    *id = strtoul(text.c_str(), nullptr, 16);
    return kIdFormHex;
  }
  if (ReadNumber(text, id))
    return text.size() > 2 && text[0] == '0' && (text[1] | 0x20) == 'x'
               ? kIdFormHex
               : kIdFormDecimal;
  return kIdFormName;
}

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
                       const FileFacts &facts,
                       std::vector<ExpectResult> *results) {
  results->clear();
  JsonWriter w = JsonWriter();
  for (const Expectation &e : expectations) {
    ExpectResult r = ExpectResult();
    Kind kind = kKindText;
    IdForms forms;
    const FactsField *m = MemberOf(e.name, facts, &w);
    const std::string *named = NamedString(e.name, facts);
    if (m != nullptr) {
      r.found = FieldValue(*m, facts, &w, &r.actual, &kind, &forms);
    } else if (named != nullptr) {
      // A string of the object's "strings", as a member is compared.
      r.found = true;
      JsonRestart(&w);
      JsonString(&w, *named);
      r.actual = std::string(JsonShownText(w));
      unsigned long parts[4];
      kind = ReadDotted(r.actual, parts) ? kKindDotted : kKindText;
    } else {
      const VersionText *text =
          FindVersionString(facts.version, e.name.c_str());
      r.found = text != nullptr;
      if (r.found)
        r.actual = text->value;
    }
    r.ok = r.found && Holds(e, kind, r.actual, forms);
    results->push_back(r);
  }
}
