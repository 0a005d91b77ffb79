// The output sinks and the fields they write, from hand-made records: the
// paths into "signature" and "dotnet" are the whole object's members, and
// each sink writes a record as its form says.
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "fact_fields.h"
#include "file_facts.h"
#include "json_fields.h"
#include "json_index.h"
#include "json_report.h"
#include "output_sink.h"
#include "report.h"
#include "signature_report.h"
#include "test_support.h"

namespace {

std::string ObjectOf(const FileFacts &file) {
  JsonWriter w = JsonWriter();
  WriteFileObject(&w, file);
  return JsonFinish(&w);
}

std::string ChosenValue(const std::string &field, const FileFacts &file) {
  JsonWriter w = JsonWriter();
  WriteChosenField(&w, ChooseField(field), file);
  return JsonFinish(&w);
}

CertificateFacts Certificate(const char *cn) {
  CertificateFacts c;
  c.subject = std::string("CN=") + cn;
  c.subjectCn = cn;
  c.issuer = "CN=Root";
  c.serial = "01";
  c.sha256 = "ab";
  c.notBefore = "2026-01-02T03:04:05Z";
  return c;
}

// A file with every kind of signature and .NET fact, each once present
// and once absent (so that a path under a null member is null too).
std::vector<FileFacts> Records() {
  FileFacts full;
  full.path = "dir/x.dll";
  full.examined = true;
  full.version = VersionFacts();
  full.withSignature = true;
  SignatureFacts &s = full.signature.emplace();
  s.status = kSignatureCatalog;
  s.problem = "odd";
  s.haveTable = true;
  s.tableOffset = 4096;
  s.tableSize = 24;
  s.entries = {{4096, 20, 0x200, 2, false}};
  s.trailingBytes = 4;
  s.unhashedBytes = 1;
  s.haveChecksum = true;
  s.storedChecksum = 1;
  s.computedChecksum = 2;
  SignatureInfo one = SignatureInfo();
  one.digestName = "sha256";
  one.signedDigest = {1, 2};
  one.computedDigest = {1, 2};
  one.integrity = kVerdictYes;
  one.haveSigner = true;
  one.signer = Certificate("Signer");
  one.timestamp.present = true;
  one.timestamp.kind = "rfc3161";
  s.signatures = {one};
  s.catalogName = "cat\x01.cat";
  s.catalogDigest = kDigestSha1;
  s.catalogHash = {0xAB, 0xCD};
  s.haveCatalogSigner = true;
  s.catalogSigner = Certificate("Catalog \"Signer\"");
  s.catalogTrust = kTrustUntrusted;
  s.catalogTrustReason = "unknown-issuer";
  full.withDotnet = true;
  DotnetFacts &d = full.dotnet.emplace();
  d.found = true;
  d.versionMismatch = 1;
  DotnetInfo &i = d.info;
  i.hasCli = true;
  i.cliMajor = 2;
  i.cliMinor = 5;
  i.cliFlags = 9;
  i.hasStrongName = true;
  i.strongNameRva = 0x2000;
  i.strongNameSize = 128;
  i.strongNameMapped = true;
  i.strongNameOffset = 0x800;
  i.readyToRun = true;
  i.hasMetadata = true;
  i.runtimeVersion = "v4.0.30319";
  i.streams = {{"#~", 108, 200}};
  i.hasTables = true;
  i.hasModule = true;
  i.moduleName = "x.dll";
  i.hasAssembly = true;
  i.assembly.name = "X";
  i.assembly.culture = "de";
  i.assembly.publicKey = {0, 1};
  i.assembly.hasToken = true;
  i.hashAlgorithm = 0x8004;
  i.attributes[kAttrTitle] = {true, false, "Title\n"};
  i.attributes[kAttrCompany] = {true, true, ""};
  i.hasFrameworkDisplayName = true;
  i.frameworkDisplayName = ".NET 8";
  i.referenceCount = 1;
  i.references = {i.assembly};
  i.host.found = true;
  i.host.headerOffset = 0x9000;
  i.host.isBundle = true;
  i.host.bundleId = "id";
  i.host.mainAssembly = "x.dll";
  std::vector<FileFacts> records = {full};
  // Each member that holds others, absent in turn.
  FileFacts bare = full;
  bare.signature->status = kSignatureSigned;
  bare.signature->haveTable = false;
  bare.signature->haveChecksum = false;
  bare.signature->haveCatalogSigner = false;
  bare.dotnet->info.hasStrongName = false;
  bare.dotnet->info.hasAssembly = false;
  bare.dotnet->info.host.isBundle = false;
  records.push_back(bare);
  FileFacts noHost = bare;
  noHost.dotnet->info.host.found = false;
  noHost.dotnet->found = false;
  records.push_back(noHost);
  FileFacts none = full; // an argument that names no file
  none.examined = false;
  none.status = "not-found";
  records.push_back(none);
  return records;
}

TEST(FactFields, SignatureAndDotnetPathsAreTheObjectsMembers) {
  std::vector<std::string> names;
  for (size_t i = 0; i < kSignatureFieldCount; ++i)
    names.emplace_back(kSignatureFields[i].name);
  for (size_t i = 0; i < kDotnetFieldCount; ++i)
    names.emplace_back(kDotnetFields[i].name);
  for (const FileFacts &file : Records()) {
    std::string whole = ObjectOf(file);
    std::vector<JsonMember> all;
    ASSERT_TRUE(IndexJsonObject(whole, &all)) << whole;
    size_t found = 0;
    for (const std::string &name : names) {
      const JsonMember *m = FindField(all, name);
      found += m != nullptr ? 1 : 0;
      EXPECT_EQ(ChosenValue(name, file), ValueOf(whole, m)) << name;
    }
    // A file examined has members under "signature" or "dotnet".
    if (file.examined) {
      EXPECT_GT(found, 0u);
    }
    // Every member the object has is in the table.
    for (const JsonMember &m : all) {
      EXPECT_NE(FindFactsField(m.path), nullptr) << m.path;
    }
  }
  // Without the options, the paths are no members: null.
  FileFacts plain = Records()[0];
  plain.withDotnet = plain.withSignature = false;
  EXPECT_EQ(ChosenValue("signature.status", plain), "null");
  EXPECT_EQ(ChosenValue("dotnet.module", plain), "null");
}

// Every member of the full record's object is written by the table alike,
// and the object has each path the table names.
TEST(FactFields, TheFullRecordHasEveryPath) {
  FileFacts file = Records()[0];
  std::string whole = ObjectOf(file);
  std::vector<JsonMember> all;
  ASSERT_TRUE(IndexJsonObject(whole, &all));
  for (size_t i = 0; i < kSignatureFieldCount; ++i)
    EXPECT_NE(FindField(all, std::string(kSignatureFields[i].name)), nullptr)
        << kSignatureFields[i].name;
  for (size_t i = 0; i < kDotnetFieldCount; ++i)
    EXPECT_NE(FindField(all, std::string(kDotnetFields[i].name)), nullptr)
        << kDotnetFields[i].name;
}

std::string Sink(OutputSink sink, std::vector<FileFacts> records) {
  std::string out = CaptureOutput([&] {
    sink.begin(sink.state);
    for (FileFacts &f : records)
      if (f.examined)
        sink.file(sink.state, &f);
      else
        sink.failure(sink.state, f);
    sink.end(sink.state);
  });
  CloseSink(&sink);
  return out;
}

TEST(OutputSink, JsonLinesWholeAndChosen) {
  std::vector<FileFacts> records = Records();
  records.push_back(records[0]); // a shorter object after a longer one
  records.back().path = "y";
  std::string expected;
  for (const FileFacts &f : records)
    expected += ObjectOf(f) + "\n";
  SinkSettings settings = {false, {}};
  EXPECT_EQ(Sink(JsonLinesSink(settings), records), expected);
  settings.fields = {"path", "signature.catalog.name", "ProductName"};
  EXPECT_EQ(Sink(JsonLinesSink(settings), {records[0], records[3]}),
            "{\"path\":\"dir/x.dll\",\"signature.catalog.name\":"
            "\"cat\\u0001.cat\",\"ProductName\":null}\n"
            "{\"path\":\"dir/x.dll\",\"signature.catalog.name\":null,"
            "\"ProductName\":null}\n");
  // On a terminal, controls are shown as escapes.
  settings.terminal = true;
  settings.fields = {"path"};
  FileFacts odd = records[0];
  odd.path = "a\xE2\x80\xAE"
             "b";
  EXPECT_EQ(Sink(JsonLinesSink(settings), {odd}), "{\"path\":\"a\\u202eb\"}\n");
}

TEST(OutputSink, CsvHeaderThenRowsEndedByCrLf) {
  std::vector<FileFacts> records = Records();
  SinkSettings settings = {false,
                           {"path", "status", "signature.catalog.signer",
                            "dotnet.attributes.title", "=x"}};
  std::string out = Sink(CsvSink(settings), {records[0], records[3]});
  EXPECT_EQ(out.substr(0, out.find("\r\n")),
            "path,status,signature.catalog.signer,dotnet.attributes.title,"
            "\"=x\"");
  EXPECT_NE(out.find("\r\ndir/x.dll,ok,\"{\"\"subject\"\":\"\"CN=Catalog "
                     "\\\"\"Signer\\\"\"\"\","),
            std::string::npos)
      << out;
  EXPECT_NE(out.find(",\"Title\n\",\r\n"), std::string::npos) << out;
  EXPECT_NE(out.find("\r\ndir/x.dll,not-found,,,\r\n"), std::string::npos)
      << out;
}

} // namespace

namespace {

// The text report's sink reads the file through the record its facts
// carry; what follows the report's lines comes from the facts.
struct TextRun {
  FileRecord record;
  std::string path;
  FileFacts facts;
};

void OpenTextRun(TextRun *run, const std::string &path) {
  run->path = path;
  OpenFileRecord(&run->record, &run->path[0], nullptr, nullptr);
  run->facts.path = path;
  run->facts.examined = true;
  run->facts.record = &run->record;
}

TextSinkSettings PlainText(bool detailed) {
  TextSinkSettings s = TextSinkSettings();
  s.text = {detailed, false, false};
  s.printFailure = [](const FileFacts &, bool) {};
  return s;
}

} // namespace

// Each file's lines in order: the report's, the line of a file it could
// not report in full, then --hash's, then --signature's; nothing with
// --quiet.
TEST(TextSink, AFilesLinesThenWhatFollowsThem) {
  const struct {
    const char *file;
    bool detailed, quiet, digestRead, signature, noVersion;
  } cases[] = {
      {"basic.dll", true, false, true, true, false},
      {"basic.dll", false, false, false, false, false},
      {"nover.dll", false, false, true, true, true},
      {"nocompany.dll", true, false, false, true, true},
      {"basic.dll", true, true, true, true, false},
  };
  for (const auto &c : cases) {
    std::string path = Fixture(c.file);
    TextRun run;
    OpenTextRun(&run, path);
    run.facts.withDigest = true;
    run.facts.digest = FileDigest();
    run.facts.digest.read = c.digestRead;
    run.facts.digest.sha256[0] = 0xAB;
    if (c.signature)
      run.facts.signature = Records()[0].signature;
    TextSinkSettings settings = PlainText(c.detailed);
    settings.quiet = c.quiet;
    OutputSink sink = TextSink(settings);
    std::string out = CaptureOutput([&] { sink.file(sink.state, &run.facts); });
    CloseSink(&sink);
    CloseFileRecord(&run.record);

    std::string expected;
    if (!c.quiet) {
      expected =
          CaptureOutput([&] { ReportVersion(path.c_str(), c.detailed); });
      if (c.noVersion)
        expected += "\n" + path + " does not contain version information.\n";
      expected += "SHA-256:           ";
      expected += c.digestRead ? DigestHex(run.facts.digest) : "unreadable";
      expected += "\n";
      if (c.signature)
        expected += CaptureOutput(
            [&] { PrintSignatureFacts(*run.facts.signature, false); });
    }
    EXPECT_EQ(out, expected) << c.file << (c.quiet ? " --quiet" : "");
  }
}

// With the checks, the version facts come from the block the report
// prints, as the gathering alone would give them; --dotnet's facts are
// left in the record for what follows.
TEST(TextSink, TheReportFillsTheFactsTheChecksRead) {
  for (const char *file : {"basic.dll", "notrans.dll", "nocompany.dll",
                           "nover.dll", "../dotnet/strong.dll"}) {
    std::string path = Fixture(file);
    TextRun run;
    OpenTextRun(&run, path);
    TextSinkSettings settings = PlainText(false);
    settings.checks = true;
    settings.checkPlan.lintExtras = true;
    settings.checkPlan.everyTable = true;
    settings.dotnet = true;
    OutputSink sink = TextSink(settings);
    CaptureOutput([&] { sink.file(sink.state, &run.facts); });
    CloseSink(&sink);
    CloseFileRecord(&run.record);

    VersionFacts alone;
    std::string copy = path;
    FileRecord record;
    OpenFileRecord(&record, &copy[0], nullptr, nullptr);
    StatusCode code = GatherVersionFacts(&record, &alone, settings.checkPlan);
    CloseFileRecord(&record);
    const VersionFacts &f = run.facts.version;
    EXPECT_EQ(run.facts.code, code) << file;
    EXPECT_EQ(f.hasTranslations, alone.hasTranslations) << file;
    EXPECT_EQ(f.strings.size(), alone.strings.size()) << file;
    EXPECT_EQ(f.tables.size(), alone.tables.size()) << file;
    EXPECT_EQ(f.tableKeys, alone.tableKeys) << file;
    EXPECT_EQ(f.image.kind, alone.image.kind) << file;
    EXPECT_TRUE(run.facts.withDotnet) << file;
    ASSERT_TRUE(run.facts.dotnet.has_value()) << file;
    EXPECT_EQ(run.facts.dotnet->found,
              std::string(file).find("dotnet") != std::string::npos)
        << file;
  }
}

// The banner opens the report and a blank line ends it, neither with
// --quiet; a failure's line is a line of its own only with --quiet.
TEST(TextSink, BannerEndAndFailures) {
  for (bool quiet : {false, true}) {
    TextSinkSettings settings = PlainText(false);
    settings.quiet = quiet;
    settings.printFailure = [](const FileFacts &facts, bool asLine) {
      printf("[%s %d]", facts.path.c_str(), asLine ? 1 : 0);
    };
    OutputSink sink = TextSink(settings);
    FileFacts failure;
    failure.path = "gone";
    std::string out = CaptureOutput([&] {
      sink.begin(sink.state);
      sink.failure(sink.state, failure);
      sink.end(sink.state);
    });
    CloseSink(&sink);
    std::string banner = CaptureOutput([] { PrintBanner(); });
    EXPECT_EQ(out, quiet ? "[gone 1]" : banner + "[gone 0]\n");
  }
}
