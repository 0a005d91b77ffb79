// --csv: a header of the columns, then one row per record, each cell
// written from the record as the JSON object would hold its value.
#include "fact_fields.h"
#include "json_fields.h"
#include "output_sink.h"

namespace {

struct CsvState {
  bool terminal;
  std::vector<std::string> names;
  std::vector<FieldChoice> columns;
  CellScratch scratch;
  std::string line; // the row, its room reused from one to the next
};

void Begin(void *state) {
  CsvState *s = static_cast<CsvState *>(state);
  WriteSinkLine(s->terminal, CsvLine(s->names), true);
}

void WriteRow(void *state, const FileFacts &facts) {
  CsvState *s = static_cast<CsvState *>(state);
  s->line.clear();
  for (size_t i = 0; i < s->columns.size(); ++i) {
    if (i != 0)
      s->line.push_back(',');
    AppendChosenCell(s->columns[i], facts, &s->scratch, &s->line);
  }
  WriteSinkLine(s->terminal, s->line, true);
}

// The machine forms write the facts as gathered, and change none.
void WriteFile(void *state, FileFacts *facts) { WriteRow(state, *facts); }

void Nothing(void *) {}

void Free(void *state) { delete static_cast<CsvState *>(state); }

} // namespace

OutputSink CsvSink(const SinkSettings &settings) {
  CsvState *s = new CsvState();
  s->terminal = settings.terminal;
  s->names = settings.fields;
  for (const std::string &name : settings.fields)
    s->columns.push_back(ChooseField(name));
  s->line.reserve(512); // a row of the default columns, without regrowing
  return {s, Begin, WriteFile, WriteRow, Nothing, Free};
}
