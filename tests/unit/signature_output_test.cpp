// --signature's options and what its lines and JSON make of text from a
// file: certificate names and program names are the signer's to choose.
#include <string>
#include <vector>

#include "json_writer.h"
#include "options.h"
#include "signature_report.h"
#include "test_support.h"

namespace {

// The words live in args, which the options point into.
RunOptions Parse(std::vector<std::string> *args, int *first) {
  args->insert(args->begin(), "quelvo");
  std::vector<char *> argv;
  for (std::string &a : *args)
    argv.push_back(&a[0]);
  RunOptions o;
  *first = ParseLongOptions(static_cast<int>(argv.size()), argv.data(), &o);
  return o;
}

TEST(SignatureOptions, ValueOptionsTakeTheNextWordAndImplySignature) {
  int first;
  std::vector<std::string> a = {"--ca-file", "--json", "--json", "x.dll"};
  RunOptions o = Parse(&a, &first);
  EXPECT_STREQ(o.caFile, "--json"); // the next word, whatever it is
  EXPECT_TRUE(o.json);
  EXPECT_TRUE(o.signature);
  EXPECT_EQ(first, 4);
  std::vector<std::string> b = {"--catalog-dir", "C", "--ca-path", "P",
                                "--crl-file",    "R", "-d"};
  o = Parse(&b, &first);
  EXPECT_STREQ(o.catalogDir, "C");
  EXPECT_STREQ(o.caPath, "P");
  EXPECT_STREQ(o.crlFile, "R");
  EXPECT_EQ(first, 7);
  EXPECT_FALSE(o.usageError);
  // A value option last on the line: a usage error, the option named by
  // the word before the returned index.
  std::vector<std::string> c = {"--signature", "--crl-file"};
  o = Parse(&c, &first);
  EXPECT_TRUE(o.usageError);
  EXPECT_EQ(first, 3);
  std::vector<std::string> d = {"--", "--ca-file", "x"};
  o = Parse(&d, &first);
  EXPECT_EQ(o.caFile, nullptr);
  EXPECT_FALSE(o.signature);
  std::vector<std::string> e = {"--ca-file=x", "y"}; // a pattern
  o = Parse(&e, &first);
  EXPECT_EQ(o.caFile, nullptr);
  EXPECT_EQ(first, 1);
}

SignatureFacts ForgedNames() {
  SignatureFacts f = SignatureFacts();
  f.status = kSignatureSigned;
  f.haveChecksum = true;
  SignatureInfo s = SignatureInfo();
  s.haveSigner = true;
  s.signer.subject = "CN=evil\nSignature:         none\x1b[2J";
  s.signer.subjectCn = "evil\r\xc2\x85line\xe2\x80\xa8sep";
  s.haveProgramName = true;
  s.programName = "M\xc3\xbcller \xe4\xb8\xad";
  s.haveProgramUrl = true;
  s.programUrl = "http://x/\x07";
  f.signatures.push_back(s);
  return f;
}

TEST(SignatureOutput, FileTextNeverBreaksALine) {
  for (bool utf8 : {false, true}) {
    std::string out =
        CaptureOutput([&] { PrintSignatureFacts(ForgedNames(), utf8); });
    // Every line is one of ours: a label at its start, or indented.
    size_t begin = 0;
    while (begin < out.size()) {
      size_t end = out.find('\n', begin);
      ASSERT_NE(end, std::string::npos);
      std::string line = out.substr(begin, end - begin);
      EXPECT_EQ(line.find('\r'), std::string::npos) << line;
      EXPECT_EQ(line.find('\x1b'), std::string::npos) << line;
      EXPECT_EQ(line.find("\xc2\x85"), std::string::npos) << line;
      EXPECT_EQ(line.find("\xe2\x80\xa8"), std::string::npos) << line;
      EXPECT_EQ(line.compare(0, 10, "Signature:") == 0,
                begin == 0) // the forged one stays inside its line
          << line;
      begin = end + 1;
    }
    EXPECT_NE(out.find(utf8 ? "M\xc3\xbcller \xe4\xb8\xad" : "M ller  "),
              std::string::npos)
        << out;
  }
}

// The signer chooses the program URL and the catalog's name is the
// folder's: bytes that are no UTF-8 (a cut sequence that would swallow an
// ESC, a lone CSI byte) print as U+FFFD with --utf8, and a bidirectional
// override as its escape.
TEST(SignatureOutput, Utf8FileTextIsMadeValidFirst) {
  SignatureFacts f = ForgedNames();
  f.signatures[0].programUrl = "http://x/\xE0\x1B[2J\x9B"
                               "31m";
  f.signatures[0].programName = "setup\xE2\x80\xAEgpj.exe";
  std::string out = CaptureOutput([&] { PrintSignatureFacts(f, true); });
  EXPECT_EQ(out.find('\x1b'), std::string::npos) << out;
  EXPECT_EQ(out.find('\x9b'), std::string::npos) << out;
  EXPECT_NE(out.find("http://x/\xEF\xBF\xBD [2J\xEF\xBF\xBD"
                     "31m"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("setup\\u202egpj.exe"), std::string::npos) << out;
  // Without --utf8 the classic one space a character stays.
  out = CaptureOutput([&] { PrintSignatureFacts(f, false); });
  EXPECT_NE(out.find("setup gpj.exe"), std::string::npos) << out;
}

TEST(SignatureOutput, JsonEscapesFileTextAndSaysNullForNothing) {
  SignatureFacts f = ForgedNames();
  JsonWriter w = JsonWriter();
  WriteSignatureJson(&w, &f);
  std::string json = JsonFinish(&w);
  EXPECT_EQ(json.find('\n'), std::string::npos);
  EXPECT_EQ(json.find('\x1b'), std::string::npos);
  EXPECT_NE(json.find("\"subject\":\"CN=evil\\nSignature:"), std::string::npos)
      << json;
  EXPECT_NE(json.find("\"integrity\":null"), std::string::npos) << json;
  JsonWriter none = JsonWriter();
  WriteSignatureJson(&none, nullptr);
  EXPECT_EQ(JsonFinish(&none), "null");
}

} // namespace

namespace {

// The file's integrity from its signatures': a mismatch anywhere wins,
// then bytes after a signature, then ok; nothing compared is nothing.
TEST(SignatureOutput, IntegrityOfTheFileFromItsSignatures) {
  struct Sig {
    Verdict integrity;
    uint64_t after;
  };
  struct {
    std::vector<Sig> sigs;
    const char *word; // "" for none
  } cases[] = {
      {{{kVerdictYes, 0}}, "ok"},
      {{{kVerdictYes, 0}, {kVerdictYes, 16}}, "data-after-signature"},
      {{{kVerdictYes, 16}, {kVerdictNo, 16}}, "mismatch"},
      {{{kVerdictNo, 0}, {kVerdictYes, 0}}, "mismatch"},
      {{{kVerdictUnknown, 16}}, ""},
      {{{kVerdictUnknown, 0}, {kVerdictYes, 0}}, "ok"},
  };
  for (const auto &c : cases) {
    SignatureFacts f = SignatureFacts();
    f.status = kSignatureSigned;
    for (const Sig &sig : c.sigs) {
      SignatureInfo s = SignatureInfo();
      s.integrity = sig.integrity;
      s.bytesAfterSignature = sig.after;
      f.signatures.push_back(s);
    }
    std::vector<std::string> values;
    SignatureColumns(&f, &values);
    EXPECT_EQ(values[3], c.word) << c.sigs.size();
    JsonWriter w = JsonWriter();
    WriteSignatureJson(&w, &f);
    std::string json = JsonFinish(&w);
    std::string want = *c.word == '\0'
                           ? std::string("\"integrity\":null")
                           : "\"integrity\":\"" + std::string(c.word) + "\"";
    EXPECT_NE(json.find("\"problem\":null," + want), std::string::npos) << json;
  }
}

TEST(SignatureOutput, ColumnsNameEveryValueAndStayEmptyForNothing) {
  std::vector<std::string> values;
  SignatureColumns(nullptr, &values);
  ASSERT_EQ(values.size(), kSignatureColumnCount);
  for (const std::string &v : values)
    EXPECT_TRUE(v.empty());
  SignatureFacts f = ForgedNames();
  f.signatures[0].integrity = kVerdictNo;
  f.signatures[0].trust = kTrustUntrusted;
  f.signatures[0].trustReason = "bad-digest";
  SignatureColumns(&f, &values);
  auto column = [&](const char *name) {
    for (size_t i = 0; i < kSignatureColumnCount; ++i)
      if (std::string(kSignatureColumns[i]) == name)
        return values[i];
    ADD_FAILURE() << name;
    return std::string();
  };
  EXPECT_EQ(column("signature_status"), "signed");
  EXPECT_EQ(column("integrity"), "mismatch");
  EXPECT_EQ(column("trust"), "untrusted");
  EXPECT_EQ(column("trust_reason"), "bad-digest");
  EXPECT_EQ(column("signer"), f.signatures[0].signer.subject);
  EXPECT_EQ(column("checksum_stored"), "0x00000000");
  SignatureFacts catalog = SignatureFacts();
  catalog.status = kSignatureCatalog;
  catalog.catalogName = "x.cat";
  catalog.catalogDigest = kDigestSha256;
  catalog.catalogHash = {0xAB, 0x01};
  SignatureColumns(&catalog, &values);
  EXPECT_EQ(column("signature_status"), "catalog");
  EXPECT_EQ(column("authentihash"), "ab01");
  EXPECT_EQ(column("catalog"), "x.cat");
  EXPECT_EQ(column("signature_count"), "0");
}

} // namespace

namespace {

// A timestamp is valid when both its parts verify and not valid when
// either fails; while one could not be checked, neither can be said.
TEST(SignatureOutput, TimestampValidIsUnknownWhileAPartIsUnknown) {
  const struct {
    Verdict signature, imprint;
    const char *line, *column;
  } kCases[] = {
      {kVerdictYes, kVerdictYes, "yes (signature yes, imprint yes)", "yes"},
      {kVerdictNo, kVerdictYes, "no (signature no, imprint yes)", "no"},
      {kVerdictYes, kVerdictNo, "no (signature yes, imprint no)", "no"},
      {kVerdictNo, kVerdictUnknown, "no (signature no, imprint unknown)", "no"},
      {kVerdictUnknown, kVerdictYes, "unknown (signature unknown, imprint yes)",
       ""},
      {kVerdictYes, kVerdictUnknown, "unknown (signature yes, imprint unknown)",
       ""},
      {kVerdictUnknown, kVerdictUnknown,
       "unknown (signature unknown, imprint unknown)", ""},
  };
  for (const auto &c : kCases) {
    SignatureFacts f = SignatureFacts();
    f.status = kSignatureSigned;
    SignatureInfo s = SignatureInfo();
    s.timestamp.present = true;
    s.timestamp.kind = "rfc3161";
    s.timestamp.signatureValid = c.signature;
    s.timestamp.imprintValid = c.imprint;
    f.signatures.push_back(s);
    std::string out = CaptureOutput([&] { PrintSignatureFacts(f, false); });
    EXPECT_NE(out.find(std::string("Timestamp Valid:   ") + c.line + "\n"),
              std::string::npos)
        << out;
    // No CA given: nothing said of the authority's trust.
    EXPECT_EQ(out.find("Timestamp Trust:"), std::string::npos) << out;
    std::vector<std::string> values;
    SignatureColumns(&f, &values);
    for (size_t i = 0; i < kSignatureColumnCount; ++i) {
      if (std::string(kSignatureColumns[i]) == "timestamp_valid") {
        EXPECT_EQ(values[i], c.column) << c.line;
      }
    }
  }
}

} // namespace
