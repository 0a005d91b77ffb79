// The long options: exact words at the start of the command line, before
// the classic ones. Whatever follows them is read as a whole command line
// of its own.
#ifndef QUELVO_OPTIONS_H
#define QUELVO_OPTIONS_H

struct RunOptions {
  bool json;       // --json: one JSON object per line instead of the report
  bool recursive;  // --recursive: every folder below each pattern's folder
  bool allStrings; // --all: every string of the table in the text report
  bool utf8;       // --utf8: text values in UTF-8 rather than code page 1252
  bool dotnet;     // --dotnet: a .NET file's own identity as well
  bool help;       // --help: the usage of every option, then stop
  bool version;    // --version: the program's version, then stop
};

// Reads the long options from argv[1] on. Returns the index of the first
// word that is not one of them (argc when none is left); "--" is consumed
// and ends them, and so does --help or --version. Any other word, "--d",
// "--jsn" and "--HELP" included, ends them without being consumed.
int ParseLongOptions(int argc, char **argv, RunOptions *options);

// The usage of every option, on standard output.
void PrintLongUsage();

// "quelvo X.Y.Z" and a newline, on standard output.
void PrintProgramVersion();

#endif
