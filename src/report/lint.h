// --lint: one file's version resource checked against rules that each
// have a stable ID (QV001 and on), so that a script or CI job can turn
// one off by name. Errors are what makes Windows show nothing, or the
// wrong thing; warnings are what is suspicious. The rules and their reasons
// are documented in the manual page and doc/reference.md.
#ifndef QUELVO_LINT_H
#define QUELVO_LINT_H

#include <string>
#include <vector>

#include "status.h"
#include "version_facts.h"

enum LintSeverity { kLintWarning = 0, kLintError = 1 };

// The rules, numbered as their IDs: kLintNoVersion is QV001. A number is
// never given to another rule, nor reused once a rule is dropped.
enum LintRule {
  kLintNoVersion = 1,
  kLintNoTranslation = 2,
  kLintTranslationWithoutTable = 3,
  kLintOtherTranslationWithoutTable = 4,
  kLintNeutralMismatch = 5,
  kLintNoCompanyName = 6,
  kLintNoFileDescription = 7,
  kLintNoFileVersion = 8,
  kLintNoProductName = 9,
  kLintNoProductVersion = 10,
  kLintFileVersionDrift = 11,
  kLintProductVersionDrift = 12,
  kLintOriginalFilename = 13,
  kLintDebugFlag = 14,
  kLintPrereleaseFlag = 15,
  kLintPatchedFlag = 16,
  kLintPrivateBuildFlagOnly = 17,
  kLintSpecialBuildFlagOnly = 18,
  kLintPrivateBuildStringOnly = 19,
  kLintSpecialBuildStringOnly = 20,
  kLintFixedSignature = 21,
  kLintFixedStrucVersion = 22,
  kLintControlCharacters = 23,
  kLintNulsInLength = 24,
  kLintInvalidInCodePage = 25,
  kLintLanguagesDiffer = 26,
};
const int kLintRuleCount = 26;

struct LintFinding {
  int rule; // a LintRule
  LintSeverity severity;
  std::string message; // UTF-8, without the path
};

// The rules --lint checks: every one but those --lint-ignore turned off.
struct LintOptions {
  bool ignored[kLintRuleCount + 1]; // by rule number; [0] unused
};

// Turns off the rules of one --lint-ignore value: IDs separated by commas
// ("QV013" or "QV013,qv014"). False, having turned nothing off, when a
// word is no rule's ID.
bool IgnoreLintRules(const char *list, LintOptions *options);

// "QV013": the ID of a rule number.
std::string LintRuleId(int rule);

// "error" or "warning".
const char *LintSeverityWord(LintSeverity severity);

// The severity every finding of a rule has.
LintSeverity LintRuleSeverity(int rule);

// Checks one file. status is what GatherVersionFacts answered for it
// (kStatusNoVersionInfo for a file opened and found without a version
// resource; a file that could not be read at all is not checked), facts
// what it gathered with forLint, and path the file's path as reported,
// whose last component OriginalFilename is held to. Findings are appended
// in rule order.
void LintVersionFacts(const char *path, StatusCode status,
                      const VersionFacts &facts, const LintOptions &options,
                      std::vector<LintFinding> *findings);

#endif
