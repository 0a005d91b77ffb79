// The long options: exact words at the start of the command line, before
// the classic ones. Whatever follows them is read as a whole command line
// of its own.
#ifndef QUELVO_OPTIONS_H
#define QUELVO_OPTIONS_H

#include <stddef.h>

#include <string>
#include <vector>

struct RunOptions {
  bool json;          // --json: one JSON object per line instead of the report
  bool csv;           // --csv: one CSV row per object --json would print
  bool recursive;     // --recursive: every folder below each pattern's folder
  bool allStrings;    // --all: every string of the table in the text report
  bool utf8;          // --utf8: text values in UTF-8 rather than code page 1252
  bool hash;          // --hash: the SHA-256 of each whole file as well
  bool dotnet;        // --dotnet: a .NET file's own identity as well
  bool help;          // --help: the usage of every option, then stop
  bool version;       // --version: the program's version, then stop
  const char *fields; // --fields LIST: the columns or keys, or null
  bool signature;     // --signature: Authenticode signatures too
  // The signature options that take the next word as their value; each
  // implies --signature.
  const char *caFile;     // --ca-file FILE: CAs to build chains to
  const char *caPath;     // --ca-path DIR: a hashed folder of CAs
  const char *crlFile;    // --crl-file FILE: CRLs to check revocation with
  const char *catalogDir; // --catalog-dir DIR: catalogs (.cat) to look in
  bool lint;              // --lint: check each file against the rules
  // --quiet: no banner and no report of each file; only failures, the
  // checks' findings and, in the machine forms, the objects of files with
  // either.
  bool quiet;
  // Options given once for each value, in order: --expect NAME=VALUE and
  // --lint-ignore QV0NN.
  std::vector<const char *> expects;
  std::vector<const char *> lintIgnores;
  // "--" after a long option: every word after it is a file or pattern,
  // -d, -? and -v included.
  bool optionsEnded;
  bool usageError; // a long option without its value
  // After a long option, a word that begins with "--" where an option
  // cannot be: one that is no option, or a long option after -d or a
  // file. A usage error; null when there is none.
  const char *badOption;
  bool misplaced; // badOption is a long option, out of place
};

// How a long option acts on RunOptions.
enum OptionKind {
  kOptionFlag,  // sets its bool
  kOptionValue, // takes the next word, whatever it is, as its value
  kOptionList,  // takes the next word as one more value; may be repeated
  kOptionStop,  // sets its bool, and nothing after it is read
  kOptionEnd,   // "--": every later word is a file or pattern
};

// Where an option's "[--name VALUE]" goes in the usage lines of --help.
enum UsagePlace {
  kUsageSameLine, // after the one before, on its line
  kUsageNewLine,  // at the start of a line of its own
  kUsageOr,       // in the brackets of the one before, as its alternative
};

// One row of the option table, which everything that names the long
// options is made from or held to: the parser, the nearest name to a
// slip, --help, the bash completion and the manual page.
struct LongOption {
  const char *word; // exactly as typed: "--ca-file"
  OptionKind kind;
  const char *valueName; // a value's name in --help ("FILE"), or null
  // The member the option sets: flag for a flag, a stop or "--", value
  // or list for the options that take one.
  bool RunOptions::*flag;
  const char *RunOptions::*value;
  std::vector<const char *> RunOptions::*list;
  // A flag option this one turns on as well, or null: each of the
  // signature check's settings turns the check on.
  const char *implies;
  UsagePlace usage;
  // Its description in --help, lines separated by '\n'; null for an option
  // described with the one before it ("--ca-file FILE, --ca-path DIR").
  const char *help;
};

extern const LongOption kLongOptions[];
extern const size_t kLongOptionCount;

// Reads the long options from argv[1] on. Returns the index of the first
// word that is not one of them (argc when none is left); "--" is consumed
// and ends them, and so does --help or --version. Without a long option
// before it, any other word, "--d", "--jsn" and "--HELP" included, ends
// them without being consumed; after one, a word that begins with "--" and
// is no option, or a long option among the files, is noted in badOption.
// An option that takes a value takes the next word, whatever it is.
int ParseLongOptions(int argc, char **argv, RunOptions *options);

// The long option nearest to a word mistyped, or null.
const char *NearestLongOption(const char *word);

// Whether any long option was given: the opt-in modes, where "--" ends
// every option and the exit status tells failures apart.
bool AnyLongOption(const RunOptions &options);

// The machine-readable forms, JSON Lines or CSV.
inline bool MachineOutput(const RunOptions &options) {
  return options.json || options.csv;
}

// The usage of every option, as --help prints it.
std::string LongUsageText();

// The usage of every option, on standard output.
void PrintLongUsage();

// "quelvo X.Y.Z" and a newline, on standard output.
void PrintProgramVersion();

#endif
