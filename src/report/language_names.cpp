// The names the JSON report and --all's table headings give language IDs:
// the detailed report's own text where it has one, so that no name it
// printed changes, else the English name Windows' locale data gives.
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
