// --json: one object per line on standard output, and the count of those
// that report a failure, which decides the exit status.
#include <stdio.h>

#include "json_report.h"
#include "run.h"
#include "status.h"
#include "version_facts.h"

namespace {

void WriteLine(const std::string &object) {
  fwrite(object.data(), 1, object.size(), stdout);
  putchar('\n');
}

} // namespace

void JsonFailure(RunState *run, const char *path, const char *status,
                 const std::string &message) {
  ++run->failures;
  WriteLine(JsonObject(path, status, message.c_str(), nullptr));
}

void JsonReportFile(RunState *run, FileRecord *record) {
  const char *path = record->path;
  VersionFacts facts;
  int code = GatherVersionFacts(record, &facts);
  if (code == kStatusOk) {
    WriteLine(JsonObject(path, "ok", nullptr, &facts));
    return;
  }
  ++run->failures;
  std::string message = NoVersionMessageText(path);
  WriteLine(JsonObject(path, JsonStatusWord(code), message.c_str(), &facts));
}
