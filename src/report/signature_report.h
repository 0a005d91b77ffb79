// --signature in the reports: lines after a file's text report, and the
// "signature" member of its JSON object.
#ifndef QUELVO_SIGNATURE_REPORT_H
#define QUELVO_SIGNATURE_REPORT_H

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

#endif
