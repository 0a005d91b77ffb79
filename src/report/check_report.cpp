#include "check_report.h"

#include <stdio.h>
#include <string.h>

#include "json_writer.h"
#include "report.h"
#include "terminal_text.h"
#include "unicode_text.h"

namespace {

// A value on a line of standard error, read by people: a JSON string,
// which escapes every control, with the bidirectional controls escaped too
// (still the same string), so that none turns the line around.
std::string Quoted(const std::string &text) {
  JsonWriter w = JsonWriter();
  JsonString(&w, text);
  std::string shown;
  AppendForTerminal(JsonFinish(&w), &shown);
  return shown;
}

// The members go in before the object's closing brace.
void AppendMember(std::string *object, const char *key,
                  const std::string &value) {
  if (object->empty() || object->back() != '}')
    return;
  object->pop_back();
  if (object->size() > 1)
    object->push_back(',');
  object->push_back('"');
  *object += key;
  *object += "\":";
  *object += value;
  object->push_back('}');
}

// For language and charset, after a value that did not hold: how the value
// was read and every form the file's id is written in, so that a value
// in the wrong form ("1009" meant as hex) says so.
std::string IdFormsHint(const Expectation &e, const ExpectResult &r) {
  bool language = e.name == "language";
  unsigned long id, want;
  if (e.regex || !r.found || (!language && e.name != "charset") ||
      ReadIdValue(r.actual, &id) != kIdFormDecimal)
    return std::string();
  IdForm form = ReadIdValue(e.value, &want);
  std::string text = "; " + Quoted(e.value) + " is read as ";
  if (form == kIdFormName) {
    text += "a name";
  } else {
    text += form == kIdFormHex ? "the hex ID " : "the decimal ID ";
    char number[32];
    snprintf(number, sizeof number, form == kIdFormHex ? "%04lx" : "%lu", want);
    text += number;
  }
  char forms[64];
  snprintf(forms, sizeof forms, "%lu, 0x%lx, %04lx", id, id, id);
  text += ", and this ";
  text += language ? "language" : "charset";
  text += " is ";
  text += forms;
  std::string name;
  if (language) {
    AppendLanguageName(static_cast<unsigned>(id), &name);
  } else if (const char *cp1252 = CharacterSetText(static_cast<unsigned>(id))) {
    AppendCp1252AsUtf8(cp1252, strlen(cp1252), &name);
  }
  if (!name.empty())
    text += " or " + Quoted(name);
  return text;
}

} // namespace

std::string ExpectFailureText(const Expectation &e, const ExpectResult &r) {
  std::string text =
      r.found ? e.name + " is " + Quoted(r.actual) : "has no " + e.name;
  text += e.regex ? ", expected to match " : ", expected ";
  return text + Quoted(e.value) + IdFormsHint(e, r);
}

std::string LintFindingText(const LintFinding &f) {
  // The message quotes values as JSON strings; their bidirectional
  // controls are escaped here, as Quoted escapes them.
  std::string text =
      LintRuleId(f.rule) + " " + LintSeverityWord(f.severity) + ": ";
  AppendForTerminal(f.message, &text);
  return text;
}

void WriteExpectValue(JsonWriter *w,
                      const std::vector<Expectation> &expectations,
                      const std::vector<ExpectResult> *results) {
  if (results == nullptr) {
    JsonNull(w);
    return;
  }
  JsonBeginArray(w);
  for (size_t i = 0; i < results->size() && i < expectations.size(); ++i) {
    const Expectation &e = expectations[i];
    const ExpectResult &r = (*results)[i];
    JsonBeginObject(w);
    JsonKey(w, "name");
    JsonString(w, e.name);
    JsonKey(w, "expected");
    JsonString(w, e.value);
    JsonKey(w, "regex");
    JsonBool(w, e.regex);
    JsonKey(w, "actual");
    if (r.found)
      JsonString(w, r.actual);
    else
      JsonNull(w);
    JsonKey(w, "ok");
    JsonBool(w, r.ok);
    JsonEndObject(w);
  }
  JsonEndArray(w);
}

void WriteLintValue(JsonWriter *w, const std::vector<LintFinding> *findings) {
  if (findings == nullptr) {
    JsonNull(w);
    return;
  }
  JsonBeginArray(w);
  for (const LintFinding &f : *findings) {
    JsonBeginObject(w);
    JsonKey(w, "rule");
    JsonString(w, LintRuleId(f.rule));
    JsonKey(w, "severity");
    JsonStringOrNull(w, LintSeverityWord(f.severity));
    JsonKey(w, "message");
    JsonString(w, f.message);
    JsonEndObject(w);
  }
  JsonEndArray(w);
}

void AppendExpectMember(std::string *object,
                        const std::vector<Expectation> &expectations,
                        const std::vector<ExpectResult> *results) {
  JsonWriter w = JsonWriter();
  WriteExpectValue(&w, expectations, results);
  AppendMember(object, "expect", JsonFinish(&w));
}

void AppendLintMember(std::string *object,
                      const std::vector<LintFinding> *findings) {
  JsonWriter w = JsonWriter();
  WriteLintValue(&w, findings);
  AppendMember(object, "lint", JsonFinish(&w));
}
