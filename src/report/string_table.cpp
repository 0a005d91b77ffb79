// The --all and --utf8 additions to the text report: every other string of
// the table and every other table, and values printed in UTF-8.
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "ascii_case.h"
#include "decimal.h"
#include "platform_extra.h"
#include "report.h"
#include "terminal_text.h"
#include "unicode_text.h"

namespace {

// Values start in this column, after a label, a colon and padding.
const size_t kValueColumn = 19;
// The classic labels leave at least two spaces after the colon.
const size_t kMinimumPadding = 2;

// The other strings come under a heading of their own, each line indented:
// a key is whatever the file stores, and only the indent keeps one that
// reads "Program Name" or "Version Number" from passing for the report's
// own line. No label of the report starts with a space.
const char kOtherStringsHeading[] = "\nOther Strings:";
const char kOtherStringsIndent[] = "  ";

bool IsControl(unsigned codePoint) {
  return codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F);
}

// Compares a stored key with an ASCII name, folding ASCII letters only,
// which is all the lookup can fold in these names.
bool KeyIs(const std::u16string &key, const char *name) {
  return KeyEqualsAscii(key.data(), key.size(), name);
}

// Prints text as the report prints values: in UTF-8, or in the ANSI code
// page through the one-byte-per-character printer. Returns the columns it
// took, one per character.
size_t PrintText(const std::u16string &text, bool utf8) {
  std::string out;
  if (utf8) {
    AppendUnitsAsUtf8(text.data(), text.size(), &out);
    return PrintSafeUtf8(out.data(), out.size());
  }
  AppendUnitsAsAnsi(text.data(), text.size(), &out);
  // A zero that the conversion let through would end the printed string
  // early; it is a control character like any other.
  for (char &c : out)
    if (c == '\0')
      c = ' ';
  PrintSafeString(out.c_str());
  return out.size();
}

// One string on a line of its own, indented: the key as stored, a colon
// and padding up to the values' column, the value.
void PrintIndentedString(const VersionString &s, bool utf8) {
  putchar('\n');
  fputs(kOtherStringsIndent, stdout);
  size_t width = PrintText(s.key, utf8) + 1;
  putchar(':');
  size_t padding = width + kMinimumPadding < kValueColumn ? kValueColumn - width
                                                          : kMinimumPadding;
  printf("%*s", static_cast<int>(padding), "");
  PrintText(s.value, utf8);
}

// UTF-8 that is ours (the table names, and stored text the reader already
// converted) back to UTF-16 for the printer; an ill-formed part would
// become U+FFFD.
std::u16string Utf16(const std::string &utf8) {
  std::u16string out;
  const unsigned char *p = reinterpret_cast<const unsigned char *>(utf8.data());
  size_t i = 0;
  while (i < utf8.size()) {
    bool wellFormed;
    size_t len = Utf8SequenceLength(p + i, utf8.size() - i, &wellFormed);
    unsigned c = 0xFFFD;
    if (wellFormed) {
      static const unsigned kLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
      c = p[i] & kLeadMask[len];
      for (size_t k = 1; k < len; ++k)
        c = c << 6 | (p[i + k] & 0x3Fu);
    }
    if (c >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
    i += len;
  }
  return out;
}

// The heading of a table other than the report's: it starts as no label of
// the report does, and the key, whatever the file stores, stands last in
// parentheses, where no text of its own can pass for a label.
std::u16string TableHeading(const std::u16string &key) {
  std::string storedKey;
  AppendUnitsAsUtf8(key.data(), key.size(), &storedKey);
  std::string text = "Strings in ";
  unsigned language, codePage;
  if (ReadTableKey(storedKey, &language, &codePage)) {
    if (!AppendLanguageName(language, &text)) {
      text += "language ";
      AppendHex4(language, &text);
    }
    text += ", ";
    const char *charset = CharacterSetText(codePage);
    if (charset != nullptr) {
      AppendCp1252AsUtf8(charset, strlen(charset), &text);
    } else {
      char digits[kMaxDecimalDigits];
      text += "code page ";
      text.append(digits, FormatDecimal(codePage, digits));
    }
  } else {
    text += "a table of no language";
  }
  text += " (";
  text += storedKey;
  text += "):";
  return Utf16(text);
}

} // namespace

size_t PrintSafeUtf8(const char *text, size_t length) {
  const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
  std::string out;
  out.reserve(length);
  size_t columns = 0;
  size_t i = 0;
  while (i < length) {
    bool wellFormed;
    size_t len = Utf8SequenceLength(p + i, length - i, &wellFormed);
    unsigned codePoint = wellFormed ? Utf8CodePoint(p + i, len) : 0xFFFD;
    if (IsControl(codePoint) || codePoint == 0x2028 || codePoint == 0x2029) {
      out.push_back(' ');
    } else if (IsBidiControl(codePoint)) {
      // Shown, not obeyed: one would turn the rest of the line around.
      AppendCodePointEscape(codePoint, &out);
      columns += 5;
    } else if (!wellFormed) {
      // Never the bytes themselves: a lone 0x9B is CSI to a terminal
      // that reads a byte a character.
      out += "\xEF\xBF\xBD";
    } else {
      out.append(text + i, len);
    }
    ++columns;
    i += len;
  }
  fwrite(out.data(), 1, out.size(), stdout);
  return columns;
}

void PrintOtherStrings(const void *block, size_t blockSize, DWORD translation,
                       DWORD fileFlags, bool utf8) {
  std::vector<VersionString> strings;
  if (!ListTableStrings(block, blockSize, translation, &strings))
    return;
  const char *shownNames[] = {"CompanyName", "FileDescription", "FileVersion",
                              (fileFlags & 0x08) ? "PrivateBuild" : nullptr,
                              (fileFlags & 0x20) ? "SpecialBuild" : nullptr};
  // Each classic line shows the first string its lookup matches; any later
  // string under the same name is one the report has not shown.
  bool shown[sizeof shownNames / sizeof shownNames[0]] = {};
  bool headed = false;
  for (const VersionString &s : strings) {
    bool skip = false;
    for (size_t n = 0; n < sizeof shownNames / sizeof shownNames[0]; ++n)
      if (shownNames[n] != nullptr && !shown[n] &&
          KeyIs(s.key, shownNames[n])) {
        shown[n] = true;
        skip = true;
        break;
      }
    if (skip)
      continue;
    if (!headed)
      fputs(kOtherStringsHeading, stdout);
    headed = true;
    PrintIndentedString(s, utf8);
  }
}

namespace {

// A table's heading and its strings, one a line, each line but the last
// ending where the next begins.
void PrintTable(const VersionTable &table, bool utf8) {
  PrintText(TableHeading(table.key), utf8);
  for (const VersionString &s : table.strings)
    PrintIndentedString(s, utf8);
}

} // namespace

void PrintOtherTables(const void *block, size_t blockSize, DWORD translation,
                      bool utf8) {
  std::vector<VersionTable> tables;
  size_t chosen;
  if (!ListStringTables(block, blockSize, translation, &tables, &chosen))
    return;
  for (size_t i = 0; i < tables.size(); ++i) {
    if (i == chosen)
      continue;
    putchar('\n');
    PrintTable(tables[i], utf8);
  }
}

void PrintEveryTable(const void *block, size_t blockSize, bool utf8) {
  std::vector<VersionTable> tables;
  size_t chosen;
  if (!ListStringTables(block, blockSize, 0, &tables, &chosen))
    return;
  for (const VersionTable &table : tables) {
    PrintTable(table, utf8);
    putchar('\n');
  }
}
