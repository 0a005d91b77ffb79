// --expect and --lint: each examined file checked, the failures said on
// standard error in the text form or put into each object in the machine
// forms, and counted for the exit status.
#include <stdio.h>
#include <string.h>
#ifdef _WIN32
#include <io.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "check_report.h"
#include "fact_fields.h"
#include "gather.h"
#include "report.h"
#include "run.h"
#include "status.h"

namespace {

// The path as the text report prints it, on standard error, after what the
// report wrote so far where both streams reach one file (a terminal, a log
// of both), so that the two interleave there.
void PrintPathToError(const RunState *run, const char *path) {
  if (run->sharedStreams)
    fflush(stdout);
  PrintSafePathTo(stderr, path);
}

// Whether standard output and standard error reach the same file that
// keeps what it is given: a device other than a terminal (/dev/null) keeps
// no order to mind.
bool SharedStreams() {
#ifdef _WIN32
  return _isatty(1) && _isatty(2);
#else
  struct stat out, err;
  return fstat(STDOUT_FILENO, &out) == 0 && fstat(STDERR_FILENO, &err) == 0 &&
         out.st_dev == err.st_dev && out.st_ino == err.st_ino &&
         (!S_ISCHR(out.st_mode) || isatty(STDOUT_FILENO));
#endif
}

} // namespace

bool SetUpChecks(RunState *run) {
  const RunOptions &o = run->options;
  run->checks = o.lint || !o.expects.empty();
  if (run->checks)
    run->sharedStreams = SharedStreams();
  if (!o.lintIgnores.empty() && !o.lint) {
    fprintf(stderr, "quelvo: --lint-ignore turns off a rule of --lint; "
                    "give --lint too\n");
    return false;
  }
  for (const char *list : o.lintIgnores)
    if (!IgnoreLintRules(list, &run->lint)) {
      fprintf(stderr,
              "quelvo: --lint-ignore %s: not a rule's ID (QV001 to QV%03d, "
              "separated by commas)\n",
              list, kLintRuleCount);
      return false;
    }
  for (const char *text : o.expects) {
    Expectation e;
    std::string error;
    if (!ParseExpectation(text, &e, &error)) {
      fprintf(stderr, "quelvo: %s\n", error.c_str());
      return false;
    }
    run->expectations.push_back(e);
  }
  return true;
}

void FinishChecks(RunState *run) { FreeExpectations(&run->expectations); }

namespace {

// The checks of one file: results of the expectations and findings of the
// rules asked for, into its record, counted for the summary; whether any
// found anything (an expectation that did not hold, a finding of either
// severity). Only an expectation that did not hold or an error fails the
// file.
bool RunChecks(RunState *run, FileFacts *facts) {
  ++run->checkedFiles;
  facts->checked = true;
  int errors = 0, unmet = 0;
  if (!run->expectations.empty()) {
    CheckExpectations(run->expectations, *facts, &facts->expectResults);
    for (const ExpectResult &r : facts->expectResults)
      unmet += r.ok ? 0 : 1;
  }
  std::vector<LintFinding> &findings = facts->lintFindings;
  findings.clear(); // the text form's record is the file before's too
  if (run->options.lint) {
    LintVersionFacts(facts->path.c_str(), facts->code, facts->version,
                     run->lint, &findings);
    for (const LintFinding &f : findings)
      errors += f.severity == kLintError ? 1 : 0;
  }
  run->failedExpectations += unmet;
  run->lintErrors += errors;
  run->lintWarnings += static_cast<int>(findings.size()) - errors;
  if (errors > 0 || unmet > 0)
    ++run->failedChecks;
  return unmet > 0 || !findings.empty();
}

} // namespace

void CheckTextFile(RunState *run, FileRecord *record, FileFacts *facts) {
  if (!run->checks)
    return;
  // The text report prints the record's path; the checks read the facts'.
  facts->path = record->path;
  // The report's own stage fails to read where the facts' does: both
  // come from one block.
  StatusCode code = facts->code;
  bool readFailure = (code == kStatusNoVersionInfo && record->error != 0) ||
                     code == kStatusReadFailed || code == kStatusOutOfMemory;
  // The record is what --json would write of the file, without the
  // members of the other options: its status and message only where
  // something reads them.
  if (!run->expectations.empty() || readFailure)
    SetFileStatus(record, facts->code, facts);
  if (readFailure) {
    // Not checked: said as the machine forms say it, and a failure.
    ++run->failures;
    JsonWriter w = JsonWriter();
    FindFactsField("message")->write(&w, *facts);
    std::string_view message = JsonShownText(w);
    PrintPathToError(run, record->path);
    fputs(": not checked: ", stderr);
    fwrite(message.data(), 1, message.size(), stderr);
    fputc('\n', stderr);
    return;
  }
  RunChecks(run, facts);
  const std::vector<ExpectResult> &results = facts->expectResults;
  for (size_t i = 0; i < results.size(); ++i) {
    if (results[i].ok)
      continue;
    PrintPathToError(run, record->path);
    fprintf(stderr, ": %s\n",
            ExpectFailureText(run->expectations[i], results[i]).c_str());
  }
  for (const LintFinding &f : facts->lintFindings) {
    PrintPathToError(run, record->path);
    fputs(": ", stderr);
    fputs(LintFindingText(f).c_str(), stderr);
    fputc('\n', stderr);
  }
}

bool CheckFacts(RunState *run, FileFacts *facts) {
  if (!run->checks || !facts->examined || facts->failure)
    return false;
  return RunChecks(run, facts);
}

namespace {

// "1 error", "3 errors": the count and the noun, plural but for one.
std::string Counted(int count, const char *noun) {
  std::string text = std::to_string(count) + " " + noun;
  if (count != 1)
    text += 's';
  return text;
}

} // namespace

void PrintCheckSummary(RunState *run) {
  std::string line =
      "quelvo: " + Counted(run->checkedFiles, "file") + " checked";
  if (run->options.lint)
    line += ", " + Counted(run->lintErrors, "error") + ", " +
            Counted(run->lintWarnings, "warning");
  if (!run->expectations.empty())
    line += ", " + Counted(run->failedExpectations, "expectation") + " failed";
  // What was not examined makes the exit status 1 as well.
  if (run->failures > 0)
    line += ", " + std::to_string(run->failures) + " not found or not read";
  // After what the report wrote, where both streams reach one file.
  if (run->sharedStreams)
    fflush(stdout);
  fprintf(stderr, "%s\n", line.c_str());
}
