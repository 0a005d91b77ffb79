// The state of one run and the driver's pieces that the long options'
// code shares with the classic command line.
#ifndef QUELVO_RUN_H
#define QUELVO_RUN_H

#include <stddef.h>

#include <string>

#include "match.h"
#include "options.h"

struct SignatureChecks;

struct RunState {
  RunOptions options;
  bool detailed; // -d
  int failures;  // --json objects whose status is not "ok"
  // --signature: what every file's check shares (CAs, catalogs); null
  // without the option.
  SignatureChecks *signatures;
};

// Paths live in buffers of the platform's limit: 259 characters and a zero.
const size_t kPathBuffer = 260;

// The length of a pattern's directory prefix, up to and including the
// character that ends it.
size_t PrefixLength(const char *pattern);

// Reports every match of one expanded pattern, in list order; folder is
// what the listing learned of the folder it read, or null.
void ReportMatches(RunState *run, const char *pattern, MatchList list,
                   const FolderNote *folder);

// A path of head followed by tail that does not fit: named, not examined.
void ReportTooLong(RunState *run, const char *head, const char *tail);

// A failure with a message of the catalogue, in the run's output form.
void ReportFailure(RunState *run, int code, const char *path);

// The catalogue's messages as --json carries them: the text without the
// newline that begins (or ends) it when printed.
std::string StatusMessageText(int code, const char *path);
std::string NoVersionMessageText(const char *path);
std::string TooLongMessageText(const char *head, const char *tail);

// --json: one object per line (json_output.cpp).
void JsonFailure(RunState *run, const char *path, const char *status,
                 const std::string &message);
void JsonReportFile(RunState *run, FileRecord *record);
const char *JsonStatusWord(int code);

// --recursive: one argument, its folder and every folder below (walk.cpp).
void WalkArgument(RunState *run, const char *argument);

#endif
