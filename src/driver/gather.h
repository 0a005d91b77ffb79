// One file's record gathered for the run: what the run asks for, and the
// one call that fills a FileFacts from a file the platform opened.
#ifndef QUELVO_GATHER_H
#define QUELVO_GATHER_H

#include "file_facts.h"
#include "platform.h"
#include "platform_extra.h"

struct SignatureChecks;

// What the run asks of each file, beside its version facts.
struct GatherPlan {
  // The version facts, gathered here; the text report reads its own as
  // it prints.
  bool versionFacts;
  VersionPlan version; // what of the version resource, beside the rest
  // The status word and message the object reports (the machine forms,
  // --expect); without, only the stage the facts stop at.
  bool status;
  bool dotnet;                 // --dotnet
  KeyDigester *keys;           // its key tokens; null without SHA-1
  SignatureChecks *signatures; // --signature; null without
  FileHasher *hasher;          // --hash; null without
};

// Whether the plan asks for anything but the path and the examination.
inline bool PlanGathers(const GatherPlan &plan) {
  return plan.versionFacts || plan.status || plan.dotnet ||
         plan.signatures != nullptr || plan.hasher != nullptr;
}

// Fills facts for the record's file: its digest first (so that on POSIX
// the rest reads the file the hash read), then its version facts, .NET
// and signature facts as the plan asks, and the status and message its
// object reports where the plan asks for them (facts->failure then when
// the file could not be read); facts->code in any case.
void GatherFile(FileRecord *record, const GatherPlan &plan, FileFacts *facts);

// The status word and message of an examined file stopped at code (no
// message for "ok"), into facts; facts->failure when that is a failure to
// read the file.
void SetFileStatus(const FileRecord *record, StatusCode code, FileFacts *facts);

#endif
