// --signature in the reports: lines after a file's text report, and the
// "signature" member of its JSON object.
#ifndef QUELVO_SIGNATURE_REPORT_H
#define QUELVO_SIGNATURE_REPORT_H

#include <string>
#include <utility>
#include <vector>

#include "json_writer.h"
#include "platform.h"
#include "signature_facts.h"

struct SignatureChecks;

// Examines the record's file and prints its signature lines, labels and
// values in the report's columns. Values from the file (names, program
// name and URL) print as the report's values do: printable ASCII, or with
// utf8 UTF-8, every control character a space.
void ReportRecordSignature(FileRecord *record, const SignatureChecks *checks,
                           bool utf8);

// The lines alone, for facts at hand.
void PrintSignatureFacts(const SignatureFacts &facts, bool utf8);

// The "signature" value: the object, or null when facts is null.
void WriteSignatureJson(JsonWriter *w, const SignatureFacts *facts);

// The signature as flat columns, for a table-shaped output (--csv): the
// names of kSignatureColumns, in that order, each with its value, empty
// where the facts hold none (facts null: a row that names no file). The
// first signature stands for the file; the columns say how many more.
extern const char *const kSignatureColumns[];
extern const size_t kSignatureColumnCount;
void SignatureColumns(const SignatureFacts *facts,
                      std::vector<std::string> *values);

#endif
