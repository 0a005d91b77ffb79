#include "fact_fields.h"

#include <string.h>

#include "json_fields.h"
#include "unicode_text.h"

namespace {

const FactsField *FindIn(const FactsField *table, size_t count,
                         std::string_view name) {
  for (size_t i = 0; i < count; ++i)
    if (name == table[i].name)
      return &table[i];
  return nullptr;
}

bool StartsWith(std::string_view text, std::string_view head) {
  return text.size() > head.size() && text.compare(0, head.size(), head) == 0;
}

bool OptionGiven(FieldPresence presence, const FileFacts &f) {
  switch (presence) {
  case kFieldWithDotnet:
    return f.withDotnet;
  case kFieldWithSignature:
    return f.withSignature;
  case kFieldWithDigest:
    return f.withDigest;
  case kFieldWithExpect:
    return f.expectations != nullptr && !f.expectations->empty();
  case kFieldWithLint:
    return f.withLint;
  case kFieldAlways:
    break;
  }
  return true;
}

// The picked table's first string of the key exactly, the one "strings"
// keeps of a key stored twice; null when there is none.
const std::string *StringOfKey(const FileFacts &f, const std::string &key) {
  if (!f.examined || !f.version.hasTable)
    return nullptr;
  for (const VersionText &s : f.version.strings)
    if (s.key == key)
      return &s.value;
  return nullptr;
}

} // namespace

const FactsField *FindFactsField(std::string_view name) {
  if (StartsWith(name, "signature."))
    return FindIn(kSignatureFields, kSignatureFieldCount, name);
  if (StartsWith(name, "dotnet."))
    return FindIn(kDotnetFields, kDotnetFieldCount, name);
  return FindIn(kObjectFields, kObjectFieldCount, name);
}

bool FieldPresent(const FactsField &field, const FileFacts &facts,
                  JsonWriter *scratch) {
  if (!OptionGiven(field.presence, facts))
    return false;
  std::string_view name = field.name;
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos)
    return true;
  const FactsField *parent = FindFactsField(name.substr(0, dot));
  if (parent == nullptr || !FieldPresent(*parent, facts, scratch))
    return false;
  JsonRestart(scratch);
  parent->write(scratch, facts);
  return scratch->used > 0 && scratch->buffer[0] == '{';
}

FieldChoice ChooseField(const std::string &name) {
  FieldChoice c;
  c.name = name;
  c.field = FindFactsField(name);
  c.hasStringKey = true;
  if (StartsWith(name, "strings."))
    c.stringKey = name.substr(8);
  else if (name.find('.') == std::string::npos)
    c.stringKey = name;
  else
    c.hasStringKey = false;
  return c;
}

void WriteChosenField(JsonWriter *w, const FieldChoice &c,
                      const FileFacts &facts) {
  if (c.field != nullptr && OptionGiven(c.field->presence, facts)) {
    c.field->write(w, facts);
    return;
  }
  const std::string *text =
      c.hasStringKey ? StringOfKey(facts, c.stringKey) : nullptr;
  if (text != nullptr)
    JsonString(w, *text);
  else
    JsonNull(w);
}

void AppendChosenCell(const FieldChoice &c, const FileFacts &facts,
                      CellScratch *scratch, std::string *line) {
  if (c.field == nullptr || !OptionGiven(c.field->presence, facts)) {
    // A string by name: its text made valid UTF-8 as the writer makes it.
    const std::string *text =
        c.hasStringKey ? StringOfKey(facts, c.stringKey) : nullptr;
    if (text == nullptr)
      return;
    for (char ch : *text)
      if (static_cast<unsigned char>(ch) >= 0x80) {
        scratch->text.clear();
        AppendBytesAsUtf8(text->data(), text->size(), &scratch->text);
        AppendCsvText(scratch->text, line);
        return;
      }
    AppendCsvText(*text, line);
    return;
  }
  JsonWriter &w = scratch->value;
  JsonRestart(&w);
  c.field->write(&w, facts);
  AppendCsvText(JsonShownText(w), line);
}
