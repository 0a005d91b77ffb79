#include "gather.h"

#include <stdio.h>
#include <string.h>

#include "dotnet_report.h"
#include "run.h"
#include "version_facts.h"

namespace {

// The table a translation entry names, as its key is written: "040904b0".
std::string TableKey(uint32_t translation) {
  char key[16];
  snprintf(key, sizeof key, "%04x%04x", translation & 0xFFFFu,
           translation >> 16);
  return key;
}

// What a file's message says: the text report's one line for all of its
// failures says "does not contain version information"; here each stage
// says what is missing.
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

void SetFileStatus(const FileRecord *record, StatusCode code,
                   FileFacts *facts) {
  const char *path = record->path;
  facts->code = code;
  facts->message.clear();
  facts->hasMessage = false;
  facts->failure = false;
  if (code == kStatusOk) {
    facts->status = "ok";
    return;
  }
  facts->hasMessage = true;
  if (code == kStatusNoVersionInfo && record->error != 0) {
    // The file is there but could not be opened: no fact about it.
    facts->failure = true;
    facts->message = StatusMessageText(kStatusCannotOpen, path);
    facts->message.pop_back(); // the full stop, after the reason
    facts->message += ": ";
    facts->message += strerror(record->error);
    facts->message += ".";
    facts->status = JsonStatusWord(kStatusCannotOpen);
    return;
  }
  facts->failure = IsReadFailure(code);
  facts->message = MissingText(code, path, facts->version);
  facts->status = JsonStatusWord(code);
}

// Every call into the platform's per-file services is made here, in the
// order the file is best read in.
void GatherFile(FileRecord *record, const GatherPlan &plan, FileFacts *facts) {
  facts->path = record->path;
  facts->examined = true;
  facts->withDigest = plan.hasher != nullptr;
  if (facts->withDigest)
    facts->digest.read =
        HashRecordFile(plan.hasher, record, facts->digest.sha256) == 0;
  facts->withDotnet = plan.dotnet;
  StatusCode code = kStatusOk;
  if (plan.versionFacts)
    code = GatherVersionFacts(record, &facts->version, plan.version);
  facts->withSignature = plan.signatures != nullptr;
  if (facts->withSignature)
    QueryRecordSignature(record, plan.signatures, &facts->signature.emplace());
  // --dotnet: the CLI header's facts beside the resource's, compared.
  if (plan.dotnet)
    GatherDotnetFacts(record, plan.keys, &facts->version,
                      &facts->dotnet.emplace());
  facts->code = code;
  if (plan.status)
    SetFileStatus(record, code, facts);
}
