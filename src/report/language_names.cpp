// The names the JSON report and --all's table headings give language IDs:
// the detailed report's own text where it has one, so that no name it
// printed changes, else the English name Windows' locale data gives; and
// the language and code page a table key spells.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <iterator>

#include "report.h"
#include "unicode_text.h"

namespace {

struct LanguageNameRow {
  uint16_t id;
  const char *name; // UTF-8
};

// Generated from the locale data by tools/gen_language_names.sh.
#include "language_names.inc"

// The lookup halves the table: the IDs must rise strictly.
constexpr bool Ascending(const LanguageNameRow *rows, size_t count) {
  for (size_t i = 1; i < count; ++i)
    if (rows[i - 1].id >= rows[i].id)
      return false;
  return true;
}
static_assert(Ascending(kLanguageNames, std::size(kLanguageNames)),
              "language_names.inc must be in ascending order of ID");

} // namespace

bool AppendLanguageName(unsigned language, std::string *utf8) {
  const char *classic = LanguageText(language);
  if (classic != nullptr) {
    // Held in code page 1252, as the detailed report prints it.
    AppendCp1252AsUtf8(classic, strlen(classic), utf8);
    return true;
  }
  const LanguageNameRow *end = std::end(kLanguageNames);
  const LanguageNameRow *row = std::lower_bound(
      std::begin(kLanguageNames), end, language,
      [](const LanguageNameRow &r, unsigned id) { return r.id < id; });
  if (row == end || row->id != language)
    return false;
  utf8->append(row->name);
  return true;
}

void AppendHex4(unsigned value, std::string *out) {
  static const char kDigits[] = "0123456789abcdef";
  for (int shift = 12; shift >= 0; shift -= 4)
    out->push_back(kDigits[(value >> shift) & 0xFu]);
}

namespace {

// One hex digit of either case, as the lookup matches table keys without
// regard to case; false for anything else.
bool HexDigit(char c, unsigned *value) {
  if (c >= '0' && c <= '9')
    *value = static_cast<unsigned>(c - '0');
  else if (c >= 'a' && c <= 'f')
    *value = static_cast<unsigned>(c - 'a' + 10);
  else if (c >= 'A' && c <= 'F')
    *value = static_cast<unsigned>(c - 'A' + 10);
  else
    return false;
  return true;
}

} // namespace

bool ReadTableKey(const std::string &key, unsigned *language,
                  unsigned *codePage) {
  if (key.size() != 8)
    return false;
  unsigned halves[2] = {0, 0};
  for (size_t i = 0; i < 8; ++i) {
    unsigned digit;
    if (!HexDigit(key[i], &digit))
      return false;
    halves[i / 4] = halves[i / 4] << 4 | digit;
  }
  *language = halves[0];
  *codePage = halves[1];
  return true;
}
