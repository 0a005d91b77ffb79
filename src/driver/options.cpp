#include "options.h"

#include <stdio.h>
#include <string.h>

#include "lint.h"
#include "names.h"

#ifndef QUELVO_VERSION
#error "QUELVO_VERSION comes from the project() call in CMakeLists.txt"
#endif

namespace {

constexpr LongOption Flag(const char *word, bool RunOptions::*flag,
                          UsagePlace usage, const char *help) {
  return {word,    kOptionFlag, nullptr, flag, nullptr,
          nullptr, nullptr,     usage,   help};
}

constexpr LongOption Value(const char *word, const char *valueName,
                           const char *RunOptions::*value, const char *implies,
                           UsagePlace usage, const char *help) {
  return {word,    kOptionValue, valueName, nullptr, value,
          nullptr, implies,      usage,     help};
}

constexpr LongOption List(const char *word, const char *valueName,
                          std::vector<const char *> RunOptions::*list,
                          UsagePlace usage, const char *help) {
  return {word, kOptionList, valueName, nullptr, nullptr,
          list, nullptr,     usage,     help};
}

constexpr LongOption Stop(const char *word, bool RunOptions::*flag,
                          const char *help) {
  return {word,    kOptionStop, nullptr,        flag, nullptr,
          nullptr, nullptr,     kUsageSameLine, help};
}

constexpr LongOption End(const char *word, UsagePlace usage, const char *help) {
  return {word,    kOptionEnd, nullptr, &RunOptions::optionsEnded,
          nullptr, nullptr,    nullptr, usage,
          help};
}

// Where --lint's help names the range of its rules.
const char kRuleRange[] = "{rules}";

} // namespace

// In the order a slip's nearest name is looked for (the first of equals
// wins), and --help lists them, but for the stops: --help lists those
// last, after "--", and the completion offers them first and alone.
const LongOption kLongOptions[] = {
    Flag("--json", &RunOptions::json, kUsageSameLine,
         "JSON Lines on standard output: one object per file,\n"
         "and one per argument that matched nothing or could\n"
         "not be examined, and per folder, device, FIFO or\n"
         "socket named or matched (never opened)"),
    Flag("--csv", &RunOptions::csv, kUsageOr,
         "the same objects as CSV rows (RFC 4180), after a\n"
         "header line"),
    Value("--fields", "LIST", &RunOptions::fields, nullptr, kUsageSameLine,
          "the keys of --json or the columns of --csv, in order,\n"
          "separated by commas: JSON keys (path, status, ...),\n"
          "dotted paths (fixed.file_flags, version.file) or string\n"
          "names (ProductName)"),
    Flag("--recursive", &RunOptions::recursive, kUsageSameLine,
         "also search every folder below each pattern's folder;\n"
         "a folder named alone stands for every file below it"),
    Flag("--all", &RunOptions::allStrings, kUsageSameLine,
         "add every other string of the version table, and\n"
         "every other table under its language, to the report"),
    Flag("--utf8", &RunOptions::utf8, kUsageNewLine,
         "print text values in UTF-8 instead of code page 1252"),
    Flag("--hash", &RunOptions::hash, kUsageSameLine,
         "add the SHA-256 of each whole file (reads every byte)"),
    Flag("--dotnet", &RunOptions::dotnet, kUsageSameLine,
         "add a .NET assembly's own identity: runtime, CLI flags,\n"
         "name, version, culture, public key token, version\n"
         "attributes, references (a \"dotnet\" key with --json)"),
    Flag("--signature", &RunOptions::signature, kUsageSameLine,
         "also report each PE file's Authenticode signatures:\n"
         "signer, digest check, timestamp, checksum"),
    Value("--ca-file", "FILE", &RunOptions::caFile, "--signature",
          kUsageNewLine,
          "check each signer's chain to these CAs (code signing)"),
    Value("--ca-path", "DIR", &RunOptions::caPath, "--signature", kUsageNewLine,
          nullptr),
    Value("--crl-file", "FILE", &RunOptions::crlFile, "--signature",
          kUsageSameLine, "check the signer's certificate against these CRLs"),
    Value("--catalog-dir", "DIR", &RunOptions::catalogDir, "--signature",
          kUsageSameLine,
          "look files without a signature up in the catalogs\n"
          "(.cat) in DIR and below; each of these four implies\n"
          "--signature"),
    Stop("--help", &RunOptions::help, "this text"),
    Stop("--version", &RunOptions::version, "the program's version"),
    List("--expect", "NAME=VALUE", &RunOptions::expects, kUsageNewLine,
         "check that every file holds VALUE under NAME: a string\n"
         "of the table (FileVersion) or a field (file_version,\n"
         "language, machine, fixed.file_flags); NAME~=REGEX\n"
         "matches an extended regular expression. Each mismatch\n"
         "is a line on standard error. May be given again"),
    Flag("--lint", &RunOptions::lint, kUsageSameLine,
         "check every file's version resource against the rules\n"
         "{rules} (see the manual page): one line on\n"
         "standard error for each finding, \"PATH: QV0NN error:\"\n"
         "or \"warning:\". After --lint or --expect, a summary\n"
         "line on standard error: \"quelvo: N files checked, ...\""),
    List("--lint-ignore", "QV0NN", &RunOptions::lintIgnores, kUsageNewLine,
         "turn a rule of --lint off (IDs separated by commas);\n"
         "may be given again"),
    Flag("--quiet", &RunOptions::quiet, kUsageSameLine,
         "no banner and no report of each file: only failures\n"
         "and findings (with --json or --csv, only the objects\n"
         "of files with either)"),
    End("--", kUsageSameLine,
        "end of the options: after a long option, every word\n"
        "that follows is a file or pattern, -d, -? and -v too"),
};
const size_t kLongOptionCount = sizeof kLongOptions / sizeof kLongOptions[0];

namespace {

const char kUsageIntro[] =
    "\n"
    "Reports the version resource of every Windows executable (PE, NE, LE)\n"
    "that the named files and wildcard patterns match.\n"
    "\n"
    "  -d            detailed report: fixed version record, character set\n"
    "                and language\n"
    "  -?            the short usage text\n"
    "  -v            the banner only (exit status 255)\n";

const char kUsageClosing[] =
    "\n"
    "The long options count only at the start of the command line, before\n"
    "-d, -? or -v; after one, a word that begins with -- and is no option,\n"
    "or a long option after -d or a file, is a usage error. Quote\n"
    "patterns: quelvo expands * and ? itself, as Windows does.\n"
    "\n"
    "Exit status: 0, or 255 after -v. With --json, --csv, --expect or\n"
    "--lint: 0 when every argument was found and every file examined (a\n"
    "file without version information is an answer, not a failure) and\n"
    "every check held, 1 when an argument matched nothing, a file or\n"
    "folder could not be read, an expectation failed or --lint found an\n"
    "error (warnings alone leave 0), 2 for a usage error.\n";

const LongOption *FindLongOption(const char *word) {
  for (const LongOption &option : kLongOptions)
    if (strcmp(word, option.word) == 0)
      return &option;
  return nullptr;
}

bool LooksLikeLongOption(const char *word) {
  return word[0] == '-' && word[1] == '-' && word[2] != '\0';
}

// The first word of the classic command line after the long options that
// would have been taken for an option: a script that put --json after its
// files must not get the report of a run without it. After -? and -v the
// rest is never read, and after "--" every word is a file.
const char *FindMisplacedOption(int argc, char **argv, int first) {
  if (first < argc && (strcmp(argv[first], "-?") == 0 ||
                       (argv[first][0] == '-' &&
                        (argv[first][1] == 'v' || argv[first][1] == 'V'))))
    return nullptr;
  for (int i = first; i < argc; ++i) {
    if (strcmp(argv[i], "--") == 0)
      return nullptr;
    if (LooksLikeLongOption(argv[i]))
      return argv[i];
  }
  return nullptr;
}

// The label of an option in --help: its word and its value's name, and
// those of the options described with it.
std::string UsageLabel(const LongOption *option, const LongOption *end) {
  std::string label;
  do {
    if (!label.empty())
      label += ", ";
    label += option->word;
    if (option->valueName != nullptr)
      label.append(" ").append(option->valueName);
    ++option;
  } while (option != end && option->help == nullptr);
  return label;
}

// The rules --lint checks, first to last, as their IDs are written.
std::string LintRuleRange() {
  return LintRuleId(1) + " to " + LintRuleId(kLintRuleCount);
}

// One option's entry: its label, then its description in a column of its
// own, beside a label short enough and under one that is not.
void AppendUsageEntry(std::string *text, const LongOption *option,
                      const LongOption *end) {
  const size_t column = 14;
  std::string label = UsageLabel(option, end);
  text->append("  ").append(label);
  if (label.size() < column)
    text->append(column - label.size(), ' ');
  else
    text->append("\n").append(2 + column, ' ');
  std::string help = option->help;
  size_t rules = help.find(kRuleRange);
  if (rules != std::string::npos)
    help.replace(rules, sizeof kRuleRange - 1, LintRuleRange());
  for (char c : help) {
    text->push_back(c);
    if (c == '\n')
      text->append(2 + column, ' ');
  }
  text->push_back('\n');
}

// The usage lines: every option that leads to a run in its brackets, each
// where its row places it, then the ones that stand alone.
std::string UsageLines() {
  const char indent[] = "              ";
  std::string text = "usage: quelvo ";
  const LongOption *end = kLongOptions + kLongOptionCount;
  bool first = true;
  for (const LongOption *o = kLongOptions; o != end; ++o) {
    if (o->kind == kOptionStop)
      continue;
    if (o->usage == kUsageOr) {
      text.append(" | ").append(o->word);
    } else {
      if (!first)
        text += o->usage == kUsageNewLine ? std::string("\n") + indent : " ";
      text.append("[").append(o->word);
    }
    if (o->valueName != nullptr)
      text.append(" ").append(o->valueName);
    const LongOption *next = o + 1;
    if (next == end || next->usage != kUsageOr) {
      text += "]";
      if (o->kind == kOptionList)
        text += "...";
    }
    first = false;
  }
  text += " [-d] file(s)\n       quelvo -? | -v";
  for (const LongOption *o = kLongOptions; o != end; ++o)
    if (o->kind == kOptionStop)
      text.append(" | ").append(o->word);
  return text + "\n";
}

} // namespace

const char *NearestLongOption(const char *word) {
  const char *words[sizeof kLongOptions / sizeof kLongOptions[0]];
  size_t count = 0;
  // "--" is no option a slip could have meant.
  for (const LongOption &option : kLongOptions)
    if (option.kind != kOptionEnd)
      words[count++] = option.word;
  return NearestName(word, words, count);
}

int ParseLongOptions(int argc, char **argv, RunOptions *options) {
  *options = RunOptions();
  int i = 1;
  bool any = false;
  while (i < argc) {
    const char *word = argv[i];
    const LongOption *found = FindLongOption(word);
    if (found != nullptr && found->kind == kOptionEnd) {
      // Without a long option before it, the classic command line follows
      // as it always did.
      options->*(found->flag) = any;
      return i + 1;
    }
    if (found == nullptr) {
      if (any && LooksLikeLongOption(word)) {
        options->badOption = word;
        return i;
      }
      if (any) {
        options->badOption = FindMisplacedOption(argc, argv, i);
        options->misplaced = options->badOption != nullptr &&
                             FindLongOption(options->badOption) != nullptr;
      }
      return i;
    }
    any = true;
    ++i;
    if (found->kind == kOptionValue || found->kind == kOptionList) {
      if (i == argc) {
        options->usageError = true;
        return i;
      }
      if (found->kind == kOptionList)
        (options->*(found->list)).push_back(argv[i++]);
      else
        options->*(found->value) = argv[i++];
    } else {
      options->*(found->flag) = true;
    }
    const LongOption *implied =
        found->implies != nullptr ? FindLongOption(found->implies) : nullptr;
    if (implied != nullptr && implied->kind == kOptionFlag)
      options->*(implied->flag) = true;
    // Nothing after a request for help or the version is read.
    if (found->kind == kOptionStop)
      return i;
  }
  return i;
}

bool AnyLongOption(const RunOptions &o) {
  // A stop ends the run before anything asks.
  for (const LongOption &option : kLongOptions) {
    switch (option.kind) {
    case kOptionFlag:
    case kOptionEnd:
      if (o.*(option.flag))
        return true;
      break;
    case kOptionValue:
      if (o.*(option.value) != nullptr)
        return true;
      break;
    case kOptionList:
      if (!(o.*(option.list)).empty())
        return true;
      break;
    case kOptionStop:
      break;
    }
  }
  return false;
}

std::string LongUsageText() {
  std::string text = UsageLines() + kUsageIntro;
  const LongOption *end = kLongOptions + kLongOptionCount;
  // The options that stand alone come last, after "--".
  for (int stops = 0; stops < 2; ++stops)
    for (const LongOption *o = kLongOptions; o != end; ++o)
      if ((o->kind == kOptionStop) == (stops == 1) && o->help != nullptr)
        AppendUsageEntry(&text, o, end);
  return text + kUsageClosing;
}

void PrintLongUsage() { fputs(LongUsageText().c_str(), stdout); }

void PrintProgramVersion() { printf("quelvo %s\n", QUELVO_VERSION); }
