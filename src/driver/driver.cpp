#include "driver.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "match.h"
#include "options.h"
#include "report.h"
#include "run.h"
#include "status.h"

namespace {

const char kMaker[] = "Korvane ";
const char kVersion[] = "4.02";
const char kBuildStamp[] = "11/17/95 14:59";
const char kNotice[] = "Copyright (C) Korvane 1995. All rights reserved.";

const char kTooLongFormat[] =
    "\n%s%s is longer than %u characters and was not examined.";
const char kNoVersionFormat[] = "\n%s does not contain version information.\n";

// Builds the pattern's directory prefix followed by name in buffer; false
// when the result does not fit.
bool ComposePath(const char *pattern, const char *name, char *buffer);

// One regular file, in the run's output form.
void ReportFile(RunState *run, const char *path) {
  if (run->options.json) {
    JsonReportFile(run, path);
    return;
  }
  TextOptions text = {run->detailed, run->options.allStrings,
                      run->options.utf8};
  if (ReportVersionWith(path, text) != 0)
    printf(kNoVersionFormat, path);
}

} // namespace

// A path that does not fit is never cut short silently: it is named and
// left alone.
void ReportTooLong(RunState *run, const char *head, const char *tail) {
  if (run->options.json) {
    JsonFailure(run, (std::string(head) + tail).c_str(), "too-long",
                TooLongMessageText(head, tail));
    return;
  }
  printf(kTooLongFormat, head, tail, static_cast<unsigned>(kPathBuffer - 1));
}

void ReportFailure(RunState *run, int code, const char *path) {
  if (run->options.json)
    JsonFailure(run, path, JsonStatusWord(code), StatusMessageText(code, path));
  else
    ReportStatus(code, path);
}

// The length of a pattern's directory prefix: up to and including its last
// ':', '\' or '/'. The slash counts too, since on POSIX systems paths are
// written with it.
size_t PrefixLength(const char *pattern) {
  size_t prefix = strlen(pattern);
  while (prefix > 0 && pattern[prefix - 1] != ':' &&
         pattern[prefix - 1] != '\\' && pattern[prefix - 1] != '/')
    --prefix;
  return prefix;
}

namespace {

bool ComposePath(const char *pattern, const char *name, char *buffer) {
  size_t prefix = PrefixLength(pattern);
  size_t nameLen = strlen(name);
  if (prefix + nameLen >= kPathBuffer)
    return false;
  memcpy(buffer, pattern, prefix);
  memcpy(buffer + prefix, name, nameLen + 1);
  return true;
}

} // namespace

void ReportMatches(RunState *run, const char *pattern, MatchList list) {
  char buffer[kPathBuffer];
  for (MatchNode *node = list; node != nullptr; node = node->next) {
    if (!ComposePath(pattern, node->name, buffer)) {
      char prefix[kPathBuffer];
      size_t prefixLen = PrefixLength(pattern);
      memcpy(prefix, pattern, prefixLen);
      prefix[prefixLen] = '\0';
      ReportTooLong(run, prefix, node->name);
      continue;
    }
    int status = CheckRegularFile(buffer);
    if (status == kStatusNotRegularFile)
      continue; // a directory: passed over silently
    if (status != kStatusOk) {
      ReportFailure(run, kStatusCannotOpen, buffer);
      continue;
    }
    ReportFile(run, buffer);
  }
}

namespace {

// How a message's format takes its arguments.
enum MessageArguments {
  kNoArguments,
  kPath,         // every %s is the path
  kCodeThenPath, // %i, then %s
  kPathThenCode, // %s, then %i
};

struct Message {
  int code;
  const char *format;
  MessageArguments arguments;
};

#define QUELVO_USAGE                                                           \
  "\nusage:\tquelvo filename(s)"                                               \
  "\n\tYou can use wildcards and multiple filenames."
#define QUELVO_VERSION_LIBRARY_FAILED                                          \
  "\nCall to Microsoft version library VER.DLL failed -- %i:\n%s."

// The one catalogue: every status code the program has, and its text.
const Message kMessages[] = {
    {kStatusOutOfMemory, "\nOut of memory while processing file\n%s.", kPath},
    {kStatusNoVersionInfo, "\n%s is not a Win32 executable.", kPath},
    {kStatusReadFailed, QUELVO_VERSION_LIBRARY_FAILED, kCodeThenPath},
    {kStatusNoTranslation, QUELVO_VERSION_LIBRARY_FAILED, kCodeThenPath},
    {kStatusNoCompanyName, QUELVO_VERSION_LIBRARY_FAILED, kCodeThenPath},
    {kStatusNoDescription, QUELVO_VERSION_LIBRARY_FAILED, kCodeThenPath},
    {kStatusNoVersionString, QUELVO_VERSION_LIBRARY_FAILED, kCodeThenPath},
    {kStatusNoFixedInfo, QUELVO_VERSION_LIBRARY_FAILED, kCodeThenPath},
    {kStatusUsage, QUELVO_USAGE, kNoArguments},
    {kStatusNoFileArgument, "\nNo file specified." QUELVO_USAGE, kNoArguments},
    {kStatusStatusFailed,
     "\nUnable to read file %s.\n%s is not an executable file.", kPath},
    {kStatusNotExecutable, "\n%s is not an executable file.", kPath},
    {kStatusNotWin32, "\n%s is not a Win32 executable.", kPath},
    {kStatusCannotOpen, "\nUnable to open file %s.", kPath},
    {kStatusNotFound, "\n%s was not found", kPath},
    {kStatusFolderFailed, "\nUnable to read folder %s.", kPath},
};

// Every other code, 107 and the unknown ones alike.
const Message kInternalError = {0, "\nInternal Error: %s -- %i.",
                                kPathThenCode};

} // namespace

namespace {

const Message *FindMessage(int code) {
  for (const Message &m : kMessages)
    if (m.code == code)
      return &m;
  return &kInternalError;
}

// A printed message as one line of text: without the newline that begins
// it, or the one that ends the does-not-contain line. The catalogue's
// formats take only %s, %i and %u; formatting them here costs a fraction
// of vsnprintf, which counts when every file of a folder has a message.
std::string MessageText(const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::string text;
  for (const char *p = format; *p != '\0'; ++p) {
    if (p[0] != '%' || p[1] == '\0') {
      text.push_back(*p);
      continue;
    }
    char digits[16];
    switch (*++p) {
    case 's':
      text.append(va_arg(args, const char *));
      break;
    case 'i':
      snprintf(digits, sizeof digits, "%i", va_arg(args, int));
      text.append(digits);
      break;
    case 'u':
      snprintf(digits, sizeof digits, "%u", va_arg(args, unsigned));
      text.append(digits);
      break;
    default:
      text.push_back(*p);
    }
  }
  va_end(args);
  if (!text.empty() && text[0] == '\n')
    text.erase(0, 1);
  if (!text.empty() && text[text.size() - 1] == '\n')
    text.erase(text.size() - 1);
  return text;
}

} // namespace

std::string StatusMessageText(int code, const char *path) {
  if (path == nullptr)
    path = "";
  const Message *message = FindMessage(code);
  switch (message->arguments) {
  case kNoArguments:
    return MessageText("%s", message->format);
  case kPath:
    return MessageText(message->format, path, path);
  case kCodeThenPath:
    return MessageText(message->format, code, path);
  case kPathThenCode:
    return MessageText(message->format, path, code);
  }
  return std::string();
}

std::string NoVersionMessageText(const char *path) {
  return MessageText(kNoVersionFormat, path);
}

std::string TooLongMessageText(const char *head, const char *tail) {
  return MessageText(kTooLongFormat, head, tail,
                     static_cast<unsigned>(kPathBuffer - 1));
}

void ReportStatus(int code, const char *path) {
  if (path == nullptr)
    path = "";
  const Message *message = FindMessage(code);
  switch (message->arguments) {
  case kNoArguments:
    fputs(message->format, stdout);
    break;
  case kPath:
    printf(message->format, path, path);
    break;
  case kCodeThenPath:
    printf(message->format, code, path);
    break;
  case kPathThenCode:
    printf(message->format, path, code);
    break;
  }
}

int RunQuelvo(int argc, char **argv) {
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
  // What follows the long options is a command line of its own.
  argc -= first - 1;
  argv += first - 1;
  bool json = run.options.json;

  if (argc < 2) {
    // Standard output carries JSON Lines only; the usage goes beside it.
    if (json)
      fprintf(stderr, "%s\n",
              StatusMessageText(kStatusNoFileArgument, nullptr).c_str());
    else
      ReportStatus(kStatusNoFileArgument, nullptr);
    return 0;
  }
  if (strcmp(argv[1], "-?") == 0) {
    ReportStatus(kStatusUsage, nullptr);
    printf("\n");
    return 0;
  }
  bool detailed = strcmp(argv[1], "-d") == 0;
  run.detailed = detailed;
  bool bannerOnly =
      argv[1][0] == '-' && (argv[1][1] == 'v' || argv[1][1] == 'V');
  if (!json || bannerOnly) {
    printf("\n");
    printf("%s Win32 Executable Version Checker %s %s\n", kMaker, kVersion,
           kBuildStamp);
    printf("%s\n", kNotice);
  }
  if (bannerOnly)
    return -1;

  MatchList list = nullptr;
  for (int i = detailed ? 2 : 1; i < argc; ++i) {
    if (list != nullptr) {
      FreeMatchList(list);
      list = nullptr;
    }
    const char *pattern = argv[i];
    if (strlen(pattern) >= kPathBuffer) {
      ReportTooLong(&run, pattern, "");
      continue;
    }
    if (run.options.recursive) {
      WalkArgument(&run, pattern);
      continue;
    }
    ExpandPattern(pattern, &list);
    if (list == nullptr) {
      ReportFailure(&run, kStatusNotFound, pattern);
      continue;
    }
    ReportMatches(&run, pattern, list);
  }
  FreeMatchList(list);
  if (json)
    return run.failures > 0 ? 1 : 0;
  printf("\n");
  return 0;
}
