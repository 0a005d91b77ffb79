#include "driver.h"

#ifdef _WIN32
// The command line reaches main as typed: patterns are expanded by the
// program itself, in its own order, never by the start-up code.
int _dowildcard = 0;
#endif

#ifndef _WIN32
#include <stdio.h>
#include <unistd.h>
#endif

int main(int argc, char **argv) {
#ifndef _WIN32
  // Reports of a large folder run to megabytes: written to a file or a
  // pipe in blocks of 64 KiB rather than of the stream's default 4 KiB, one
  // system call for some 160 reports instead of ten. A terminal keeps its
  // line at a time.
  static char buffer[1 << 16];
  if (!isatty(STDOUT_FILENO))
    setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
  // Standard error's room, for the findings of --expect and --lint: the
  // driver knows whether the run has any, and where they go.
  static char errors[1 << 16];
  StreamBuffer errorBuffer = {errors, sizeof errors};
  return FinishOutput(RunQuelvo(argc, argv, &errorBuffer));
#else
  // The Windows C runtime buffers a line as a whole stream.
  return FinishOutput(RunQuelvo(argc, argv));
#endif
}
