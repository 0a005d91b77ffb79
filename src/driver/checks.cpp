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
#include "json_fields.h"
#include "json_report.h"
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
// rules asked for, counted for the summary; whether any found anything (an
// expectation that did not hold, a finding of either severity). Only an
// expectation that did not hold or an error fails the file.
bool RunChecks(RunState *run, const std::string &object, StatusCode factsCode,
               const char *path, const VersionFacts &facts,
               std::vector<ExpectResult> *results,
               std::vector<LintFinding> *findings) {
  ++run->checkedFiles;
  int errors = 0, unmet = 0;
  if (!run->expectations.empty()) {
    CheckExpectations(run->expectations, object, facts, results);
    for (const ExpectResult &r : *results)
      unmet += r.ok ? 0 : 1;
  }
  if (run->options.lint) {
    LintVersionFacts(path, factsCode, facts, run->lint, findings);
    for (const LintFinding &f : *findings)
      errors += f.severity == kLintError ? 1 : 0;
  }
  run->failedExpectations += unmet;
  run->lintErrors += errors;
  run->lintWarnings += static_cast<int>(findings->size()) - errors;
  if (errors > 0 || unmet > 0)
    ++run->failedChecks;
  return unmet > 0 || !findings->empty();
}

} // namespace

void CheckTextFile(RunState *run, FileRecord *record, StatusCode code,
                   StatusCode factsCode, const VersionFacts &facts) {
  if (!run->checks)
    return;
  bool readFailure = (code == kStatusNoVersionInfo && record->error != 0) ||
                     code == kStatusReadFailed || code == kStatusOutOfMemory;
  std::string object;
  bool failure = false;
  // The object is what --expect reads fields from, as --json writes it.
  if (!run->expectations.empty() || readFailure)
    object = FileObject(record, factsCode, facts, &failure);
  if (readFailure) {
    // Not checked: said as the machine forms say it, and a failure.
    ++run->failures;
    std::vector<JsonMember> members;
    IndexJsonObject(object, &members);
    const JsonMember *message = FindField(members, "message");
    PrintPathToError(run, record->path);
    fprintf(stderr, ": not checked: %s\n", CsvCell(object, message).c_str());
    return;
  }
  std::vector<ExpectResult> results;
  std::vector<LintFinding> findings;
  RunChecks(run, object, factsCode, record->path, facts, &results, &findings);
  for (size_t i = 0; i < results.size(); ++i) {
    if (results[i].ok)
      continue;
    PrintPathToError(run, record->path);
    fprintf(stderr, ": %s\n",
            ExpectFailureText(run->expectations[i], results[i]).c_str());
  }
  for (const LintFinding &f : findings) {
    PrintPathToError(run, record->path);
    fputs(": ", stderr);
    fputs(LintFindingText(f).c_str(), stderr);
    fputc('\n', stderr);
  }
}

bool CheckObject(RunState *run, const char *path, StatusCode factsCode,
                 const VersionFacts *facts, std::string *object) {
  if (!run->checks)
    return false;
  std::vector<ExpectResult> results;
  std::vector<LintFinding> findings;
  bool found = false;
  if (facts != nullptr)
    found =
        RunChecks(run, *object, factsCode, path, *facts, &results, &findings);
  if (!run->expectations.empty())
    AppendExpectMember(object, run->expectations,
                       facts != nullptr ? &results : nullptr);
  if (run->options.lint)
    AppendLintMember(object, facts != nullptr ? &findings : nullptr);
  return found;
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
