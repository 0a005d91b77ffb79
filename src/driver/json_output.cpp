// --json: one object per line on standard output, and the count of those
// that report a failure, which decides the exit status.
#include <stdio.h>

#include "json_report.h"
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
  if (run->options.dotnet)
    WriteLine(
        JsonObjectWithDotnet(path, status, message.c_str(), nullptr, nullptr));
  else
    WriteLine(JsonObject(path, status, message.c_str(), nullptr));
}

void JsonReportFile(RunState *run, FileRecord *record) {
  const char *path = record->path;
  // --dotnet: the CLI header's facts, noted by the size query from the
  // file it opens, beside the resource's, compared.
  DotnetFacts dotnet;
  if (run->options.dotnet)
    record->dotnet = &dotnet.info;
  VersionFacts facts;
  int code = GatherVersionFacts(record, &facts);
  if (run->options.dotnet) {
    GatherDotnetFacts(record, &facts, &dotnet);
    record->dotnet = nullptr;
  }
  const DotnetFacts *with = run->options.dotnet ? &dotnet : nullptr;
  if (code == kStatusOk) {
    WriteLine(with != nullptr
                  ? JsonObjectWithDotnet(path, "ok", nullptr, &facts, with)
                  : JsonObject(path, "ok", nullptr, &facts));
    return;
  }
  ++run->failures;
  std::string message = NoVersionMessageText(path);
  const char *word = JsonStatusWord(code);
  WriteLine(with != nullptr ? JsonObjectWithDotnet(path, word, message.c_str(),
                                                   &facts, with)
                            : JsonObject(path, word, message.c_str(), &facts));
}
