// --json: one object per line, each written from the record.
#include <stdio.h>

#include "fact_fields.h"
#include "json_report.h"
#include "output_sink.h"
#include "terminal_text.h"

namespace {

struct JsonLinesState {
  bool terminal;
  std::vector<FieldChoice> fields; // empty: the whole object
  // Written in the room of the object before: a run of a hundred thousand
  // files allocates for the first only.
  JsonWriter writer;
};

void WriteRecord(void *state, const FileFacts &facts) {
  JsonLinesState *s = static_cast<JsonLinesState *>(state);
  JsonWriter &w = s->writer;
  w.used = 0;
  w.needComma = false;
  w.depth = 0;
  if (s->fields.empty()) {
    WriteFileObject(&w, facts);
  } else {
    JsonBeginObject(&w);
    for (const FieldChoice &c : s->fields) {
      JsonMemberName(&w, c.name.data(), c.name.size());
      WriteChosenField(&w, c, facts);
    }
    JsonEndObject(&w);
  }
  std::string line = JsonFinish(&w);
  WriteSinkLine(s->terminal, line, false);
  w.buffer.swap(line);
}

// The machine forms write the facts as gathered, and change none.
void WriteFile(void *state, FileFacts *facts) { WriteRecord(state, *facts); }

void Nothing(void *) {}

void Free(void *state) { delete static_cast<JsonLinesState *>(state); }

} // namespace

OutputSink JsonLinesSink(const SinkSettings &settings) {
  JsonLinesState *s = new JsonLinesState();
  s->terminal = settings.terminal;
  for (const std::string &name : settings.fields)
    s->fields.push_back(ChooseField(name));
  s->writer = JsonWriter();
  return {s, Nothing, WriteFile, WriteRecord, Nothing, Free};
}

void CloseSink(OutputSink *sink) {
  if (sink->close != nullptr)
    sink->close(sink->state);
  *sink = OutputSink();
}

void WriteSinkLine(bool terminal, const std::string &line, bool csv) {
  if (terminal) {
    // For eyes, not for a program: what a name or value holds that the
    // terminal would act on or that reorders the line is shown escaped.
    std::string shown;
    AppendForTerminal(line, &shown);
    fwrite(shown.data(), 1, shown.size(), stdout);
  } else {
    fwrite(line.data(), 1, line.size(), stdout);
  }
#ifdef _WIN32
  (void)csv; // text mode turns the newline into CR LF already
  putchar('\n');
#else
  // RFC 4180 ends each record with CR LF.
  fputs(csv ? "\r\n" : "\n", stdout);
#endif
}
