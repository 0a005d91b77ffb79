// --fields and --csv write each chosen member from the file's record: for
// every name they take and every fixture, the value is the whole --json
// object's, with the options that add members and without.
#include <string.h>

#include <string>
#include <vector>

#include "expect.h"
#include "fact_fields.h"
#include "gather.h"
#include "json_fields.h"
#include "json_index.h"
#include "names.h"
#include "platform_extra.h"
#include "run_support.h"

namespace {

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos)
      end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

// RFC 4180 rows: CR LF ends a row outside quotes, "" is a quote inside.
std::vector<std::vector<std::string>> CsvRows(const std::string &text) {
  std::vector<std::vector<std::string>> rows(1);
  std::string cell;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"')
        cell.push_back(text[++i]);
      else if (c == '"')
        quoted = false;
      else
        cell.push_back(c);
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      rows.back().push_back(cell);
      cell.clear();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      rows.back().push_back(cell);
      cell.clear();
      rows.emplace_back();
      ++i;
    } else {
      cell.push_back(c);
    }
  }
  rows.pop_back(); // after the last row's line end
  return rows;
}

TEST(Fields, EveryNameIsTheWholeObjectsMemberOnEveryFixture) {
  const std::string fixtures = std::string(QUELVO_FIXTURES) + "/..";
  std::vector<std::string> files;
  for (const char *dir : {"pe", "dotnet", "signed", "signed/hostile", "lint",
                          "ne", "lossless", "forged", "large"})
    files.push_back(fixtures + "/" + dir + "/*");
  files.push_back("no-such-file.dll");
  std::vector<std::string> names(kFieldNames, kFieldNames + kFieldNameCount);
  for (const char *name : {"strings.ProductName", "strings.FileVersion",
                           "strings.a.b", "Sha256", "XDotnet"})
    names.push_back(name);
  std::string list;
  for (const std::string &name : names)
    list += (list.empty() ? "" : ",") + name;
  const std::vector<std::vector<std::string>> optionSets = {
      {},
      // --signature needs its module beside the program: its members are
      // held to the object from hand-made facts (json_report_test.cpp).
      {"--dotnet", "--hash", "--lint", "--expect", "FileVersion~=."},
  };
  for (const std::vector<std::string> &options : optionSets) {
    auto run = [&](std::vector<std::string> head) {
      head.insert(head.end(), options.begin(), options.end());
      head.push_back("--");
      head.insert(head.end(), files.begin(), files.end());
      return RunWith(head).output;
    };
    std::vector<std::string> whole = Lines(run({"--json"}));
    std::vector<std::string> picked = Lines(run({"--json", "--fields", list}));
    std::vector<std::vector<std::string>> rows =
        CsvRows(run({"--csv", "--fields", list}));
    ASSERT_GT(whole.size(), 100u);
    ASSERT_EQ(picked.size(), whole.size());
    ASSERT_EQ(rows.size(), whole.size() + 1);
    EXPECT_EQ(rows[0], names);
    for (size_t l = 0; l < whole.size(); ++l) {
      std::vector<JsonMember> all, chosen;
      ASSERT_TRUE(IndexJsonObject(whole[l], &all)) << whole[l];
      ASSERT_TRUE(IndexJsonObject(picked[l], &chosen, false)) << picked[l];
      ASSERT_EQ(chosen.size(), names.size());
      ASSERT_EQ(rows[l + 1].size(), names.size());
      for (size_t i = 0; i < names.size(); ++i) {
        const JsonMember *m = FindField(all, names[i]);
        EXPECT_EQ(chosen[i].path, names[i]);
        EXPECT_EQ(ValueOf(picked[l], &chosen[i]), ValueOf(whole[l], m))
            << names[i] << " in " << whole[l].substr(0, 80);
        EXPECT_EQ(rows[l + 1][i], CsvCell(whole[l], m))
            << names[i] << " in " << whole[l].substr(0, 80);
      }
    }
  }
}

// An expectation of a field that holds a string, with the field's --csv
// cell for its value, holds for the file: --expect compares the text the
// cell shows, escapes, controls and bytes that are no UTF-8 included.
TEST(Fields, AnExpectationOfAStringsCellHolds) {
  const std::string fixtures = std::string(QUELVO_FIXTURES) + "/..";
  std::vector<std::string> args = {"--dotnet", "--hash", "--"};
  for (const char *dir :
       {"pe", "dotnet", "signed", "lint", "ne", "lossless", "forged", "large"})
    args.push_back(fixtures + "/" + dir + "/*");
  std::vector<std::string> names(kFieldNames, kFieldNames + kFieldNameCount);
  names.push_back("strings.ProductName");
  ASSERT_EQ(names[0], "path"); // a row's file, and its status
  ASSERT_EQ(names[1], "status");
  std::string list;
  for (const std::string &name : names)
    list += (list.empty() ? "" : ",") + name;
  std::vector<std::string> csv = {"--csv", "--fields", list};
  csv.insert(csv.end(), args.begin(), args.end());
  std::vector<std::vector<std::string>> rows = CsvRows(RunWith(csv).output);
  args.insert(args.begin(), "--json");
  std::vector<std::string> whole = Lines(RunWith(args).output);
  ASSERT_GT(whole.size(), 100u);
  ASSERT_EQ(rows.size(), whole.size() + 1);
  FileHasher *hasher = OpenFileHasher(nullptr);
  KeyDigester *keys = OpenKeyDigester();
  GatherPlan plan = GatherPlan();
  plan.versionFacts = true;
  plan.version.everyTable = true;
  plan.status = true;
  plan.dotnet = true;
  plan.keys = keys;
  plan.hasher = hasher;
  size_t checked = 0;
  for (size_t l = 0; l < whole.size(); ++l) {
    const std::vector<std::string> &row = rows[l + 1];
    ASSERT_EQ(row.size(), names.size());
    if (row[1] == "folder")
      continue; // the walk's, not a file's
    std::vector<JsonMember> all;
    ASSERT_TRUE(IndexJsonObject(whole[l], &all)) << whole[l];
    std::vector<Expectation> expectations;
    for (size_t i = 0; i < names.size(); ++i) {
      const FactsField *field = FindFactsField(names[i]);
      if (ValueOf(whole[l], FindField(all, names[i]))[0] != '"' ||
          (field != nullptr && (field->presence == kFieldWithExpect ||
                                field->presence == kFieldWithLint)))
        continue; // not a string, or a check's own result
      Expectation e;
      std::string error;
      std::string text = names[i] + "=" + row[i];
      ASSERT_TRUE(ParseExpectation(text.c_str(), &e, &error)) << text;
      expectations.push_back(e);
    }
    std::string path = row[0];
    FileRecord record;
    OpenFileRecord(&record, &path[0], nullptr, nullptr);
    FileFacts facts;
    GatherFile(&record, plan, &facts);
    CloseFileRecord(&record);
    std::vector<ExpectResult> results;
    CheckExpectations(expectations, facts, &results);
    ASSERT_EQ(results.size(), expectations.size());
    for (size_t i = 0; i < results.size(); ++i) {
      EXPECT_TRUE(results[i].ok)
          << path << ": " << expectations[i].name << "="
          << expectations[i].value << " against " << results[i].actual;
      ++checked;
    }
  }
  EXPECT_GT(checked, 1000u);
  CloseKeyDigester(keys);
  CloseFileHasher(hasher);
}

// What the plan asks for is gathered, and only that; the status and
// message are the object's.
TEST(GatherFile, ThePlanSaysWhatIsRead) {
  const std::string fixtures = std::string(QUELVO_FIXTURES) + "/..";
  FileHasher *hasher = OpenFileHasher(nullptr);
  KeyDigester *keys = OpenKeyDigester();
  const struct {
    const char *file;
    bool everyTable, lint, dotnet, hash;
    const char *status;
    bool failure, tables, tableKeys, dotnetFound, digestRead;
  } cases[] = {
      // Without every table, each table's key stands in for its strings.
      {"pe/app32.exe", false, false, false, false, "ok", false, false, true,
       false, false},
      {"pe/app32.exe", true, false, false, true, "ok", false, true, false,
       false, true},
      {"pe/app32.exe", true, true, false, false, "ok", false, true, true, false,
       false},
      {"lint/l_othertrans.dll", false, true, false, false, "ok", false, false,
       true, false, false},
      {"dotnet/strong.dll", true, false, true, true, "ok", false, true, false,
       true, true},
      {"pe/nover.dll", true, true, true, false, "no-version", false, false,
       false, false, false},
  };
  for (const auto &c : cases) {
    GatherPlan plan = GatherPlan();
    plan.versionFacts = true;
    plan.version.everyTable = c.everyTable;
    plan.status = true;
    plan.version.lintExtras = c.lint;
    plan.dotnet = c.dotnet;
    plan.keys = keys;
    plan.hasher = c.hash ? hasher : nullptr;
    std::string path = fixtures + "/" + c.file;
    FileRecord record;
    OpenFileRecord(&record, &path[0], nullptr, nullptr);
    FileFacts facts;
    GatherFile(&record, plan, &facts);
    CloseFileRecord(&record);
    EXPECT_EQ(facts.path, path);
    EXPECT_TRUE(facts.examined);
    EXPECT_STREQ(facts.status, c.status) << c.file;
    EXPECT_EQ(facts.hasMessage, strcmp(c.status, "ok") != 0) << c.file;
    EXPECT_EQ(facts.failure, c.failure) << c.file;
    EXPECT_EQ(!facts.version.tables.empty(), c.tables) << c.file;
    EXPECT_EQ(!facts.version.tableKeys.empty(), c.tableKeys) << c.file;
    EXPECT_EQ(facts.withDotnet, c.dotnet) << c.file;
    if (c.dotnet) {
      ASSERT_TRUE(facts.dotnet.has_value()) << c.file;
      EXPECT_EQ(facts.dotnet->found, c.dotnetFound) << c.file;
    }
    EXPECT_EQ(facts.withDigest, c.hash) << c.file;
    if (c.hash) {
      EXPECT_EQ(facts.digest.read, c.digestRead) << c.file;
    }
    EXPECT_FALSE(facts.withSignature);
  }
  CloseKeyDigester(keys);
  CloseFileHasher(hasher);
}

} // namespace
