// What --expect and --lint add to the report of a file: a line on standard
// error for each failed expectation and each finding, and, under --json,
// the keys "expect" and "lint" at the end of each object.
#ifndef QUELVO_CHECK_REPORT_H
#define QUELVO_CHECK_REPORT_H

#include <string>
#include <vector>

#include "expect.h"
#include "json_writer.h"
#include "lint.h"

// `NAME is "ACTUAL", expected "VALUE"`, `has no NAME, expected "VALUE"`,
// or `... expected to match "REGEX"`: the text after the path. Values are
// quoted as JSON strings, so that none breaks the line.
std::string ExpectFailureText(const Expectation &expectation,
                              const ExpectResult &result);

// `QV013 warning: message`: the text after the path.
std::string LintFindingText(const LintFinding &finding);

// The values of "expect" and "lint": null where the file was not
// checked (results or findings null).
void WriteExpectValue(JsonWriter *w,
                      const std::vector<Expectation> &expectations,
                      const std::vector<ExpectResult> *results);
void WriteLintValue(JsonWriter *w, const std::vector<LintFinding> *findings);

// Appends "expect": [{name, expected, regex, actual, ok}, ...] to an object
// that JsonObject wrote, or "expect": null when results is null (an object
// for no file).
void AppendExpectMember(std::string *object,
                        const std::vector<Expectation> &expectations,
                        const std::vector<ExpectResult> *results);

// Appends "lint": [{rule, severity, message}, ...], or null likewise.
void AppendLintMember(std::string *object,
                      const std::vector<LintFinding> *findings);

#endif
