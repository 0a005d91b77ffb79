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
    {"--json", &RunOptions::json},      {"--recursive", &RunOptions::recursive},
    {"--all", &RunOptions::allStrings}, {"--utf8", &RunOptions::utf8},
    {"--help", &RunOptions::help},      {"--version", &RunOptions::version},
    {"--dotnet", &RunOptions::dotnet},
};

const char kLongUsage[] =
    "usage: quelvo [--json] [--recursive] [--all] [--utf8] [--dotnet] [--]\n"
    "              [-d] file(s)\n"
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
    "  --dotnet     add a .NET assembly's own identity: runtime, CLI flags,\n"
    "               name, version, culture, public key token, version\n"
    "               attributes, references (a \"dotnet\" key with --json)\n"
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
