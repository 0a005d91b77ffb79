// --dotnet's report: the version comparison with the resource, and what
// the JSON value and the text lines hold for records made here.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "dotnet_report.h"
#include "dotnet_tokens.h"
#include "json_writer.h"
#include "platform_extra.h"
#include "test_support.h"

namespace {

TEST(DotnetVersions, Normalise) {
  const struct {
    const char *text;
    bool ok;
    std::vector<uint64_t> parts;
  } cases[] = {
      {"10.0.7+sha.abc", true, {10, 0, 7}},
      {"1.2.3.4", true, {1, 2, 3, 4}},
      {"1.2.0.0", true, {1, 2}},
      {"1, 2, 3, 4", true, {1, 2, 3, 4}}, // an old resource script's
      {"1,2,3,4", true, {1, 2, 3, 4}},
      {" 2.5", true, {2, 5}},
      {"1.2.3.4.5", true, {1, 2, 3, 4}}, // four parts at most
      {"3.1.0-rc.1", true, {3, 1}},
      {"1..2", true, {1}},
      {"1.", true, {1}},
      {"0.0.0.0", true, {}},
      {"beta", false, {}},
      {"", false, {}},
      {"v1.2", false, {}},
  };
  for (const auto &c : cases) {
    std::vector<uint64_t> parts;
    EXPECT_EQ(NormaliseVersion(c.text, &parts), c.ok) << c.text;
    EXPECT_EQ(parts, c.parts) << c.text;
  }
  // A part too large for any version is kept large, never wrapped to a
  // small one that could pass for equal.
  std::vector<uint64_t> parts;
  EXPECT_TRUE(NormaliseVersion("99999999999999999999999.1", &parts));
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_GE(parts[0], uint64_t{1} << 40);
}

VersionFacts Resource(const char *fileVersion, const char *productVersion,
                      DWORD fileMs, DWORD fileLs, DWORD productMs,
                      DWORD productLs) {
  VersionFacts f = VersionFacts();
  f.hasTable = true;
  if (fileVersion != nullptr)
    f.strings.push_back({"FileVersion", fileVersion});
  if (productVersion != nullptr)
    f.strings.push_back({"productversion", productVersion});
  f.hasFixed = true;
  f.fixed.dwFileVersionMS = fileMs;
  f.fixed.dwFileVersionLS = fileLs;
  f.fixed.dwProductVersionMS = productMs;
  f.fixed.dwProductVersionLS = productLs;
  return f;
}

DotnetInfo Attributes(const char *fileVersion, const char *informational) {
  DotnetInfo info = DotnetInfo();
  if (fileVersion != nullptr) {
    info.attributes[kAttrFileVersion].present = true;
    info.attributes[kAttrFileVersion].value = fileVersion;
  }
  if (informational != nullptr) {
    info.attributes[kAttrInformationalVersion].present = true;
    info.attributes[kAttrInformationalVersion].value = informational;
  }
  return info;
}

// FileVersion against FileVersion, informational against ProductVersion:
// the strings where the table has them, else the fixed record's numbers.
TEST(DotnetVersions, CompareWithTheResource) {
  const DWORD v1234ms = 0x00010002, v1234ls = 0x00030004;
  const struct {
    const char *what;
    DotnetInfo info;
    VersionFacts resource;
    int expected;
  } cases[] = {
      {"both agree", Attributes("1.2.3.4", "8.0.1+abc"),
       Resource("1.2.3.4", "8.0.1+abc", 0, 0, 0, 0), 0},
      {"file version differs", Attributes("1.2.3.5", "8.0.1"),
       Resource("1.2.3.4", "8.0.1", 0, 0, 0, 0), 1},
      {"informational differs", Attributes("1.2.3.4", "9.0"),
       Resource("1.2.3.4", "8.0", 0, 0, 0, 0), 1},
      {"trailing zeros and commas", Attributes("1.2.0.0", nullptr),
       Resource("1, 2", nullptr, 0, 0, 0, 0), 0},
      {"no strings: the fixed record", Attributes("1.2.3.4", nullptr),
       Resource(nullptr, nullptr, v1234ms, v1234ls, 0, 0), 0},
      {"no strings: the fixed record differs", Attributes("1.2.3.5", nullptr),
       Resource(nullptr, nullptr, v1234ms, v1234ls, 0, 0), 1},
      {"the string wins over the fixed record", Attributes("1.2.3.4", nullptr),
       Resource("1.2.3.4", nullptr, 0x00090009, 0, 0, 0), 0},
      {"no attributes", Attributes(nullptr, nullptr),
       Resource("1.2.3.4", "1.2.3.4", 0, 0, 0, 0), -1},
      {"no number to compare", Attributes(nullptr, "beta"),
       Resource(nullptr, "beta", 0, 0, 0, 0), -1},
  };
  for (const auto &c : cases) {
    Win32Versions versions = VersionsOf(c.resource);
    EXPECT_EQ(CompareDotnetVersions(c.info, &versions), c.expected) << c.what;
  }
  EXPECT_EQ(CompareDotnetVersions(Attributes("1.2.3.4", "1.2"), nullptr), -1)
      << "no resource";
}

std::string Json(const DotnetFacts *facts) {
  JsonWriter w = JsonWriter();
  WriteDotnetJson(&w, facts);
  return JsonFinish(&w);
}

DotnetFacts Assembly() {
  DotnetFacts f = DotnetFacts();
  f.found = true;
  f.versionMismatch = 1;
  DotnetInfo &i = f.info;
  i.hasCli = i.hasMetadata = i.hasTables = i.hasAssembly = true;
  i.cliMajor = 2;
  i.cliMinor = 5;
  i.cliFlags = kCliFlagIlOnly | kCliFlagStrongNameSigned;
  i.runtimeVersion = "v4.0.30319";
  i.assembly.name = "Demo";
  const uint16_t version[4] = {1, 2, 3, 4};
  for (int k = 0; k < 4; ++k)
    i.assembly.version[k] = version[k];
  i.assembly.culture = "de-DE";
  i.assembly.publicKey = {0xAB, 0xCD};
  i.assembly.hasToken = true;
  for (int k = 0; k < 8; ++k)
    i.assembly.token[k] = static_cast<unsigned char>(0x10 + k);
  i.assembly.flags = kAssemblyFlagPublicKey | kAssemblyFlagRetargetable;
  i.hashAlgorithm = 0x8004;
  i.attributes[kAttrTitle].present = true;
  i.attributes[kAttrTitle].value = "t\xc3\xa9st \x01";
  i.referenceCount = 1;
  DotnetIdentity ref = DotnetIdentity();
  ref.name = "mscorlib";
  ref.hasToken = true;
  ref.publicKey.assign(8, 0xB7); // a token as stored, not a key
  i.references.push_back(ref);
  i.malformed = kDotnetBadBlob;
  return f;
}

TEST(DotnetJson, NullWithoutACliHeader) {
  EXPECT_EQ(Json(nullptr), "null");
  DotnetFacts none = DotnetFacts();
  EXPECT_EQ(Json(&none), "null");
}

TEST(DotnetJson, IdentityTokensAndReason) {
  DotnetFacts f = Assembly();
  std::string json = Json(&f);
  const char *const wanted[] = {
      "\"malformed\":\"bad-blob\"",
      "\"cli_flags\":[\"il-only\",\"strong-name-signed\"]",
      "\"name\":\"Demo\",\"version\":\"1.2.3.4\",\"culture\":\"de-DE\","
      "\"flags\":257",
      "\"public_key\":\"abcd\",\"public_key_token\":\"1011121314151617\"",
      "\"hash_algorithm\":{\"id\":32772,\"name\":\"SHA1\"}",
      "\"title\":\"t\xc3\xa9st \\u0001\"",
      // A reference's stored token is no key.
      "\"name\":\"mscorlib\",\"version\":\"0.0.0.0\",\"culture\":\"\","
      "\"flags\":0,\"public_key\":null",
      "\"version_mismatch\":true,\"host\":null}",
  };
  for (const char *w : wanted)
    EXPECT_NE(json.find(w), std::string::npos) << w << "\nin " << json;
}

TEST(DotnetText, LinesAfterTheReport) {
  DotnetFacts f = Assembly();
  std::string text = CaptureOutput([&] { PrintDotnetText(f, false); });
  EXPECT_EQ(text, ".NET Assembly:\n"
                  "  Runtime:           v4.0.30319\n"
                  "  Streams:           \n"
                  "  CLI Flags:         IL only, strong-name signed\n"
                  "  Name:              Demo\n"
                  "  Version:           1.2.3.4\n"
                  "  Culture:           de-DE\n"
                  "  Public Key Token:  1011121314151617\n"
                  "  Assembly Flags:    0x101 (public key, retargetable)\n"
                  "  Hash Algorithm:    SHA1\n"
                  "  Title:             t st  \n"
                  "  References:        1\n"
                  "  Version Mismatch:  yes\n"
                  "  Malformed:         bad-blob\n");
  std::string utf8 = CaptureOutput([&] { PrintDotnetText(f, true); });
  EXPECT_NE(utf8.find("  Title:             t\xc3\xa9st  \n"),
            std::string::npos);
}

TEST(DotnetText, ModuleAndHost) {
  DotnetFacts module = DotnetFacts();
  module.found = true;
  module.versionMismatch = -1;
  module.info.hasCli = module.info.hasTables = module.info.hasModule = true;
  module.info.moduleName = "m.netmodule";
  std::string text = CaptureOutput([&] { PrintDotnetText(module, false); });
  EXPECT_NE(text.find(".NET Module:\n"), std::string::npos);
  EXPECT_NE(text.find("  Module:            m.netmodule\n"), std::string::npos);
  EXPECT_NE(text.find("  Assembly:          none (a module without a "
                      "manifest)\n"),
            std::string::npos);
  EXPECT_EQ(text.find("Version Mismatch"), std::string::npos);

  DotnetFacts host = DotnetFacts();
  host.found = true;
  host.info.host.found = true;
  text = CaptureOutput([&] { PrintDotnetText(host, false); });
  EXPECT_EQ(text, ".NET Host:\n  Kind:              apphost, no bundle\n");
}

// Tokens come from a key only where the file says the blob is one: the
// assembly's own, or a reference flagged as holding its key. A reference
// stored by its token keeps it, and one whose blob is neither gets none.
TEST(DotnetTokens, OnlyAKeyIsHashedIntoAToken) {
  KeyDigester *keys = OpenKeyDigester();
  if (keys == nullptr)
    GTEST_SKIP() << "no SHA-1 here (libcrypto could not be loaded)";
  const std::vector<unsigned char> key(160, 0x5a);
  const std::vector<unsigned char> stored = {1, 2, 3, 4, 5, 6, 7, 8};
  const std::vector<unsigned char> odd(16, 0x11);
  const struct {
    const char *what;
    uint32_t flags;
    std::vector<unsigned char> blob;
    bool storedToken; // as the reader leaves a token it found stored
    bool token;
  } cases[] = {
      {"a key, flagged", kAssemblyFlagPublicKey, key, false, true},
      {"a token as stored", 0, stored, true, true},
      {"16 bytes, not flagged", 0, odd, false, false},
      {"nothing", kAssemblyFlagPublicKey, {}, false, false},
  };
  DotnetInfo info = DotnetInfo();
  info.hasAssembly = true;
  info.assembly.publicKey = key; // the assembly's column is always a key
  for (const auto &c : cases) {
    DotnetIdentity ref = DotnetIdentity();
    ref.flags = c.flags;
    ref.publicKey = c.blob;
    if (c.storedToken) {
      memcpy(ref.token, c.blob.data(), 8);
      ref.hasToken = true;
    }
    info.references.push_back(ref);
  }
  FillDotnetTokens(keys, &info);
  CloseKeyDigester(keys);
  EXPECT_TRUE(info.assembly.hasToken);
  ASSERT_EQ(info.references.size(), 4u);
  for (size_t i = 0; i < 4; ++i)
    EXPECT_EQ(info.references[i].hasToken, cases[i].token) << cases[i].what;
  // The flagged key's token is the assembly's, from the same key.
  EXPECT_EQ(memcmp(info.references[0].token, info.assembly.token, 8), 0);
  EXPECT_EQ(memcmp(info.references[1].token, stored.data(), 8), 0);
}

} // namespace
