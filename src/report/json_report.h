// One line of --json output: the object for one file, or for an argument
// that matched nothing or could not be examined. The keys are documented
// in doc/reference.md and in schema/quelvo.schema.json.
#ifndef QUELVO_JSON_REPORT_H
#define QUELVO_JSON_REPORT_H

#include <string>

#include "dotnet_report.h"
#include "file_facts.h"
#include "json_writer.h"
#include "signature_facts.h"
#include "version_facts.h"

// The members of an object that cost most to gather and write, each
// written whole or left out whole: every one for a file's object. What a
// list of fields reads of them decides what is gathered for it (every
// table's strings only for "string_tables").
struct JsonParts {
  bool strings = true;      // "strings"
  bool tables = true;       // "string_tables"
  bool translations = true; // "translations" and "languages"
  bool version = true;      // "version"
};

// The parts the fields can read: a member a field names, or one on its
// dotted path, or "strings" for a field without a dot (a string's name).
// With namesFromFacts (a cell of a string's name taken from the record,
// not from "strings") "strings" only where a field names it whole.
JsonParts PartsForFields(const std::vector<std::string> &fields,
                         bool namesFromFacts = false);

// What the opt-in options add to an object: "dotnet" (--dotnet: a .NET
// file's own identity, null for other files), "signature" (--signature: the
// facts' object, or null for an argument that names no file) and, last,
// "sha256" (--hash: the digest, or null when the file was not read whole).
struct JsonExtras {
  const FileDigest *digest;
  bool withSignature;
  const SignatureFacts *signature;
  bool withDotnet; // --dotnet: "dotnet", the facts or null
  const DotnetFacts *dotnet;
  JsonParts parts;
};

// Builds the object, without its newline, always valid UTF-8. status is
// "ok" or the failure's word; message is the failure's text (null for
// "ok"); facts is null when the file was not examined, and every key that
// comes from it is then null. With room, the object is written in its
// buffer (the text of an object before, given back after use), which it
// takes.
std::string JsonObject(const char *path, const char *status,
                       const char *message, const VersionFacts *facts,
                       const JsonExtras &extras = JsonExtras(),
                       std::string *room = nullptr);

// The object of one file's record, "expect" and "lint" included where the
// run checks, into w (which may hold the text of an object before, whose
// room it reuses once cleared: w->used 0).
void WriteFileObject(JsonWriter *w, const FileFacts &facts);

#endif
