#include "options.h"

#include <stdio.h>
#include <string.h>

#ifndef QUELVO_VERSION
#error "QUELVO_VERSION comes from the project() call in CMakeLists.txt"
#endif

namespace {

struct LongOption {
  const char *word;
  bool RunOptions::*flag;
};

const LongOption kLongOptions[] = {
    {"--json", &RunOptions::json},
    {"--recursive", &RunOptions::recursive},
    {"--all", &RunOptions::allStrings},
    {"--utf8", &RunOptions::utf8},
    {"--help", &RunOptions::help},
    {"--version", &RunOptions::version},
    {"--signature", &RunOptions::signature},
};

struct ValueOption {
  const char *word;
  const char *RunOptions::*value;
};

const ValueOption kValueOptions[] = {
    {"--ca-file", &RunOptions::caFile},
    {"--ca-path", &RunOptions::caPath},
    {"--crl-file", &RunOptions::crlFile},
    {"--catalog-dir", &RunOptions::catalogDir},
};

const char kLongUsage[] =
    "usage: quelvo [--json] [--recursive] [--all] [--utf8] [--signature]\n"
    "              [--ca-file FILE] [--ca-path DIR] [--crl-file FILE]\n"
    "              [--catalog-dir DIR] [--] [-d] file(s)\n"
    "       quelvo -? | -v | --help | --version\n"
    "\n"
    "Reports the version resource of every Windows executable (PE, NE, LE)\n"
    "that the named files and wildcard patterns match.\n"
    "\n"
    "  -d           detailed report: fixed version record, character set\n"
    "               and language\n"
    "  -?           the short usage text\n"
    "  -v           the banner only (exit status 255)\n"
    "  --json       JSON Lines on standard output: one object per file,\n"
    "               and one per argument that matched nothing or could not\n"
    "               be examined; exit status 1 when any object is not \"ok\"\n"
    "  --recursive  also search every folder below each pattern's folder;\n"
    "               a folder named alone stands for every file below it\n"
    "  --all        add every other string of the version table to the\n"
    "               report\n"
    "  --utf8       print text values in UTF-8 instead of code page 1252\n"
    "  --signature  also report each PE file's Authenticode signatures:\n"
    "               signer, digest check, timestamp, checksum\n"
    "  --ca-file FILE, --ca-path DIR\n"
    "               check each signer's chain to these CAs (code signing)\n"
    "  --crl-file FILE\n"
    "               check the signer's certificate against these CRLs\n"
    "  --catalog-dir DIR\n"
    "               look files without a signature up in the catalogs (.cat)\n"
    "               in DIR and below; each of these four implies --signature\n"
    "  --           end of the long options\n"
    "  --help       this text\n"
    "  --version    the program's version\n"
    "\n"
    "The long options count only at the start of the command line, before\n"
    "-d, -? or -v; any other word there is a file name or pattern. Quote\n"
    "patterns: quelvo expands * and ? itself, as Windows does.\n";

} // namespace

int ParseLongOptions(int argc, char **argv, RunOptions *options) {
  *options = RunOptions();
  int i = 1;
  while (i < argc) {
    const char *word = argv[i];
    if (strcmp(word, "--") == 0)
      return i + 1;
    const ValueOption *valued = nullptr;
    for (const ValueOption &option : kValueOptions)
      if (strcmp(word, option.word) == 0)
        valued = &option;
    if (valued != nullptr) {
      if (i + 1 >= argc) {
        options->missingValue = valued->word;
        return argc;
      }
      options->*(valued->value) = argv[i + 1];
      options->signature = true;
      i += 2;
      continue;
    }
    const LongOption *found = nullptr;
    for (const LongOption &option : kLongOptions)
      if (strcmp(word, option.word) == 0)
        found = &option;
    if (found == nullptr)
      return i;
    options->*(found->flag) = true;
    ++i;
    // Nothing after a request for help or the version is read.
    if (options->help || options->version)
      return i;
  }
  return i;
}

void PrintLongUsage() { fputs(kLongUsage, stdout); }

void PrintProgramVersion() { printf("quelvo %s\n", QUELVO_VERSION); }
