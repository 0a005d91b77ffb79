// A record's one byte source: every per-file service answers from it as it
// answers from the same bytes in memory (a file with no path of its own,
// such as a container's member), and reads the file the record opened,
// never the path again.
#include <errno.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "byte_source.h"
#include "platform.h"
#include "platform_extra.h"
#include "signature_service.h"
#include "test_support.h"

namespace {

// What the services answer for one file.
struct Answers {
  int described;
  ImageInfo info;
  std::vector<uint16_t> languages;
  int listed;
  std::vector<LanguageVersion> versions;
  int dotnetResult;
  DotnetInfo dotnet;
  int signatureResult;
  SignatureFacts signature;
  int hashResult;
  std::string digest;
};

// What a run opens once for every file.
class RecordSourceTest : public testing::Test {
protected:
  void SetUp() override {
    int error = 0;
    hasher_ = OpenFileHasher(&error);
    ASSERT_NE(hasher_, nullptr) << error;
    keys_ = OpenKeyDigester();
    ASSERT_NE(keys_, nullptr);
    ca_ = Fixture("../signed/pki/root.pem");
    SignatureOptions options = {ca_.c_str(), nullptr, nullptr, nullptr};
    std::string why;
    checks_ = PrepareSignatureChecks(options, &why);
    ASSERT_NE(checks_, nullptr) << why;
  }
  void TearDown() override {
    CloseFileHasher(hasher_);
    CloseKeyDigester(keys_);
    ReleaseSignatureChecks(checks_);
  }

  // Each service given the source (its first form), or the record (its
  // second), in the order a run with every long option asks them.
  template <typename From> Answers Ask(From from) {
    Answers a = Answers();
    unsigned char sha256[kSha256Size];
    a.hashResult = HashRecordFile(hasher_, from, sha256);
    if (a.hashResult == 0)
      a.digest.assign(reinterpret_cast<char *>(sha256), sizeof sha256);
    a.described = QueryRecordDescription(from, &a.info, &a.languages);
    a.listed = QueryRecordLanguageVersions(from, &a.versions);
    a.signatureResult = QueryRecordSignature(from, checks_, &a.signature);
    a.dotnetResult = QueryRecordDotnet(from, keys_, &a.dotnet);
    return a;
  }

  Answers FromMemory(const std::string &bytes) {
    ByteSource src;
    InitMemorySource(&src, bytes.data(), bytes.size());
    return Ask(&src);
  }

  FileHasher *hasher_ = nullptr;
  KeyDigester *keys_ = nullptr;
  SignatureChecks *checks_ = nullptr;
  std::string ca_;
};

std::string Hex(const std::vector<unsigned char> &bytes) {
  std::string hex;
  for (unsigned char b : bytes) {
    char two[3];
    snprintf(two, sizeof two, "%02x", b);
    hex += two;
  }
  return hex;
}

void ExpectSameIdentity(const DotnetIdentity &a, const DotnetIdentity &b,
                        const std::string &what) {
  EXPECT_EQ(a.name, b.name) << what;
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(a.version[i], b.version[i]) << what;
  EXPECT_EQ(a.culture, b.culture) << what;
  EXPECT_EQ(a.publicKey, b.publicKey) << what;
  EXPECT_EQ(a.hasToken, b.hasToken) << what;
  if (a.hasToken && b.hasToken) {
    EXPECT_EQ(std::string(a.token, a.token + 8),
              std::string(b.token, b.token + 8))
        << what;
  }
}

void ExpectSameAnswers(const Answers &a, const Answers &b,
                       const std::string &what) {
  EXPECT_EQ(a.hashResult, b.hashResult) << what;
  EXPECT_EQ(a.digest, b.digest) << what;
  EXPECT_EQ(a.described, b.described) << what;
  EXPECT_EQ(a.info.kind, b.info.kind) << what;
  EXPECT_EQ(a.info.machine, b.info.machine) << what;
  EXPECT_EQ(a.info.code, b.info.code) << what;
  EXPECT_EQ(a.languages, b.languages) << what;
  EXPECT_EQ(a.listed, b.listed) << what;
  ASSERT_EQ(a.versions.size(), b.versions.size()) << what;
  for (size_t i = 0; i < a.versions.size(); ++i) {
    EXPECT_EQ(a.versions[i].language, b.versions[i].language) << what;
    EXPECT_EQ(a.versions[i].hasFixed, b.versions[i].hasFixed) << what;
    EXPECT_EQ(a.versions[i].fileMs, b.versions[i].fileMs) << what;
    EXPECT_EQ(a.versions[i].productLs, b.versions[i].productLs) << what;
  }
  EXPECT_EQ(a.dotnetResult, b.dotnetResult) << what;
  EXPECT_EQ(a.dotnet.hasCli, b.dotnet.hasCli) << what;
  EXPECT_EQ(a.dotnet.malformed, b.dotnet.malformed) << what;
  EXPECT_EQ(a.dotnet.runtimeVersion, b.dotnet.runtimeVersion) << what;
  EXPECT_EQ(a.dotnet.host.found, b.dotnet.host.found) << what;
  EXPECT_EQ(a.dotnet.host.mainAssembly, b.dotnet.host.mainAssembly) << what;
  EXPECT_EQ(a.dotnet.hasAssembly, b.dotnet.hasAssembly) << what;
  ExpectSameIdentity(a.dotnet.assembly, b.dotnet.assembly, what);
  EXPECT_EQ(a.dotnet.referenceCount, b.dotnet.referenceCount) << what;
  ASSERT_EQ(a.dotnet.references.size(), b.dotnet.references.size()) << what;
  for (size_t i = 0; i < a.dotnet.references.size(); ++i)
    ExpectSameIdentity(a.dotnet.references[i], b.dotnet.references[i], what);
  const SignatureFacts &s = a.signature, &t = b.signature;
  EXPECT_EQ(a.signatureResult, b.signatureResult) << what;
  EXPECT_EQ(s.status, t.status) << what;
  EXPECT_EQ(s.problem, t.problem) << what;
  EXPECT_EQ(s.tableOffset, t.tableOffset) << what;
  EXPECT_EQ(s.entries.size(), t.entries.size()) << what;
  EXPECT_EQ(s.unhashedBytes, t.unhashedBytes) << what;
  EXPECT_EQ(s.computedChecksum, t.computedChecksum) << what;
  ASSERT_EQ(s.signatures.size(), t.signatures.size()) << what;
  for (size_t i = 0; i < s.signatures.size(); ++i) {
    const SignatureInfo &x = s.signatures[i], &y = t.signatures[i];
    EXPECT_EQ(Hex(x.computedDigest), Hex(y.computedDigest)) << what;
    EXPECT_EQ(x.integrity, y.integrity) << what;
    EXPECT_EQ(x.signer.subject, y.signer.subject) << what;
    EXPECT_EQ(x.trust, y.trust) << what;
    EXPECT_EQ(x.trustReason, y.trustReason) << what;
    EXPECT_EQ(x.timestamp.time, y.timestamp.time) << what;
  }
}

// The kinds of file each service tells apart: PE with and without a
// resource, NE and LE, .NET assemblies, a host, signed images, languages
// that disagree, and bytes that are no executable at all.
const char *const kFiles[] = {
    "app32.exe",
    "app64.exe",
    "nover.dll",
    "../ne/app16.exe",
    "../ne/driver.vxd",
    "../dotnet/strong.dll",
    "../dotnet/refs.exe",
    "../dotnet/bundle1.exe",
    "../signed/sha256.exe",
    "../signed/countersigned.dll",
    "../signed/t_truncated.exe",
    "../lint/l_langdiff.dll",
    "../forged/tables.dll",
    "../README.md",
};

TEST_F(RecordSourceTest, BytesInMemoryAnswerAsTheRecordsFile) {
  int dotnet = 0, hosts = 0, signatures = 0, languages = 0;
  for (const char *name : kFiles) {
    std::string path = Fixture(name);
    std::string bytes = ReadFile(path);
    ASSERT_FALSE(bytes.empty()) << name;
    FileRecord record;
    OpenFileRecord(&record, &path[0], nullptr, nullptr);
    unsigned mode = 0;
    ASSERT_EQ(QueryRecordMode(&record, &mode), 0) << name;
    DWORD handle = 0;
    GetRecordVersionInfoSize(&record, &handle);
    Answers file = Ask(&record);
    CloseFileRecord(&record);
    ExpectSameAnswers(FromMemory(bytes), file, name);
    dotnet += file.dotnet.hasAssembly ? 1 : 0;
    hosts += file.dotnet.host.found ? 1 : 0;
    signatures += file.signature.signatures.size() > 0 ? 1 : 0;
    languages += file.versions.size() > 1 ? 1 : 0;
  }
  // Not a table of files that every service passes over alike.
  EXPECT_GE(dotnet, 2);
  EXPECT_EQ(hosts, 1);
  EXPECT_GE(signatures, 2);
  EXPECT_EQ(languages, 1);
}

// The services of a record read the file the record opened, whatever is
// put at its path meanwhile: a report never mixes one file's version
// with another's signature, .NET identity or digest.
TEST_F(RecordSourceTest, AReplacedPathIsNeverReadAgain) {
  ScratchDir dir;
  const std::string first = ReadFile(Fixture("../signed/sha256.exe"));
  const std::string second = ReadFile(Fixture("../dotnet/strong.dll"));
  std::string path = dir.Add("x.dll", first);
  std::string other = dir.Add("y.dll", second);
  FileRecord record;
  OpenFileRecord(&record, &path[0], nullptr, nullptr);
  unsigned mode = 0;
  ASSERT_EQ(QueryRecordMode(&record, &mode), 0);
  DWORD handle = 0;
  EXPECT_NE(GetRecordVersionInfoSize(&record, &handle), 0u);
  ASSERT_EQ(rename(other.c_str(), path.c_str()), 0);
  Answers file = Ask(&record);
  CloseFileRecord(&record);
  ExpectSameAnswers(FromMemory(first), file, "replaced");
  EXPECT_EQ(file.signature.status, kSignatureSigned);
  EXPECT_EQ(file.dotnetResult, -1);
}

// A file that cannot be opened is unreadable to every service alike, and
// the record says why once.
TEST_F(RecordSourceTest, AFileThatCannotBeOpenedIsUnreadableToEveryService) {
  ScratchDir dir;
  std::string path = dir.path() + "/missing.dll";
  FileRecord record;
  OpenFileRecord(&record, &path[0], nullptr, nullptr);
  int error = 0;
  EXPECT_EQ(RecordSource(&record, &error), nullptr);
  EXPECT_EQ(error, ENOENT);
  // Not there now, nor when it is asked again: the record keeps why.
  dir.Add("missing.dll", ReadFile(Fixture("app32.exe")));
  Answers a = Ask(&record);
  DWORD handle = 0;
  EXPECT_EQ(GetRecordVersionInfoSize(&record, &handle), 0u);
  CloseFileRecord(&record);
  EXPECT_EQ(a.hashResult, ENOENT);
  EXPECT_EQ(a.described, -1);
  EXPECT_EQ(a.listed, -1);
  EXPECT_EQ(a.dotnetResult, -1);
  EXPECT_EQ(a.signatureResult, -1);
  EXPECT_EQ(a.signature.status, kSignatureUnreadable);
  EXPECT_EQ(record.error, 0); // gone is no file that may not be read
}

} // namespace
