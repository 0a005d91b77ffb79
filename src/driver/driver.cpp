#include "driver.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "dotnet_report.h"
#include "gather.h"
#include "json_fields.h"
#include "json_report.h"
#include "match.h"
#include "names.h"
#include "options.h"
#include "platform_extra.h"
#include "prefetch.h"
#include "report.h"
#include "run.h"
#include "signature_report.h"
#include "signature_service.h"
#include "status.h"

namespace {

const char kTooLongTail[] =
    " is longer than %u characters and was not examined.";
const char kNoVersionTail[] = " does not contain version information.";

// A failure in the text report, counted for --expect and --lint, and
// written by the run's sink: a message of the catalogue by its code, or
// another (a path too long) by its text.
void TextFailure(RunState *run, int code, const char *path, const char *status,
                 const std::string *message) {
  ++run->failures;
  FileFacts &facts = *run->textFacts;
  facts.path = path;
  facts.status = status;
  facts.code = static_cast<StatusCode>(code);
  facts.hasMessage = message != nullptr;
  if (message != nullptr)
    facts.message = *message;
  facts.failure = true;
  run->sink.failure(run->sink.state, facts);
}

void PrintMessage(int code, const char *path, bool asLine);

} // namespace

// A path that does not fit is never cut short silently: it is named and
// left alone.
void ReportTooLong(RunState *run, const char *head, const char *tail) {
  size_t room = kPathBuffer;
  std::string path = std::string(head) + tail;
  std::string message = TooLongMessageText(head, tail, room);
  if (MachineOutput(run->options))
    JsonFailure(run, path.c_str(), "too-long", message);
  else
    TextFailure(run, kStatusOk, path.c_str(), "too-long", &message);
}

std::string TooLongMessageText(const char *head, const char *tail,
                               size_t room) {
  char limit[80];
  snprintf(limit, sizeof limit, kTooLongTail, static_cast<unsigned>(room - 1));
  return std::string(head) + tail + limit;
}

std::string FolderMessageText(const char *path) {
  return std::string(path) +
         " is a folder; --recursive walks every file below it.";
}

std::string NoVersionMessageText(const char *path) {
  return std::string(path) + kNoVersionTail;
}

void ReportFailure(RunState *run, int code, const char *path) {
  if (MachineOutput(run->options)) {
    JsonFailure(run, path, JsonStatusWord(code), StatusMessageText(code, path));
    return;
  }
  TextFailure(run, code, path, JsonStatusWord(code), nullptr);
}

namespace {

// One regular file: its facts gathered as the run's plan asks, then
// handed to the run's sink. The text report reads the file itself as it
// prints, and its checks follow its lines, their findings on standard
// error; the machine forms put the findings into the record they write.
void ReportFile(RunState *run, FileRecord *record) {
  if (MachineOutput(run->options)) {
    FileFacts facts;
    GatherFile(record, run->plan, &facts);
    EmitFile(run, &facts);
    return;
  }
  // Each member the text form reads is set for each file: by the
  // gathering, the report or the checks. A plan of nothing beside the
  // report (the classic command line's) has nothing to gather: the report
  // reads the file and prints the record's path itself.
  FileFacts &facts = *run->textFacts;
  if (PlanGathers(run->plan)) {
    GatherFile(record, run->plan, &facts);
  } else {
    facts.examined = true;
    facts.code = kStatusOk;
  }
  facts.record = record;
  run->sink.file(run->sink.state, &facts);
  CheckTextFile(run, record, &facts);
  facts.record = nullptr; // closed after this
}

} // namespace

// The length of a pattern's directory prefix: up to and including its last
// ':', '\' or '/'. The slash counts too, since on POSIX systems paths are
// written with it. There a colon is an ordinary character of a name, so
// only a drive form at the start ("c:x*") ends the prefix at a colon.
size_t PrefixLength(const char *pattern) {
  size_t prefix = strlen(pattern);
#ifdef _WIN32
  while (prefix > 0 && pattern[prefix - 1] != ':' &&
         pattern[prefix - 1] != '\\' && pattern[prefix - 1] != '/')
    --prefix;
#else
  while (prefix > 0 && pattern[prefix - 1] != '\\' &&
         pattern[prefix - 1] != '/')
    --prefix;
  if (prefix == 0 && pattern[0] != '\0' && pattern[1] == ':')
    prefix = 2;
#endif
  return prefix;
}

namespace {

// Builds the pattern's directory prefix (its first prefix bytes) followed
// by name, of nameLen bytes, in buffer (kPathBuffer bytes); false when
// the result does not fit room.
bool ComposePath(const char *pattern, size_t prefix, const char *name,
                 size_t nameLen, size_t room, char *buffer) {
  if (prefix + nameLen >= room)
    return false;
  memcpy(buffer, pattern, prefix);
  memcpy(buffer + prefix, name, nameLen + 1);
  return true;
}

// Keeps the read-ahead queue in step with the reports: the files after the
// one being reported are queued in list order, as far ahead as the
// prefetcher takes them. A name that is no file to read (a directory, a
// path too long) holds the queue until its turn has passed.
struct ReadAhead {
  Prefetcher *prefetcher; // null: no read-ahead
  const char *pattern;
  size_t prefix;    // the length of the pattern's directory prefix
  size_t room;      // kPathBuffer
  MatchNode *ahead; // the first node not queued
};

void QueueAhead(ReadAhead *r) {
  char path[kPathBuffer];
  while (r->ahead != nullptr) {
    size_t len = strlen(r->ahead->name);
    if ((len > 0 && r->ahead->name[len - 1] == '\\') ||
        !ComposePath(r->pattern, r->prefix, r->ahead->name, len, r->room,
                     path) ||
        !PrefetchFile(r->prefetcher, path))
      return;
    r->ahead = r->ahead->next;
  }
}

// Called before node's report: a queued node is taken off the queue, and
// every report is timed. Until the read-ahead wakes, nothing is queued.
void ReachNode(ReadAhead *r, MatchNode *node) {
  if (r->prefetcher == nullptr)
    return;
  if (r->ahead == node)
    r->ahead = node->next; // never queued
  PrefetchReached(r->prefetcher);
  if (PrefetchQueueing(r->prefetcher))
    QueueAhead(r);
}

// A match that is no regular file, in the machine forms, where nothing a
// pattern matched may vanish: a folder is said to be one (with --recursive
// the walk goes into it instead); a device, a pipe or a socket is never
// opened, since reading it could block or never end, and is said to be no
// file. Neither is a failure: each is an answer about what the name is.
void ReportNotRegular(RunState *run, const char *path, bool directory) {
  if (directory) {
    if (!run->options.recursive)
      JsonFailure(run, path, "folder", FolderMessageText(path), false);
    return;
  }
  JsonFailure(run, path, "not-regular",
              std::string(path) +
                  " is not a regular file (a device, a pipe or a socket) "
                  "and was not read.",
              false);
}

} // namespace

// Each match's path is composed, the match checked and reported through
// one record of the file, opened here with what the listing knows of the
// entry and closed once its report is out: every service the check and the
// report call reads what the ones before found from that record.
void ReportMatches(RunState *run, const char *pattern, MatchList list,
                   const FolderNote *folder) {
  char buffer[kPathBuffer];
  size_t room = kPathBuffer;
  // A single match has nothing to read ahead of. The read-ahead is the
  // run's, started for its first list of several matches and kept for the
  // next: a walk lists thousands of folders.
  size_t prefix = PrefixLength(pattern);
  ReadAhead readAhead = {nullptr, pattern, prefix, room, list};
  if (list != nullptr && list->next != nullptr) {
    if (run->prefetcher == nullptr)
      run->prefetcher = StartPrefetcher(&kPrefetchDefaults);
    readAhead.prefetcher = run->prefetcher;
  }
  for (MatchNode *node = list; node != nullptr; node = node->next) {
    ReachNode(&readAhead, node);
    size_t nameLen = strlen(node->name);
    bool directory = nameLen > 0 && node->name[nameLen - 1] == '\\';
    if (!ComposePath(pattern, prefix, node->name, nameLen, room, buffer)) {
      if (directory)
        continue; // passed over silently, however long
      char typed[kPathBuffer];
      memcpy(typed, pattern, prefix);
      typed[prefix] = '\0';
      ReportTooLong(run, typed, node->name);
      continue;
    }
    // A directory's name carries its '\\': the check finds it by the path.
    FileRecord record;
    OpenFileRecord(&record, buffer, directory ? nullptr : folder,
                   directory ? nullptr : node->name, run->fileRoom);
    int status = CheckRegularRecord(&record);
    if (status == kStatusOk)
      ReportFile(run, &record);
    else if (status != kStatusNotRegularFile)
      ReportFailure(run, kStatusCannotOpen, buffer);
    else if (MachineOutput(run->options))
      ReportNotRegular(run, record.path, directory);
    // The text report passes over what is no regular file.
    CloseFileRecord(&record);
  }
  PrefetchSettle(readAhead.prefetcher);
}

namespace {

// A message's format takes the path for each %s and the code for %i; its
// word is the status --json gives an object that fails so.
struct Message {
  int code;
  const char *format;
  const char *word;
};

#define QUELVO_USAGE                                                           \
  "\nusage:\tquelvo filename(s)"                                               \
  "\n\tYou can use wildcards and multiple filenames."
#define QUELVO_VERSION_LIBRARY_FAILED                                          \
  "\nCall to Microsoft version library VER.DLL failed -- %i:\n%s."
#define QUELVO_INTERNAL_ERROR "\nInternal Error: %s -- %i."

// The one catalogue: every status code the program has, its text and its
// JSON word. A file's stages follow the text report's, which says "does
// not contain version information" for all of them; the codes that never
// describe a file or an argument (the usage, the status query's own, the
// catalogue-only ones) have the word of a code nothing expects.
const Message kMessages[] = {
    {kStatusOk, QUELVO_INTERNAL_ERROR, "ok"},
    {kStatusOutOfMemory, "\nOut of memory while processing file\n%s.",
     "out-of-memory"},
    {kStatusNoVersionInfo, "\n%s is not a Win32 executable.", "no-version"},
    {kStatusReadFailed, QUELVO_VERSION_LIBRARY_FAILED, "read-failed"},
    {kStatusNoTranslation, QUELVO_VERSION_LIBRARY_FAILED, "no-translation"},
    {kStatusNoCompanyName, QUELVO_VERSION_LIBRARY_FAILED, "no-company-name"},
    {kStatusNoDescription, QUELVO_VERSION_LIBRARY_FAILED,
     "no-file-description"},
    {kStatusNoVersionString, QUELVO_VERSION_LIBRARY_FAILED, "no-file-version"},
    {kStatusNoFixedInfo, QUELVO_VERSION_LIBRARY_FAILED, "no-fixed-info"},
    {kStatusUsage, QUELVO_USAGE, "internal-error"},
    {kStatusNoFileArgument, "\nNo file specified." QUELVO_USAGE,
     "internal-error"},
    {kStatusQueryFailed,
     "\nUnable to read file %s.\n%s is not an executable file.",
     "internal-error"},
    {kStatusNotExecutable, "\n%s is not an executable file.", "internal-error"},
    {kStatusNotWin32, "\n%s is not a Win32 executable.", "internal-error"},
    {kStatusCannotOpen, "\nUnable to open file %s.", "unreadable"},
    {kStatusNotFound, "\n%s was not found", "not-found"},
    {kStatusFolderFailed, "\nUnable to read folder %s.", "unreadable-folder"},
};

// Every other code, 107 and the unknown ones alike.
const Message kInternalError = {0, QUELVO_INTERNAL_ERROR, "internal-error"};

} // namespace

namespace {

const Message *FindMessage(int code) {
  for (const Message &m : kMessages)
    if (m.code == code)
      return &m;
  return &kInternalError;
}

} // namespace

const char *JsonStatusWord(int code) { return FindMessage(code)->word; }

std::string StatusMessageText(int code, const char *path) {
  if (path == nullptr)
    path = "";
  // As ReportStatus prints it, the path as it is (a JSON string escapes
  // what a terminal must not see), without the leading newline.
  const char *f = FindMessage(code)->format;
  if (*f == '\n')
    ++f;
  std::string text;
  for (; *f != '\0'; ++f) {
    if (f[0] == '%' && f[1] == 's') {
      text += path;
      ++f;
    } else if (f[0] == '%' && f[1] == 'i') {
      text += std::to_string(code);
      ++f;
    } else {
      text.push_back(*f);
    }
  }
  return text;
}

namespace {

// A message as printed: as the catalogue has it, or, as a line of its own,
// without the newline it begins with and with one at its end.
void PrintMessage(int code, const char *path, bool asLine) {
  if (path == nullptr)
    path = "";
  const Message *message = FindMessage(code);
  const char *f = message->format;
  if (asLine && *f == '\n')
    ++f;
  for (; *f != '\0'; ++f) {
    if (f[0] == '%' && f[1] == 's') {
      PrintSafePath(path);
      ++f;
    } else if (f[0] == '%' && f[1] == 'i') {
      printf("%i", code);
      ++f;
    } else {
      putchar(*f);
    }
  }
  if (asLine)
    putchar('\n');
}

} // namespace

void ReportStatus(int code, const char *path) {
  PrintMessage(code, path, false);
}

namespace {

// One argument without --recursive: its list, and the note of the folder
// it was listed from, live until its matches are reported.
// Why an argument matched nothing, in the machine forms: a folder on the
// way that may not be read is no fact about the file.
void ReportNothingFound(RunState *run, const char *pattern, int searchError) {
  if (!MachineOutput(run->options) ||
      (searchError != EACCES && searchError != EPERM)) {
    ReportFailure(run, kStatusNotFound, pattern);
    return;
  }
  std::string message = StatusMessageText(kStatusCannotOpen, pattern);
  message.pop_back(); // the full stop, after the reason
  message += ": ";
  message += strerror(searchError);
  message += ".";
  JsonFailure(run, pattern, JsonStatusWord(kStatusCannotOpen), message);
}

// An argument without wildcards whose one match is a folder: the text
// report passes it over, as it does every folder; the machine forms say
// so, since an argument must not vanish from them.
bool ReportFolderArgument(RunState *run, const char *pattern, MatchList list) {
  if (!MachineOutput(run->options) || strpbrk(pattern, "*?") != nullptr ||
      list->next != nullptr)
    return false;
  size_t len = strlen(list->name);
  if (len == 0 || list->name[len - 1] != '\\')
    return false;
  JsonFailure(run, pattern, "folder", FolderMessageText(pattern), false);
  return true;
}

void ReportPattern(RunState *run, const char *pattern) {
  MatchStore store = MatchStore();
  MatchList list;
  FolderNote *folder;
  int searchError;
  ExpandPatternInto(&store, pattern, &list, &folder, &searchError);
  if (list == nullptr)
    ReportNothingFound(run, pattern, searchError);
  else if (!ReportFolderArgument(run, pattern, list))
    ReportMatches(run, pattern, list, folder);
  FreeFolderNote(folder);
  ReleaseMatchStore(&store);
}

} // namespace

namespace {

// The text report's line of a failure: a message of the catalogue, or
// one of its own (a path too long), which names the path first. The path
// is printed safe; the words after it are the program's own.
void PrintFailureLine(const FileFacts &facts, bool asLine) {
  if (!facts.hasMessage) {
    PrintMessage(facts.code, facts.path.c_str(), asLine);
    return;
  }
  if (!asLine)
    fputs("\n", stdout);
  const std::string &path = facts.path;
  if (facts.message.compare(0, path.size(), path) == 0) {
    PrintSafePath(path.c_str());
    fputs(facts.message.c_str() + path.size(), stdout);
  } else {
    PrintSafePath(facts.message.c_str());
  }
  if (asLine)
    fputs("\n", stdout);
}

// What the run asks of each file in the text form: the report reads its
// version facts itself as it prints, and --dotnet's after it; with
// --quiet only what the checks read.
void PlanTextReport(RunState *run, bool detailed) {
  GatherPlan &plan = run->plan;
  TextSinkSettings settings = TextSinkSettings();
  settings.text = {detailed, run->options.allStrings, run->options.utf8};
  settings.quiet = run->options.quiet;
  settings.checks = run->checks;
  // --lint's extras whichever check is asked for: they come from the
  // block the report reads.
  settings.checkPlan.lintExtras = true;
  settings.checkPlan.everyTable = !run->expectations.empty();
  settings.dotnet = run->options.dotnet;
  settings.keys = run->keys;
  settings.printFailure = PrintFailureLine;
  plan = GatherPlan();
  if (run->options.quiet) {
    plan.versionFacts = run->checks;
    plan.version.everyTable = !run->expectations.empty();
    plan.version.lintExtras = run->options.lint;
  } else {
    // The digest first, so that on POSIX the report reads the file the
    // hash read.
    plan.hasher = run->hasher;
    plan.signatures = run->signatures;
  }
  run->sink = TextSink(settings);
}

// Without a file to examine: the usage, on standard error in the machine
// forms, whose standard output carries their data only. A usage error
// there and with --expect or --lint (exit status 2), as it is for
// scripts; the classic command line keeps its 0.
int ReportNoFile(RunState *run) {
  if (!MachineOutput(run->options)) {
    ReportStatus(kStatusNoFileArgument, nullptr);
    return run->checks ? 2 : 0; // nothing checked is no success
  }
  fprintf(stderr, "%s\n",
          StatusMessageText(kStatusNoFileArgument, nullptr).c_str());
  return 2;
}

// The command line after the long options: its options, then every
// argument's matches. Returns the exit status.
int RunArguments(RunState *run, int argc, char **argv) {
  bool machine = MachineOutput(run->options);
  // After "--" in the opt-in modes, every word is a file or a pattern.
  bool classicOptions = !run->options.optionsEnded;
  // With --json, -d changes nothing, so -d alone names no file either.
  if (argc < 2 ||
      (machine && classicOptions && argc == 2 && strcmp(argv[1], "-d") == 0))
    return ReportNoFile(run);
  if (classicOptions && strcmp(argv[1], "-?") == 0) {
    ReportStatus(kStatusUsage, nullptr);
    printf("\n");
    return 0;
  }
  int first = 1;
  bool detailed = classicOptions && strcmp(argv[1], "-d") == 0;
  if (detailed) {
    first = 2;
    // "-d --" in the opt-in modes: the rest are files, whatever they say.
    if (AnyLongOption(run->options) && argc > 2 && strcmp(argv[2], "--") == 0)
      first = 3;
    if (machine && first >= argc)
      return ReportNoFile(run);
  }
  bool bannerOnly = classicOptions && argv[1][0] == '-' &&
                    (argv[1][1] == 'v' || argv[1][1] == 'V');
  if (run->options.hash && !bannerOnly) {
    // Said before anything is reported: a run asked for digests gives them
    // all or none.
    int error = 0;
    run->hasher = OpenFileHasher(&error);
    if (run->hasher == nullptr) {
      if (error == ENOENT || error == ENOSYS)
        fprintf(stderr, "quelvo: --hash: SHA-256 is not available: %s %s\n",
                HashLibraryName(),
                error == ENOENT ? "cannot be loaded" : "offers none");
      else
        fprintf(stderr, "quelvo: --hash: SHA-256 is not available: %s\n",
                strerror(error));
      return 1;
    }
  }
  if (bannerOnly) {
    PrintBanner();
    return -1;
  }
  if (!machine) {
    PlanTextReport(run, detailed);
  } else {
    // What each file is read for: the run's options, open by now.
    GatherPlan &plan = run->plan;
    plan.version.everyTable = plan.version.everyTable || run->checks;
    plan.version.lintExtras = run->options.lint;
    plan.versionFacts = true;
    plan.status = true;
    plan.dotnet = run->options.dotnet;
    plan.keys = run->keys;
    plan.signatures = run->signatures;
    plan.hasher = run->hasher;
  }
  run->sink.begin(run->sink.state);
  for (int i = first; i < argc; ++i) {
    const char *pattern = argv[i];
    if (strlen(pattern) >= kPathBuffer)
      ReportTooLong(run, pattern, "");
    else if (run->options.recursive)
      WalkArgument(run, pattern);
    else
      ReportPattern(run, pattern);
  }
  bool failed = run->failures > 0 || run->failedChecks > 0;
  run->sink.end(run->sink.state);
  if (run->checks)
    PrintCheckSummary(run);
  if (machine)
    return failed ? 1 : 0;
  return run->checks && failed ? 1 : 0;
}

// An option a user got wrong, named with the one that was probably meant.
void ReportBadOption(const RunOptions &options) {
  const char *word = options.badOption;
  if (options.misplaced) {
    fprintf(stderr,
            "quelvo: %s is out of place: the long options come before -d "
            "and the files (a file of that name goes after --)\n",
            word);
    return;
  }
  const char *nearest = NearestLongOption(word);
  if (nearest != nullptr)
    fprintf(stderr, "quelvo: unknown option %s; did you mean %s?\n", word,
            nearest);
  else
    fprintf(stderr, "quelvo: unknown option %s (quelvo --help lists them)\n",
            word);
}

// A --fields list that names a field twice, or one no object has: said
// with the name probably meant. False when there is such a name.
bool CheckFieldNames(const std::vector<std::string> &fields) {
  for (size_t i = 0; i < fields.size(); ++i) {
    const std::string &field = fields[i];
    for (size_t j = 0; j < i; ++j)
      if (fields[j] == field) {
        fprintf(stderr, "quelvo: --fields names %s twice\n", field.c_str());
        return false;
      }
    if (IsKnownField(field))
      continue;
    const char *nearest =
        NearestName(field.c_str(), kFieldNames, kFieldNameCount);
    if (nearest != nullptr)
      fprintf(stderr, "quelvo: --fields: unknown name %s; did you mean %s?\n",
              field.c_str(), nearest);
    else
      fprintf(stderr,
              "quelvo: --fields: unknown name %s (a key such as status, a "
              "path such as fixed.file_flags, or a string such as "
              "ProductName or strings.%s)\n",
              field.c_str(), field.c_str());
    return false;
  }
  return true;
}

// Whether standard output is a terminal, asked once for the run.
bool OutputIsTerminal() {
#ifdef _WIN32
  return _isatty(1) != 0;
#else
  return isatty(STDOUT_FILENO) != 0;
#endif
}

// The fields --fields chose, or --csv's defaults, and the machine form's
// sink that writes them. False, having said why on standard error, for a
// list that names nothing.
bool ChooseFields(RunState *run) {
  const char *list = run->options.fields;
  if (list != nullptr && !MachineOutput(run->options)) {
    fprintf(stderr, "quelvo: --fields chooses the keys of --json or the "
                    "columns of --csv; give one of them\n");
    return false;
  }
  if (!MachineOutput(run->options))
    return true;
  // Asked once for the run: a terminal shows each line's controls and
  // bidirectional controls as escapes; a file or a pipe gets them exactly.
  SinkSettings settings = {OutputIsTerminal(), std::vector<std::string>()};
  std::vector<std::string> &fields = settings.fields;
  if (list == nullptr && run->options.csv) {
    fields = DefaultCsvFields();
    // What the checks found is what such a run is for.
    if (!run->options.expects.empty())
      fields.push_back("expect");
    if (run->options.lint)
      fields.push_back("lint");
  } else if (list != nullptr && !ParseFieldList(list, &fields)) {
    fprintf(stderr, "quelvo: --fields takes a list of names separated by "
                    "commas, such as path,status,ProductVersion\n");
    return false;
  } else if (list != nullptr && !CheckFieldNames(fields)) {
    return false;
  }
  // Every table's strings only where a field reads them.
  run->plan.version.everyTable =
      fields.empty() || PartsForFields(fields, run->options.csv).tables;
  run->sink = run->options.csv ? CsvSink(settings) : JsonLinesSink(settings);
  return true;
}

} // namespace

namespace {

// A line of a finding is one write, not one for each of its parts, on a
// terminal or where the report's lines interleave with them; a file or a
// pipe of its own gets them in blocks, as the report's are written.
void BufferErrorStream(const RunState &run, const StreamBuffer &room) {
#ifndef _WIN32
  bool lines = run.sharedStreams || isatty(STDERR_FILENO);
  size_t size = lines && room.size > 4096 ? 4096 : room.size;
  setvbuf(stderr, room.bytes, lines ? _IOLBF : _IOFBF, size);
#else
  (void)run;
  (void)room;
#endif
}

} // namespace

int RunQuelvo(int argc, char **argv, const StreamBuffer *errorBuffer) {
  RunState run = RunState();
  int first = ParseLongOptions(argc, argv, &run.options);
  if (run.options.help) {
    PrintLongUsage();
    return 0;
  }
  if (run.options.version) {
    PrintProgramVersion();
    return 0;
  }
  if (run.options.badOption != nullptr) {
    ReportBadOption(run.options);
    return 2;
  }
  if (run.options.usageError || (run.options.json && run.options.csv)) {
    fprintf(stderr,
            run.options.usageError
                ? "quelvo: %s takes a value\n"
                : "quelvo: --json and --csv are two forms of one "
                  "output; give one of them%s\n",
            run.options.usageError ? argv[first - 1] : "");
    return 2;
  }
  if (!ChooseFields(&run) || !SetUpChecks(&run)) {
    FinishChecks(&run);
    CloseSink(&run.sink);
    return 2;
  }
  if (run.checks && errorBuffer != nullptr)
    BufferErrorStream(run, *errorBuffer);
  if (run.options.signature) {
    // The CAs, CRLs and catalogs are read once, before anything is
    // reported.
    SignatureOptions wanted = {run.options.caFile, run.options.caPath,
                               run.options.crlFile, run.options.catalogDir};
    std::string error;
    run.signatures = PrepareSignatureChecks(wanted, &error);
    if (run.signatures == nullptr) {
      fprintf(stderr, "quelvo: %s\n", error.c_str());
      FinishChecks(&run);
      CloseSink(&run.sink);
      return 1;
    }
    std::vector<std::string> notes;
    SignatureCheckNotes(run.signatures, &notes);
    for (const std::string &note : notes)
      fprintf(stderr, "quelvo: %s\n", note.c_str());
  }
  // Null without memory: the tokens are then left out, as without SHA-1.
  if (run.options.dotnet)
    run.keys = OpenKeyDigester();
  // Null without memory: each file's record then takes room of its own.
  run.fileRoom = NewFileState();
  // Built here rather than cleared with the run's state: the record is
  // large, and most of it is set only where it is read.
  FileFacts textFacts;
  run.textFacts = &textFacts;
  // What follows the long options is a command line of its own.
  int status = RunArguments(&run, argc - (first - 1), argv + (first - 1));
  FinishChecks(&run);
  CloseSink(&run.sink);
  StopPrefetcher(run.prefetcher);
  FreeFileState(run.fileRoom);
  CloseFileHasher(run.hasher);
  CloseKeyDigester(run.keys);
  ReleaseSignatureChecks(run.signatures);
  return status;
}

int FinishOutput(int status) {
  int error = fflush(stdout) != 0 ? errno : 0;
  if (error == 0 && !ferror(stdout))
    return status;
  // Whatever was lost, a script must not take the run for a success.
  if (error != 0)
    fprintf(stderr, "quelvo: output could not be written: %s\n",
            strerror(error));
  else
    fputs("quelvo: output could not be written\n", stderr);
  return 1;
}
