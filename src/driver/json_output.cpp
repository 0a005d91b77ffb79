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
  // With --hash, "sha256" is null: nothing of the file was read.
  FileDigest none = FileDigest();
  WriteLine(JsonObject(path, status, message.c_str(), nullptr,
                       run->options.hash ? &none : nullptr));
}

void JsonReportFile(RunState *run, FileRecord *record,
                    const FileDigest *digest) {
  const char *path = record->path;
  VersionFacts facts;
  int code = GatherVersionFacts(record, &facts);
  // A file whose digest was asked for and not read is not reported in
  // full: an inventory with a hole in it must not pass for a whole one.
  if (code != kStatusOk || (digest != nullptr && !digest->read))
    ++run->failures;
  if (code == kStatusOk) {
    WriteLine(JsonObject(path, "ok", nullptr, &facts, digest));
    return;
  }
  std::string message = NoVersionMessageText(path);
  WriteLine(
      JsonObject(path, JsonStatusWord(code), message.c_str(), &facts, digest));
}
