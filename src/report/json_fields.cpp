#include "json_fields.h"

#include <string.h>

#include <string_view>

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
