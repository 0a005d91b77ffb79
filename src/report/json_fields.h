// Choosing fields of the objects --json writes: for --fields (a chosen
// subset of the keys, in a chosen order) and for --csv (one row per
// object). Both read the object as written, so a CSV cell always holds
// what the JSON value holds.
#ifndef QUELVO_JSON_FIELDS_H
#define QUELVO_JSON_FIELDS_H

#include <stddef.h>

#include <string>
#include <string_view>
#include <vector>

#include "json_writer.h"
#include "version_facts.h"

// One member of an object, nested objects' members included: its dotted
// path ("fixed.file_flags", "strings.ProductName") and where its value's
// text lies in the object.
struct JsonMember {
  std::string path;
  size_t start;
  size_t end;
};

// Lists the members of an object that JsonObject wrote, in order. Arrays
// are values of their own; their elements are not listed. False, with the
// members listed so far, when the text is no such object.
bool IndexJsonObject(const std::string &object,
                     std::vector<JsonMember> *members);
// The same for only the members that fields can name (FindField), which is
// all a row or a chosen object needs.
bool IndexJsonFields(const std::string &object,
                     const std::vector<std::string> &fields,
                     std::vector<JsonMember> *members);

// Splits a --fields list at its commas. False for an empty list or an
// empty name.
bool ParseFieldList(const char *list, std::vector<std::string> *fields);

// The columns --csv prints without --fields.
std::vector<std::string> DefaultCsvFields();

// Where a field's value lies: the member of that path, or, for a name
// without a dot that is no key of the object, the string of that name
// ("ProductName" is "strings.ProductName"). Null when there is none.
const JsonMember *FindField(const std::vector<JsonMember> &members,
                            const std::string &field);

// Where a field's value lies in an object whose own members' places the
// writer noted (JsonObject's members): a member of the object, a dotted
// path into one of them, or a string's name in "strings". Only the member
// a path leads into is read again. False when there is none.
bool FindFieldSpan(const std::string &object,
                   const std::vector<JsonMemberSpan> &members,
                   const std::string &field, JsonMember *found);
// FindFieldSpan for each of fields, reading each member a path leads into
// once however many fields lead into it; the found ones, in order. With
// strings (where the writer noted each string of "strings"), a string's
// name is found there without reading "strings" again.
std::vector<JsonMember>
FindFieldSpans(const std::string &object,
               const std::vector<JsonMemberSpan> &members,
               const std::vector<std::string> &fields,
               const std::vector<JsonMemberSpan> *strings = nullptr);

// The object with only the chosen fields, in their order, each under its
// name as given; a field the object lacks is null.
std::string SelectJsonFields(const std::string &object,
                             const std::vector<JsonMember> &members,
                             const std::vector<std::string> &fields);

// One CSV line (RFC 4180: a cell is quoted when it holds a comma, a quote,
// a line end, or starts with '=', '+', '-', '@' or a TAB, so that a
// spreadsheet takes it as text; quotes are doubled), without its line end. A
// string is its text, null an empty cell, a number or true/false its digits or
// word, an object or array its JSON text.
std::string CsvLine(const std::vector<std::string> &cells);
std::string CsvCell(const std::string &object, const JsonMember *member);
// A cell's text, quoted as CsvLine quotes it, appended to line.
void AppendCsvText(std::string_view text, std::string *line);

// The cell of the picked table's string that a column names
// ("ProductName" or "strings.ProductName"), from the facts, as the
// object's "strings" would give it: the first string whose key is the name
// exactly (the one "strings" keeps of a key stored twice), its text made
// valid UTF-8 as the writer makes it. False, appending nothing, when the
// facts have no such string.
bool AppendNamedStringCell(const VersionFacts *facts, const std::string &field,
                           std::string *scratch, std::string *line);

// CsvCell's text, quoted as CsvLine quotes it, appended to line without a
// separator; scratch holds a decoded string on the way.
void AppendCsvCell(const std::string &object, const JsonMember *member,
                   std::string *scratch, std::string *line);

#endif
