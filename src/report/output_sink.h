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
  // An examined file's record. The text report reads the file itself, as
  // it prints, through facts->record, and fills the facts it reads there
  // (the version facts the checks read, --dotnet's) for what follows it.
  void (*file)(void *state, FileFacts *facts);
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

// What the text report is asked for.
struct TextSinkSettings {
  TextOptions text; // -d, --all, --utf8
  bool quiet;       // --quiet: no report, only the failures' lines
  // --expect and --lint: the version facts they read, gathered from the
  // block the report reads.
  bool checks;
  VersionPlan checkPlan;
  bool dotnet;       // --dotnet: its lines after the report
  KeyDigester *keys; // its key tokens; null without SHA-1
  // The line of a failure (the catalogue's message of facts.code, or,
  // where facts has a message, that one): after a blank line, or with
  // asLine a line of its own.
  void (*printFailure)(const FileFacts &facts, bool asLine);
};

// The text report: the banner, each file's lines, a line for an argument
// that names no file, and the blank line at its end.
OutputSink TextSink(const TextSinkSettings &settings);

// The text report's banner: -v prints it alone.
void PrintBanner();

// --json: one object per line, whole or with the fields chosen.
OutputSink JsonLinesSink(const SinkSettings &settings);
// --csv: a header of the columns, then one row per record (RFC 4180).
OutputSink CsvSink(const SinkSettings &settings);

void CloseSink(OutputSink *sink);

// One line of a machine form on standard output, escaped for a terminal
// where settings ask for it, ended as the form ends its lines.
void WriteSinkLine(bool terminal, const std::string &line, bool csv);

#endif
