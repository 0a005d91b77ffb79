// The state of one run and the driver's pieces that the long options'
// code shares with the classic command line.
#ifndef QUELVO_RUN_H
#define QUELVO_RUN_H

#include <stddef.h>

#include <string>
#include <vector>

#include "expect.h"
#include "file_facts.h"
#include "gather.h"
#include "lint.h"
#include "match.h"
#include "options.h"
#include "output_sink.h"
#include "platform_extra.h"
#include "prefetch.h"
#include "version_facts.h"

struct SignatureChecks;

struct RunState {
  RunOptions options;
  // --json and --csv: objects that say an argument matched nothing or a
  // file or folder could not be read (its digest too, with --hash), which
  // make the exit status 1. A file without version information is an
  // answer, not a failure.
  int failures;
  // The form each record is written in (the text report, --json, --csv),
  // and what the run asks of each file for it.
  OutputSink sink;
  GatherPlan plan;
  // The text report's record of each file, one file at a time, for the
  // whole run (RunQuelvo's): its lists' room is taken once, and a file
  // costs no record of its own to build and free. (The machine forms
  // build one for each file: every member they write starts afresh.)
  FileFacts *textFacts;
  FileHasher *hasher; // --hash: open for the whole run; or null
  KeyDigester *keys;  // --dotnet's key tokens, for the whole run; or null
  // The read-ahead of the reports, from the first list of several matches
  // to the end of the run; or null.
  Prefetcher *prefetcher;
  // What each reported file's record keeps of it, one file at a time, for
  // the whole run; or null (each record then has its own).
  FileState *fileRoom;
  // --signature: what every file's check shares (CAs, catalogs); null
  // without the option.
  SignatureChecks *signatures;
  // --expect and --lint (checks.cpp): what each file is checked for, and
  // the files that failed a check, which make the exit status 1 as a
  // failure does.
  bool checks;
  std::vector<Expectation> expectations;
  LintOptions lint;
  int failedChecks;
  // What the summary line after the checks counts: files checked, the
  // findings of --lint by severity, the expectations that did not hold.
  int checkedFiles;
  int lintErrors;
  int lintWarnings;
  int failedExpectations;
  bool sharedStreams; // standard output and error reach one file
};

// Paths live in buffers of the platform's limit: 259
// characters and a zero, and says so of a longer one.
const size_t kPathBuffer = 260;

// The length of a pattern's directory prefix, up to and including the
// character that ends it.
size_t PrefixLength(const char *pattern);

// Reports every match of one expanded pattern, in list order; folder is
// what the listing learned of the folder it read, or null.
void ReportMatches(RunState *run, const char *pattern, MatchList list,
                   const FolderNote *folder);

// A path of head followed by tail that does not fit kPathBuffer:
// named, not examined.
void ReportTooLong(RunState *run, const char *head, const char *tail);

// A failure with a message of the catalogue, in the run's output form.
void ReportFailure(RunState *run, int code, const char *path);

// The catalogue's messages as --json carries them: the text without the
// newline that begins (or ends) it when printed.
std::string StatusMessageText(int code, const char *path);
std::string NoVersionMessageText(const char *path);
std::string FolderMessageText(const char *path);
std::string TooLongMessageText(const char *head, const char *tail, size_t room);

// --json and --csv: one object per line, or one row (json_output.cpp).
// An object without facts: a failure (counted for the exit status) or,
// with failure false, an answer such as a folder named without
// --recursive.
void JsonFailure(RunState *run, const char *path, const char *status,
                 const std::string &message, bool failure = true);
// An examined file's facts, gathered as the run's plan asks: checked,
// counted and written.
void EmitFile(RunState *run, FileFacts *facts);
const char *JsonStatusWord(int code);

// --expect and --lint (checks.cpp). Reads the options' values into the
// run; false, having said why on standard error, for a usage error.
bool SetUpChecks(RunState *run);
void FinishChecks(RunState *run);
// The checks of one examined file in the text form, on standard error:
// facts (its path, version facts and their stage) as the report gathered
// them, or the gathering without it.
void CheckTextFile(RunState *run, FileRecord *record, FileFacts *facts);
// The checks of one record in the machine forms, into it: a record of no
// file examined, or of one that could not be read, is not checked (its
// checks are null). Whether they found anything: an expectation that did
// not hold, or a finding.
bool CheckFacts(RunState *run, FileFacts *facts);
// The summary line of the checks, on standard error, after the run.
void PrintCheckSummary(RunState *run);

// --recursive: one argument, its folder and every folder below (walk.cpp).
void WalkArgument(RunState *run, const char *argument);

#endif
