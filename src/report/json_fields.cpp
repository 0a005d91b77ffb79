#include "json_fields.h"

#include <string.h>

#include <string_view>

#include "fact_fields.h"
#include "json_writer.h"
#include "unicode_text.h"

namespace {

struct Scanner {
  const std::string &text;
  size_t at;
};

// Appends a code point as UTF-8.
void AppendUtf8(unsigned cp, std::string *out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

// A string at s->at, decoded into out when given. The writer escapes only
// quotes, backslashes and controls, all in the Basic Multilingual Plane
// and none a surrogate, so \uXXXX is one code point here.
bool ScanString(Scanner *s, std::string *out) {
  const std::string &t = s->text;
  if (s->at >= t.size() || t[s->at] != '"')
    return false;
  const char *base = t.data();
  size_t i = s->at + 1;
  while (i < t.size()) {
    // Runs without a quote or an escape go whole: most strings are one.
    const char *quote =
        static_cast<const char *>(memchr(base + i, '"', t.size() - i));
    if (quote == nullptr)
      return false;
    size_t end = static_cast<size_t>(quote - base);
    const char *escape =
        static_cast<const char *>(memchr(base + i, '\\', end - i));
    size_t run = escape == nullptr ? end : static_cast<size_t>(escape - base);
    if (out != nullptr)
      out->append(base + i, run - i);
    i = run;
    if (escape == nullptr) {
      s->at = end + 1;
      return true;
    }
    if (++i >= t.size())
      return false;
    char e = t[i++];
    unsigned cp = 0;
    switch (e) {
    case 'n':
      cp = '\n';
      break;
    case 'r':
      cp = '\r';
      break;
    case 't':
      cp = '\t';
      break;
    case 'b':
      cp = '\b';
      break;
    case 'f':
      cp = '\f';
      break;
    case 'u':
      if (t.size() - i < 4)
        return false;
      for (size_t k = 0; k < 4; ++k) {
        int d = HexDigit(t[i + k]);
        if (d < 0)
          return false;
        cp = cp * 16 + static_cast<unsigned>(d);
      }
      i += 4;
      break;
    default:
      cp = static_cast<unsigned char>(e); // '"', '\\', '/'
    }
    if (out != nullptr)
      AppendUtf8(cp, out);
  }
  return false;
}

} // namespace

bool ParseFieldList(const char *list, std::vector<std::string> *fields) {
  fields->clear();
  const char *p = list;
  for (;;) {
    const char *comma = strchr(p, ',');
    size_t len = comma == nullptr ? strlen(p) : static_cast<size_t>(comma - p);
    if (len == 0)
      return false;
    fields->emplace_back(p, len);
    if (comma == nullptr)
      return true;
    p = comma + 1;
  }
}

std::vector<std::string> DefaultCsvFields() {
  return {"path",           "status",          "format",
          "machine",        "CompanyName",     "ProductName",
          "ProductVersion", "FileVersion",     "OriginalFilename",
          "file_version",   "product_version", "language"};
}

std::string_view JsonValueText(const char *value, size_t length,
                               std::string *scratch) {
  std::string_view text(value, length);
  if (text == "null")
    return std::string_view();
  if (text.size() >= 2 && text[0] == '"' &&
      memchr(text.data(), '\\', text.size()) == nullptr)
    return text.substr(1, text.size() - 2); // nothing escaped
  if (!text.empty() && text[0] == '"') {
    std::string copy(text);
    std::string decoded;
    Scanner s = {copy, 0};
    if (ScanString(&s, &decoded) && s.at == copy.size()) {
      *scratch = std::move(decoded);
      return *scratch;
    }
  }
  return text;
}

namespace {

bool NeedsQuotes(std::string_view c) {
  if (c.empty())
    return false;
  // What a spreadsheet may take for the start of a formula, TAB and CR
  // among them.
  if (c[0] == '=' || c[0] == '+' || c[0] == '-' || c[0] == '@' ||
      c[0] == '\t' || c[0] == '\r')
    return true;
  // Every byte that asks for quotes is below '-': one comparison passes
  // nearly every byte of a cell.
  for (char ch : c)
    if (static_cast<unsigned char>(ch) < '-' &&
        (ch == ',' || ch == '"' || ch == '\r' || ch == '\n'))
      return true;
  return false;
}

} // namespace

void AppendCsvText(std::string_view c, std::string *line) {
  bool quote = NeedsQuotes(c);
  if (!quote) {
    line->append(c);
    return;
  }
  line->push_back('"');
  for (char ch : c) {
    if (ch == '"')
      line->push_back('"');
    line->push_back(ch);
  }
  line->push_back('"');
}

std::string CsvLine(const std::vector<std::string> &cells) {
  std::string line;
  for (size_t i = 0; i < cells.size(); ++i) {
    if (i != 0)
      line.push_back(',');
    AppendCsvText(cells[i], &line);
  }
  return line;
}
