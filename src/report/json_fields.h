// Choosing fields of the objects --json writes: for --fields (a chosen
// subset of the keys, in a chosen order) and for --csv (one row per
// object). The values themselves are written from each file's record
// (fact_fields.h).
#ifndef QUELVO_JSON_FIELDS_H
#define QUELVO_JSON_FIELDS_H

#include <stddef.h>

#include <string>
#include <string_view>
#include <vector>

// Splits a --fields list at its commas. False for an empty list or an
// empty name.
bool ParseFieldList(const char *list, std::vector<std::string> *fields);

// The columns --csv prints without --fields.
std::vector<std::string> DefaultCsvFields();

// One CSV line (RFC 4180: a cell is quoted when it holds a comma, a quote,
// a line end, or starts with '=', '+', '-', '@' or a TAB, so that a
// spreadsheet takes it as text; quotes are doubled), without its line end.
// A cell holds a value as JsonShownText gives it: a string its text, null
// nothing, a number or true/false its digits or word, an object or array
// its JSON text.
std::string CsvLine(const std::vector<std::string> &cells);
// A cell's text, quoted as CsvLine quotes it, appended to line.
void AppendCsvText(std::string_view text, std::string *line);

#endif
