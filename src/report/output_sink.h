// An output form of the run: what it writes at the start, for each file's
// record (or an argument's that names no file), and at the end. A form is
// one sink: a state of its own and the functions that write it.
#ifndef QUELVO_OUTPUT_SINK_H
#define QUELVO_OUTPUT_SINK_H

#include <string>
#include <vector>

#include "file_facts.h"

struct OutputSink {
  void *state; // the sink's own: its options and the scratch it reuses
  void (*begin)(void *state);
  // An examined file's record.
  void (*file)(void *state, const FileFacts &facts);
  // The record of an argument that names no file to examine (not found,
  // too long, a folder, unreadable).
  void (*failure)(void *state, const FileFacts &facts);
  void (*end)(void *state);
  void (*close)(void *state); // frees the state
};

// What the machine forms are asked for.
struct SinkSettings {
  // Standard output is a terminal: each line's controls and
  // bidirectional controls are shown as escapes.
  bool terminal;
  // --fields (or --csv's columns): the members chosen, in order; empty for
  // --json's whole object.
  std::vector<std::string> fields;
};

// --json: one object per line, whole or with the fields chosen.
OutputSink JsonLinesSink(const SinkSettings &settings);
// --csv: a header of the columns, then one row per record (RFC 4180).
OutputSink CsvSink(const SinkSettings &settings);

void CloseSink(OutputSink *sink);

// One line of a machine form on standard output, escaped for a terminal
// where settings ask for it, ended as the form ends its lines.
void WriteSinkLine(bool terminal, const std::string &line, bool csv);

#endif
