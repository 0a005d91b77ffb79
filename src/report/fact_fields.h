// The members of a file's object as --fields, --csv and --expect name
// them ("status", "fixed.file_flags", "signature.catalog.signer.subject"),
// each with the writer of its value from the facts: a chosen field is
// written from the record, never picked out of another form's text.
#ifndef QUELVO_FACT_FIELDS_H
#define QUELVO_FACT_FIELDS_H

#include <stddef.h>

#include <string>
#include <string_view>
#include <vector>

#include "file_facts.h"
#include "json_writer.h"

// Which of the run's options a member comes with: without it the object
// has no such member (and a name without a dot is then a string's name).
enum FieldPresence {
  kFieldAlways,
  kFieldWithDotnet,
  kFieldWithSignature,
  kFieldWithDigest,
  kFieldWithExpect,
  kFieldWithLint,
};

typedef void (*FactsWriter)(JsonWriter *w, const FileFacts &facts);

struct FactsField {
  std::string_view name; // a key, or a dotted path into one
  FieldPresence presence;
  FactsWriter write; // the value, exactly as the whole object holds it
};

// The object's own keys and the paths into its version members
// (json_report.cpp), into "signature" (signature_report.cpp) and into
// "dotnet" (dotnet_report.cpp).
extern const FactsField kObjectFields[];
extern const size_t kObjectFieldCount;
extern const FactsField kSignatureFields[];
extern const size_t kSignatureFieldCount;
extern const FactsField kDotnetFields[];
extern const size_t kDotnetFieldCount;

// The member a key or dotted path names, or null.
const FactsField *FindFactsField(std::string_view name);

// Whether a file's object has the member: its option was given and, for a
// path, every member on the way to it is an object.
bool FieldPresent(const FactsField &field, const FileFacts &facts,
                  JsonWriter *scratch);

// One --fields name, resolved once for the run.
struct FieldChoice {
  std::string name;
  const FactsField *field; // the member it names; null: a string only
  // The string of the picked table it names where the object has no such
  // member: "X" of "strings.X", or the whole name where it has no dot;
  // none (hasStringKey false) for any other dotted name.
  std::string stringKey;
  bool hasStringKey;
};

FieldChoice ChooseField(const std::string &name);

// The chosen field's value as the whole object holds it: the member's,
// else the picked table's first string of that key exactly, else null.
void WriteChosenField(JsonWriter *w, const FieldChoice &choice,
                      const FileFacts &facts);

// What a CSV row reuses from one cell to the next.
struct CellScratch {
  JsonWriter value = JsonWriter(); // one value as the object holds it
  std::string text; // a string made valid UTF-8 on its way to a cell
};

// The chosen field's cell (CsvLine's quoting), appended to line: a
// string its text, null nothing, anything else its JSON text.
void AppendChosenCell(const FieldChoice &choice, const FileFacts &facts,
                      CellScratch *scratch, std::string *line);

#endif
