// --json: one object per line on standard output, and the count of those
// that report a failure, which decides the exit status.
#include <stdio.h>

#include "json_report.h"
#include "platform_extra.h"
#include "run.h"
#include "status.h"
#include "version_facts.h"

namespace {

struct StatusWord {
  int code;
  const char *word;
};

// One word per stage at which an argument or a file can fail. The file's
// stages follow the text report's, which says "does not contain version
// information" for all of them.
const StatusWord kStatusWords[] = {
    {kStatusOk, "ok"},
    {kStatusNotFound, "not-found"},
    {kStatusCannotOpen, "unreadable"},
    {kStatusFolderFailed, "unreadable-folder"},
    {kStatusNoVersionInfo, "no-version"},
    {kStatusOutOfMemory, "out-of-memory"},
    {kStatusReadFailed, "read-failed"},
    {kStatusNoTranslation, "no-translation"},
    {kStatusNoCompanyName, "no-company-name"},
    {kStatusNoDescription, "no-file-description"},
    {kStatusNoVersionString, "no-file-version"},
    {kStatusNoFixedInfo, "no-fixed-info"},
};

void WriteLine(const std::string &object) {
  fwrite(object.data(), 1, object.size(), stdout);
  putchar('\n');
}

} // namespace

const char *JsonStatusWord(int code) {
  for (const StatusWord &s : kStatusWords)
    if (s.code == code)
      return s.word;
  return "internal-error";
}

void JsonFailure(RunState *run, const char *path, const char *status,
                 const std::string &message) {
  ++run->failures;
  if (run->signatures != nullptr)
    WriteLine(JsonObjectWithSignature(path, status, message.c_str(), nullptr,
                                      nullptr));
  else
    WriteLine(JsonObject(path, status, message.c_str(), nullptr));
}

void JsonReportFile(RunState *run, FileRecord *record) {
  const char *path = record->path;
  VersionFacts facts;
  int code = GatherVersionFacts(record, &facts);
  std::string message;
  const char *status = "ok";
  if (code != kStatusOk) {
    ++run->failures;
    message = NoVersionMessageText(path);
    status = JsonStatusWord(code);
  }
  const char *text = code == kStatusOk ? nullptr : message.c_str();
  if (run->signatures == nullptr) {
    WriteLine(JsonObject(path, status, text, &facts));
    return;
  }
  SignatureFacts signature;
  QueryRecordSignature(record, run->signatures, &signature);
  WriteLine(JsonObjectWithSignature(path, status, text, &facts, &signature));
}
