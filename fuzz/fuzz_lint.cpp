// Bytes in as an executable image: what --lint reads of it, gathered from
// the image and its block as the program gathers it, and every rule run
// over that. Each finding must be a rule's, with that rule's severity and a
// message of one line, in rule order; --expect's comparisons run over the
// same facts.
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "byte_source.h"
#include "check_report.h"
#include "exe_locate.h"
#include "expect.h"
#include "fuzz_block.h"
#include "json_report.h"
#include "lint.h"
#include "version_facts.h"

namespace {

void Check(bool ok) {
  if (!ok)
    abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  ByteSource src;
  InitMemorySource(&src, data, size);
  VersionFacts facts = VersionFacts();
  DescribeImage(&src, &facts.image, &facts.languages);
  ListLanguageVersions(&src, &facts.languageVersions);
  Check(facts.languageVersions.size() <= kMaxLanguageVersions);
  Check(facts.languageVersions.size() <= facts.languages.size());
  unsigned long length = 0;
  unsigned char *block = PreparedBlock(data, size, &length);
  StatusCode status = kStatusNoVersionInfo;
  VersionPlan plan;
  plan.lintExtras = true;
  if (block != nullptr)
    status = GatherBlockFacts(block, static_cast<DWORD>(length), &facts, plan);
  std::vector<LintFinding> findings;
  LintVersionFacts("dir/x.dll", status, facts, LintOptions(), &findings);
  for (size_t i = 0; i < findings.size(); ++i) {
    const LintFinding &f = findings[i];
    Check(f.rule >= 1 && f.rule <= kLintRuleCount);
    Check(f.severity == LintRuleSeverity(f.rule));
    Check(!f.message.empty() && f.message.find('\n') == std::string::npos);
    Check(i == 0 || findings[i - 1].rule <= f.rule);
  }
  std::string object = JsonObject("dir/x.dll", "ok", nullptr, &facts);
  std::vector<Expectation> expectations(3);
  std::string error;
  Check(ParseExpectation("FileVersion=1.2.3.4", &expectations[0], &error));
  Check(ParseExpectation("language=0x409", &expectations[1], &error));
  Check(ParseExpectation("ProductName~=^[A-Z]", &expectations[2], &error));
  std::vector<ExpectResult> results;
  FileFacts file;
  file.path = "dir/x.dll";
  file.examined = true;
  file.version = facts;
  CheckExpectations(expectations, file, &results);
  Check(results.size() == expectations.size());
  AppendExpectMember(&object, expectations, &results);
  AppendLintMember(&object, &findings);
  Check(object.find('\n') == std::string::npos && object.back() == '}');
  FreeExpectations(&expectations);
  free(block);
  return 0;
}
