#include "options.h"

#include <stdio.h>
#include <string.h>

#include "names.h"

#ifndef QUELVO_VERSION
#error "QUELVO_VERSION comes from the project() call in CMakeLists.txt"
#endif

namespace {

// An option either sets a flag or takes the next word as its value; one
// that may be given again adds each value to a list.
struct LongOption {
  const char *word;
  bool RunOptions::*flag;
  const char *RunOptions::*value;
  std::vector<const char *> RunOptions::*list = nullptr;
};

const LongOption kLongOptions[] = {
    {"--json", &RunOptions::json, nullptr},
    {"--csv", &RunOptions::csv, nullptr},
    {"--fields", nullptr, &RunOptions::fields},
    {"--recursive", &RunOptions::recursive, nullptr},
    {"--all", &RunOptions::allStrings, nullptr},
    {"--utf8", &RunOptions::utf8, nullptr},
    {"--hash", &RunOptions::hash, nullptr},
    {"--dotnet", &RunOptions::dotnet, nullptr},
    {"--signature", &RunOptions::signature, nullptr},
    {"--ca-file", nullptr, &RunOptions::caFile},
    {"--ca-path", nullptr, &RunOptions::caPath},
    {"--crl-file", nullptr, &RunOptions::crlFile},
    {"--catalog-dir", nullptr, &RunOptions::catalogDir},
    {"--help", &RunOptions::help, nullptr},
    {"--version", &RunOptions::version, nullptr},
    {"--expect", nullptr, nullptr, &RunOptions::expects},
    {"--lint", &RunOptions::lint, nullptr},
    {"--lint-ignore", nullptr, nullptr, &RunOptions::lintIgnores},
    {"--quiet", &RunOptions::quiet, nullptr},
};

const char kLongUsage[] =
    "usage: quelvo [--json | --csv] [--fields LIST] [--recursive] [--all]\n"
    "              [--utf8] [--hash] [--dotnet] [--signature]\n"
    "              [--ca-file FILE]\n"
    "              [--ca-path DIR] [--crl-file FILE] [--catalog-dir DIR]\n"
    "              [--expect NAME=VALUE]... [--lint]\n"
    "              [--lint-ignore QV0NN]... [--quiet] [--] [-d] file(s)\n"
    "       quelvo -? | -v | --help | --version\n"
    "\n"
    "Reports the version resource of every Windows executable (PE, NE, LE)\n"
    "that the named files and wildcard patterns match.\n"
    "\n"
    "  -d            detailed report: fixed version record, character set\n"
    "                and language\n"
    "  -?            the short usage text\n"
    "  -v            the banner only (exit status 255)\n"
    "  --json        JSON Lines on standard output: one object per file,\n"
    "                and one per argument that matched nothing or could\n"
    "                not be examined, and per folder, device, FIFO or\n"
    "                socket named or matched (never opened)\n"
    "  --csv         the same objects as CSV rows (RFC 4180), after a\n"
    "                header line\n"
    "  --fields LIST the keys of --json or the columns of --csv, in order,\n"
    "                separated by commas: JSON keys (path, status, ...),\n"
    "                dotted paths (fixed.file_flags, version.file) or string\n"
    "                names (ProductName)\n"
    "  --recursive   also search every folder below each pattern's folder;\n"
    "                a folder named alone stands for every file below it\n"
    "  --all         add every other string of the version table, and\n"
    "                every other table under its language, to the report\n"
    "  --utf8        print text values in UTF-8 instead of code page 1252\n"
    "  --hash        add the SHA-256 of each whole file (reads every byte)\n"
    "  --dotnet      add a .NET assembly's own identity: runtime, CLI flags,\n"
    "                name, version, culture, public key token, version\n"
    "                attributes, references (a \"dotnet\" key with --json)\n"
    "  --signature   also report each PE file's Authenticode signatures:\n"
    "                signer, digest check, timestamp, checksum\n"
    "  --ca-file FILE, --ca-path DIR\n"
    "                check each signer's chain to these CAs (code signing)\n"
    "  --crl-file FILE\n"
    "                check the signer's certificate against these CRLs\n"
    "  --catalog-dir DIR\n"
    "                look files without a signature up in the catalogs\n"
    "                (.cat) in DIR and below; each of these four implies\n"
    "                --signature\n"
    "  --expect NAME=VALUE\n"
    "                check that every file holds VALUE under NAME: a string\n"
    "                of the table (FileVersion) or a field (file_version,\n"
    "                language, machine, fixed.file_flags); NAME~=REGEX\n"
    "                matches an extended regular expression. Each mismatch\n"
    "                is a line on standard error. May be given again\n"
    "  --lint        check every file's version resource against the rules\n"
    "                QV001 to QV026 (see the manual page): one line on\n"
    "                standard error for each finding, \"PATH: QV0NN error:\"\n"
    "                or \"warning:\". After --lint or --expect, a summary\n"
    "                line on standard error: \"quelvo: N files checked, ...\"\n"
    "  --lint-ignore QV0NN\n"
    "                turn a rule of --lint off (IDs separated by commas);\n"
    "                may be given again\n"
    "  --quiet       no banner and no report of each file: only failures\n"
    "                and findings (with --json or --csv, only the objects\n"
    "                of files with either)\n"
    "  --            end of the options: after a long option, every word\n"
    "                that follows is a file or pattern, -d, -? and -v too\n"
    "  --help        this text\n"
    "  --version     the program's version\n"
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

} // namespace

const char *NearestLongOption(const char *word) {
  const char *words[sizeof kLongOptions / sizeof kLongOptions[0]];
  size_t count = 0;
  for (const LongOption &option : kLongOptions)
    words[count++] = option.word;
  return NearestName(word, words, count);
}

int ParseLongOptions(int argc, char **argv, RunOptions *options) {
  *options = RunOptions();
  int i = 1;
  bool any = false;
  while (i < argc) {
    const char *word = argv[i];
    if (strcmp(word, "--") == 0) {
      // Without a long option before it, the classic command line follows
      // as it always did.
      options->optionsEnded = any;
      return i + 1;
    }
    const LongOption *found = FindLongOption(word);
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
    if (found->value != nullptr || found->list != nullptr) {
      if (i == argc) {
        options->usageError = true;
        return i;
      }
      if (found->list != nullptr) {
        (options->*(found->list)).push_back(argv[i++]);
      } else {
        options->*(found->value) = argv[i++];
        // The signature options' values are the signature check's.
        if (found->value != &RunOptions::fields)
          options->signature = true;
      }
      continue;
    }
    options->*(found->flag) = true;
    // Nothing after a request for help or the version is read.
    if (options->help || options->version)
      return i;
  }
  return i;
}

bool AnyLongOption(const RunOptions &o) {
  return o.json || o.csv || o.fields != nullptr || o.recursive ||
         o.allStrings || o.utf8 || o.hash || o.dotnet || o.signature ||
         o.optionsEnded || o.lint || !o.expects.empty() ||
         !o.lintIgnores.empty() || o.quiet;
}

void PrintLongUsage() { fputs(kLongUsage, stdout); }

void PrintProgramVersion() { printf("quelvo %s\n", QUELVO_VERSION); }
