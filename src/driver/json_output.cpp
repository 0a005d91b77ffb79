// --json and --csv: one object per line on standard output, or one CSV
// row per object, and the count of those that report a failure, which
// decides the exit status.
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <utility>

#include "json_fields.h"
#include "json_report.h"
#include "platform_extra.h"
#include "run.h"
#include "status.h"
#include "terminal_text.h"
#include "version_facts.h"

namespace {

void WriteLine(const RunState *run, const std::string &line, bool csv) {
  if (run->terminal) {
    // For eyes, not for a program: what a name or value holds that the
    // terminal would act on or that reorders the line is shown escaped.
    std::string shown;
    AppendForTerminal(line, &shown);
    fwrite(shown.data(), 1, shown.size(), stdout);
  } else {
    fwrite(line.data(), 1, line.size(), stdout);
  }
#ifdef _WIN32
  (void)csv; // text mode turns the newline into CR LF already
  putchar('\n');
#else
  // RFC 4180 ends each record with CR LF.
  fputs(csv ? "\r\n" : "\n", stdout);
#endif
}

// One object in the run's form: as written, with only the chosen fields,
// or as a CSV row. The writer notes where the object's members lie, so
// that the fields are picked without reading the object again; the
// members --expect and --lint append after it are found by reading it.
// failure: the object reports one; with --quiet only such objects and
// those of files the checks found something in are written.
void Emit(RunState *run, const char *path, const char *status,
          const char *message, StatusCode checkedCode,
          const VersionFacts *facts, const VersionFacts *checked,
          const JsonExtras &extras, bool failure) {
  if (run->options.quiet && !failure && !run->checks)
    return;
  if (run->csvFromFacts && !run->checks) {
    // Every column is one of the object's plain members or a string by
    // name: the row is written from the facts, the object never.
    std::string line;
    line.reserve(512);
    AppendCsvRowFromFacts(run->fields, path, status, message, facts,
                          &run->csvScratch, &line);
    WriteLine(run, line, true);
    return;
  }
  bool pick = run->options.csv || run->options.fields != nullptr;
  std::vector<JsonMemberSpan> spans, strings;
  bool noted = pick && !run->checks;
  if (noted) {
    spans.reserve(32); // an object's own members, each noted as written
    strings.reserve(16);
  }
  std::string object =
      JsonObject(path, status, message, facts, extras, noted ? &spans : nullptr,
                 noted ? &strings : nullptr, &run->jsonRoom);
  bool found = CheckObject(run, path, checkedCode, checked, &object);
  if (run->options.quiet && !failure && !found) {
    run->jsonRoom = std::move(object);
    return;
  }
  if (!pick) {
    WriteLine(run, object, false);
    run->jsonRoom = std::move(object);
    return;
  }
  std::vector<JsonMember> chosen;
  if (noted)
    chosen = FindFieldSpans(object, spans, run->fields, &strings);
  else
    IndexJsonObject(object, &chosen);
  if (!run->options.csv) {
    WriteLine(run, SelectJsonFields(object, chosen, run->fields), false);
    run->jsonRoom = std::move(object);
    return;
  }
  // The noted spans are found in the fields' order, each under its field.
  std::string line, scratch;
  line.reserve(512); // a row of the default columns, without regrowing
  size_t next = 0;
  for (size_t i = 0; i < run->fields.size(); ++i) {
    const std::string &field = run->fields[i];
    const JsonMember *m = nullptr;
    if (!noted)
      m = FindField(chosen, field);
    else if (next < chosen.size() && chosen[next].path == field)
      m = &chosen[next++];
    if (i != 0)
      line.push_back(',');
    // A row's strings come from the facts: its object was written without
    // "strings" (JsonParts) unless a column names it whole.
    if (m != nullptr || !noted || extras.parts.strings ||
        !AppendNamedStringCell(facts, field, &scratch, &line))
      AppendCsvCell(object, m, &scratch, &line);
  }
  WriteLine(run, line, true);
  run->jsonRoom = std::move(object);
}

// The table a translation entry names, as its key is written: "040904b0".
std::string TableKey(uint32_t translation) {
  char key[16];
  snprintf(key, sizeof key, "%04x%04x", translation & 0xFFFFu,
           translation >> 16);
  return key;
}

// What a file's JSON message says: the text report's one line for all of
// its failures says "does not contain version information"; here each
// stage says what is missing.
std::string MissingText(int code, const char *path, const VersionFacts &f) {
  std::string p = path;
  const char *name = code == kStatusNoCompanyName   ? "CompanyName"
                     : code == kStatusNoDescription ? "FileDescription"
                                                    : "FileVersion";
  switch (code) {
  case kStatusNoVersionInfo:
    return p + " has no version resource.";
  case kStatusReadFailed:
    return "The version resource of " + p + " could not be read.";
  case kStatusNoTranslation:
    return p + " has no \\VarFileInfo\\Translation value.";
  case kStatusNoCompanyName:
  case kStatusNoDescription:
  case kStatusNoVersionString:
    if (!f.hasTable)
      return p + " has no string table " + TableKey(f.translation) + ".";
    return p + " has no " + name + " in its string table " +
           TableKey(f.translation) + ".";
  case kStatusNoFixedInfo:
    return p + " has no fixed version record.";
  default:
    return StatusMessageText(code, path);
  }
}

// Whether a file's stage is a failure to read it, rather than an answer
// about what it holds.
bool IsReadFailure(int code) {
  return code == kStatusReadFailed || code == kStatusOutOfMemory;
}

} // namespace

void StartMachineOutput(RunState *run) {
  if (run->options.csv)
    WriteLine(run, CsvLine(run->fields), true);
}

void JsonFailure(RunState *run, const char *path, const char *status,
                 const std::string &message, bool failure) {
  if (failure)
    ++run->failures;
  // With --hash, "sha256" is null, and with --signature "signature":
  // nothing of the file was read.
  FileDigest none = FileDigest();
  JsonExtras extras = {run->options.hash ? &none : nullptr,
                       run->signatures != nullptr,
                       nullptr,
                       run->options.dotnet,
                       nullptr,
                       JsonParts()};
  Emit(run, path, status, message.c_str(), kStatusOk, nullptr, nullptr, extras,
       failure);
}

namespace {

// The status word and message of an examined file's object (no message
// for "ok"); *failure when it reports a failure to read the file.
const char *FileStatus(const FileRecord *record, StatusCode code,
                       const VersionFacts &facts, std::string *message,
                       bool *failure) {
  const char *path = record->path;
  message->clear();
  *failure = false;
  if (code == kStatusOk)
    return "ok";
  if (code == kStatusNoVersionInfo && record->error != 0) {
    // The file is there but could not be opened: no fact about it.
    *failure = true;
    *message = StatusMessageText(kStatusCannotOpen, path);
    message->pop_back(); // the full stop, after the reason
    *message += ": ";
    *message += strerror(record->error);
    *message += ".";
    return JsonStatusWord(kStatusCannotOpen);
  }
  *failure = IsReadFailure(code);
  *message = MissingText(code, path, facts);
  return JsonStatusWord(code);
}

} // namespace

std::string FileObject(const FileRecord *record, StatusCode code,
                       const VersionFacts &facts, bool *failure) {
  std::string message;
  const char *status = FileStatus(record, code, facts, &message, failure);
  return JsonObject(record->path, status,
                    message.empty() ? nullptr : message.c_str(), &facts);
}

void JsonReportFile(RunState *run, FileRecord *record,
                    const FileDigest *digest) {
  const char *path = record->path;
  // --dotnet: the CLI header's facts beside the resource's, compared.
  DotnetFacts dotnet;
  // The checks read the whole object; a row or a pick of fields only the
  // members its fields can read.
  JsonParts parts = run->checks ? JsonParts() : run->parts;
  VersionFacts facts;
  StatusCode code =
      GatherVersionFacts(record, &facts, run->options.lint, parts.tables);
  SignatureFacts signature;
  if (run->signatures != nullptr)
    QueryRecordSignature(record, run->signatures, &signature);
  const DotnetFacts *with = nullptr;
  if (run->options.dotnet) {
    GatherDotnetFacts(record, run->keys, &facts, &dotnet);
    with = &dotnet;
  }
  // A file that could not be read is a failure; one that holds no version
  // information is an answer. A file whose digest was asked for and not
  // read is not reported in full: an inventory with a hole in it must not
  // pass for a whole one.
  std::string message;
  bool failure;
  const char *status = FileStatus(record, code, facts, &message, &failure);
  bool incomplete = failure || (digest != nullptr && !digest->read);
  if (incomplete)
    ++run->failures;
  JsonExtras extras = {digest,     run->signatures != nullptr,
                       &signature, run->options.dotnet,
                       with,       parts};
  // A file that could not be read is not checked.
  Emit(run, path, status, message.empty() ? nullptr : message.c_str(), code,
       &facts, failure ? nullptr : &facts, extras, incomplete);
}
