// One record of everything reported about one file (or about an argument
// that named none): gathered once, then read by every output form and by
// the checks, so that a new form renders the record rather than another
// form's text.
#ifndef QUELVO_FILE_FACTS_H
#define QUELVO_FILE_FACTS_H

#include <optional>
#include <string>
#include <vector>

#include "dotnet_report.h"
#include "lint.h"
#include "signature_facts.h"
#include "status.h"
#include "version_facts.h"

struct Expectation;

// What one expectation found in one file.
struct ExpectResult {
  bool found;         // the file has the name
  std::string actual; // its text as compared, when found
  bool ok;
};

struct FileFacts {
  // The path as reported: as the platform spells it, of any length (a
  // member of a container will be "outer.zip!/inner/x.dll").
  std::string path;
  // The status word ("ok", "not-found", ...) and the failure's text, as
  // the platform spells the path it names; none for "ok".
  const char *status = "ok";
  bool hasMessage = false;
  std::string message;
  // Counted as a failure for the exit status (a file not read, or read
  // without the digest asked for).
  bool failure = false;
  // A file was examined: the version facts and the facts below it are
  // its own. Without, every value of the file is null.
  bool examined = false;
  StatusCode code = kStatusOk; // the stage the version facts stop at
  // The text report: the examined file's open record, which it reads as
  // it prints; null for the machine forms, which read the facts alone.
  FileRecord *record = nullptr;
  // Filled by the gathering of an examined file, and read only then: left
  // unset otherwise, as clearing it costs a record more than the rest.
  VersionFacts version;
  // What the run asked for beside the version facts, each reported (as
  // null where the file gave none) only when asked; the facts are there
  // only where they were gathered, so that a record of a run that asks for
  // neither costs nothing for them.
  bool withDotnet = false;
  std::optional<DotnetFacts> dotnet;
  bool withSignature = false;
  std::optional<SignatureFacts> signature;
  bool withDigest = false;
  FileDigest digest = FileDigest();
  // --expect and --lint: the checks the run asks for and, where the file
  // was checked, what they found.
  const std::vector<Expectation> *expectations = nullptr; // null: none
  bool withLint = false;
  bool checked = false;
  std::vector<ExpectResult> expectResults;
  std::vector<LintFinding> lintFindings;
};

#endif
