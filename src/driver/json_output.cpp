// --json and --csv: each record handed to the run's sink, after the
// checks, and the count of those that report a failure, which decides
// the exit status.
#include <string.h>

#include "gather.h"
#include "output_sink.h"
#include "run.h"
#include "status.h"

namespace {

// What every record of the run carries beside the file's own facts: the
// members the options add, and the checks asked for.
void MarkRunMembers(const RunState *run, FileFacts *facts) {
  facts->withDotnet = run->options.dotnet;
  facts->withSignature = run->signatures != nullptr;
  facts->withDigest = run->options.hash;
  if (run->checks) {
    facts->expectations = &run->expectations;
    facts->withLint = run->options.lint;
  }
}

// One record to the sink. counted: it reports a failure; with --quiet only
// such records and those of files the checks found something in are
// written.
void Emit(RunState *run, FileFacts *facts, bool counted) {
  if (run->options.quiet && !counted && !run->checks)
    return;
  bool found = CheckFacts(run, facts);
  if (run->options.quiet && !counted && !found)
    return;
  if (facts->examined)
    run->sink.file(run->sink.state, facts);
  else
    run->sink.failure(run->sink.state, *facts);
}

} // namespace

void JsonFailure(RunState *run, const char *path, const char *status,
                 const std::string &message, bool failure) {
  if (failure)
    ++run->failures;
  // With --hash, "sha256" is null, and with --signature "signature":
  // nothing of the file was read.
  FileFacts facts;
  facts.path = path;
  facts.status = status;
  facts.hasMessage = true;
  facts.message = message;
  facts.failure = failure;
  MarkRunMembers(run, &facts);
  Emit(run, &facts, failure);
}

void EmitFile(RunState *run, FileFacts *facts) {
  MarkRunMembers(run, facts);
  // A file that could not be read is a failure; one that holds no version
  // information is an answer. A file whose digest was asked for and not
  // read is not reported in full: an inventory with a hole in it must not
  // pass for a whole one.
  bool incomplete =
      facts->failure || (facts->withDigest && !facts->digest.read);
  if (incomplete)
    ++run->failures;
  Emit(run, facts, incomplete);
}
