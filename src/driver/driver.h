// The command-line driver and its message catalogue.
#ifndef QUELVO_DRIVER_H
#define QUELVO_DRIVER_H

// Prints the catalogue's message for a status code; path fills its "%s"
// (an absent path prints as nothing).
void ReportStatus(int code, const char *path);

#include <stddef.h>

// Room for a stream's buffer, owned by main with the process's streams.
struct StreamBuffer {
  char *bytes;
  size_t size;
};

// The whole run: options, banner, every argument's matches. Returns the
// process exit status, 0, or -1 after the version option; with --json, 1
// when any argument or match was not reported in full. A run whose
// findings go to standard error (--expect, --lint) buffers that stream in
// errorBuffer, before anything is written to it; without one (a test
// that runs the program in-process) the stream is left as it is.
int RunQuelvo(int argc, char **argv, const StreamBuffer *errorBuffer = nullptr);

// Flushes standard output and returns status, or, when any of the output
// could not be written, says so on standard error and returns 1.
int FinishOutput(int status);

#endif
