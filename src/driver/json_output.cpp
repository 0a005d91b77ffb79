// --json and --csv: one object per line on standard output, or one CSV
// row per object, and the count of those that report a failure, which
// decides the exit status.
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "json_fields.h"
#include "json_report.h"
#include "run.h"
#include "status.h"
#include "version_facts.h"

namespace {

void WriteLine(const std::string &line, bool csv) {
  fwrite(line.data(), 1, line.size(), stdout);
#ifdef _WIN32
  (void)csv; // text mode turns the newline into CR LF already
  putchar('\n');
#else
  // RFC 4180 ends each record with CR LF.
  fputs(csv ? "\r\n" : "\n", stdout);
#endif
}

// One object in the run's form: as written, with only the chosen fields,
// or as a CSV row.
void Emit(RunState *run, const std::string &object) {
  if (!run->options.csv && run->options.fields == nullptr) {
    WriteLine(object, false);
    return;
  }
  std::vector<JsonMember> members;
  IndexJsonObject(object, &members);
  if (!run->options.csv) {
    WriteLine(SelectJsonFields(object, members, run->fields), false);
    return;
  }
  std::vector<std::string> cells;
  for (const std::string &field : run->fields)
    cells.push_back(CsvCell(object, FindField(members, field)));
  WriteLine(CsvLine(cells), true);
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
    WriteLine(CsvLine(run->fields), true);
}

void JsonFailure(RunState *run, const char *path, const char *status,
                 const std::string &message, bool failure) {
  if (failure)
    ++run->failures;
  std::string object = JsonObject(path, status, message.c_str(), nullptr);
  CheckObject(run, path, kStatusOk, nullptr, &object);
  Emit(run, object);
}

std::string FileObject(const FileRecord *record, StatusCode code,
                       const VersionFacts &facts, bool *failure) {
  const char *path = record->path;
  *failure = false;
  if (code == kStatusOk)
    return JsonObject(path, "ok", nullptr, &facts);
  if (code == kStatusNoVersionInfo && record->error != 0) {
    // The file is there but could not be opened: no fact about it.
    *failure = true;
    std::string message = StatusMessageText(kStatusCannotOpen, path);
    message.pop_back(); // the full stop, after the reason
    message += ": ";
    message += strerror(record->error);
    message += ".";
    return JsonObject(path, JsonStatusWord(kStatusCannotOpen), message.c_str(),
                      &facts);
  }
  *failure = IsReadFailure(code);
  std::string message = MissingText(code, path, facts);
  return JsonObject(path, JsonStatusWord(code), message.c_str(), &facts);
}

void JsonReportFile(RunState *run, FileRecord *record) {
  VersionFacts facts;
  StatusCode code = GatherVersionFacts(record, &facts, run->options.lint);
  bool failure;
  std::string object = FileObject(record, code, facts, &failure);
  if (failure)
    ++run->failures;
  // A file that could not be read is not checked.
  CheckObject(run, record->path, code, failure ? nullptr : &facts, &object);
  Emit(run, object);
}
