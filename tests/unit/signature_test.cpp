// The signature service over memory sources: the signed fixtures' facts,
// the catalogs' index, and signatures bent byte by byte, under the
// sanitizers and valgrind like every unit test.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "byte_source.h"
#include "cert_table.h"
#include "crypto.h"
#include "signature.h"
#include "test_support.h"

namespace {

std::string Signed(const std::string &name) {
  return ReadFile(Fixture("../signed/" + name));
}

SignatureFacts Examine(const std::string &image,
                       const SignatureSetup *setup = nullptr) {
  ByteSource src;
  InitMemorySource(&src, image.data(), image.size());
  SignatureFacts facts;
  ExamineSignature(&src, setup, &facts);
  return facts;
}

SignatureSetup *MakeSetup(const char *ca, const char *crl = nullptr) {
  std::string caPath = ca != nullptr ? Fixture(ca) : std::string();
  std::string crlPath = crl != nullptr ? Fixture(crl) : std::string();
  SignatureOptions options = {ca != nullptr ? caPath.c_str() : nullptr, nullptr,
                              crl != nullptr ? crlPath.c_str() : nullptr,
                              nullptr};
  std::string error;
  SignatureSetup *setup = OpenSignatureSetup(options, &error);
  EXPECT_NE(setup, nullptr) << error;
  return setup;
}

struct FixtureCase {
  const char *name;
  SignatureStatus status;
  const char *problem;
  size_t signatures;
  DigestKind digest; // the first signature's
  Verdict integrity;
};

const FixtureCase kFixtureCases[] = {
    {"sha1.dll", kSignatureSigned, "", 1, kDigestSha1, kVerdictYes},
    {"sha256.exe", kSignatureSigned, "", 1, kDigestSha256, kVerdictYes},
    {"sha384.dll", kSignatureSigned, "", 1, kDigestSha384, kVerdictYes},
    {"sha512.exe", kSignatureSigned, "", 1, kDigestSha512, kVerdictYes},
    {"overlay.exe", kSignatureSigned, "", 1, kDigestSha256, kVerdictYes},
    {"countersigned.dll", kSignatureSigned, "", 1, kDigestSha256, kVerdictYes},
    {"dual.exe", kSignatureSigned, "", 2, kDigestSha1, kVerdictYes},
    {"nested3.exe", kSignatureSigned, "", 3, kDigestSha1, kVerdictYes},
    {"t_section_byte.exe", kSignatureSigned, "", 1, kDigestSha256, kVerdictNo},
    {"t_checksum.exe", kSignatureSigned, "", 1, kDigestSha256, kVerdictYes},
    {"t_appended.exe", kSignatureMalformed, "data-after-table", 0,
     kDigestUnknown, kVerdictUnknown},
    {"t_truncated.exe", kSignatureMalformed, "outside-file", 0, kDigestUnknown,
     kVerdictUnknown},
    {"t_entry_zero.exe", kSignatureMalformed, "bad-entry", 0, kDigestUnknown,
     kVerdictUnknown},
    {"t_entry_ffffffff.exe", kSignatureMalformed, "bad-entry", 0,
     kDigestUnknown, kVerdictUnknown},
    {"t_misaligned.exe", kSignatureMalformed, "misaligned", 0, kDigestUnknown,
     kVerdictUnknown},
    {"t_table_in_headers.exe", kSignatureMalformed, "overlaps-headers", 0,
     kDigestUnknown, kVerdictUnknown},
};

TEST(Signature, FixturesAreReadAsTheyWereMade) {
  for (const FixtureCase &c : kFixtureCases) {
    std::string image = Signed(c.name);
    ASSERT_FALSE(image.empty()) << c.name;
    SignatureFacts f = Examine(image);
    EXPECT_EQ(f.status, c.status) << c.name;
    EXPECT_EQ(f.problem, c.problem) << c.name;
    ASSERT_EQ(f.signatures.size(), c.signatures) << c.name;
    EXPECT_TRUE(f.haveChecksum) << c.name;
    if (c.signatures == 0)
      continue;
    const SignatureInfo &s = f.signatures[0];
    EXPECT_EQ(s.digest, c.digest) << c.name;
    EXPECT_EQ(s.integrity, c.integrity) << c.name;
    EXPECT_EQ(s.signatureValid, kVerdictYes) << c.name;
    EXPECT_EQ(s.trust, kTrustNotChecked) << c.name;
    EXPECT_EQ(s.signer.subjectCn, "Quelvo Fixture Signer") << c.name;
    for (size_t i = 1; i < f.signatures.size(); ++i)
      EXPECT_EQ(f.signatures[i].depth, 1) << c.name;
  }
}

TEST(Signature, ChecksumAndDigestOfTheUnsignedImage) {
  SignatureFacts f = Examine(ReadFile(Fixture("basic.dll")));
  EXPECT_EQ(f.status, kSignatureNone);
  EXPECT_TRUE(f.signatures.empty());
  EXPECT_EQ(f.storedChecksum, f.computedChecksum);
  EXPECT_EQ(Examine("MZ not an image").status, kSignatureNotPe);
  EXPECT_EQ(Examine("").status, kSignatureNotPe);
}

TEST(Signature, TrustFollowsTheChainTheTimeAndTheCrl) {
  SignatureSetup *ca = MakeSetup("../signed/pki/ca.pem");
  SignatureSetup *crl =
      MakeSetup("../signed/pki/ca.pem", "../signed/pki/inter.crl");
  ASSERT_NE(ca, nullptr);
  ASSERT_NE(crl, nullptr);
  struct {
    const char *name;
    const SignatureSetup *setup;
    TrustStatus trust;
    const char *reason;
  } cases[] = {
      {"sha256.exe", ca, kTrustTrusted, ""},
      {"expired.exe", ca, kTrustUntrusted, "expired"},
      {"expired_stamped.exe", ca, kTrustTrusted, ""},
      {"revoked.exe", ca, kTrustTrusted, ""},
      {"revoked.exe", crl, kTrustUntrusted, "revoked"},
      {"wrong_usage.exe", ca, kTrustUntrusted, "wrong-purpose"},
      {"t_section_byte.exe", ca, kTrustUntrusted, "bad-digest"},
  };
  for (const auto &c : cases) {
    SignatureFacts f = Examine(Signed(c.name), c.setup);
    ASSERT_FALSE(f.signatures.empty()) << c.name;
    EXPECT_EQ(f.signatures[0].trust, c.trust) << c.name;
    EXPECT_EQ(f.signatures[0].trustReason, c.reason) << c.name;
  }
  SignatureFacts stamped = Examine(Signed("expired_stamped.exe"), ca);
  EXPECT_EQ(stamped.signatures[0].trustTime, "2020-06-01T00:00:00Z");
  // A PKCS #9 countersignature dates the signature as a token does.
  SignatureFacts counter = Examine(Signed("countersigned.dll"), ca);
  const TimestampFacts &ts = counter.signatures[0].timestamp;
  EXPECT_EQ(ts.kind, "pkcs9");
  EXPECT_EQ(ts.signatureValid, kVerdictYes);
  EXPECT_EQ(ts.imprintValid, kVerdictYes);
  EXPECT_EQ(ts.authority.subjectCn, "Quelvo Test Timestamping");
  EXPECT_EQ(counter.signatures[0].trustTime, ts.time);
  CloseSignatureSetup(ca);
  CloseSignatureSetup(crl);
}

// The signer of every stamps/ fixture expired on 2021-01-01; each is
// stamped at 2020-06-01, by an authority the CA vouches for for time
// stamping or by one it does not. Only a stamp that verifies, from an
// authority the CA vouches for, moves the chain's check to its time.
TEST(Signature, OnlyATrustedAuthorityDatesTheSignature) {
  SignatureSetup *ca = MakeSetup("../signed/stamps/pki/ca.pem");
  ASSERT_NE(ca, nullptr);
  const char *kAt = "2020-06-01T00:00:00Z";
  const struct {
    const char *name;
    const char *kind;
    Verdict signature;
    TrustStatus authority;
    const char *authorityReason;
    TrustStatus trust;
    const char *reason;
  } kCases[] = {
      {"stamped.exe", "rfc3161", kVerdictYes, kTrustTrusted, "", kTrustTrusted,
       ""},
      {"keyid.exe", "rfc3161", kVerdictYes, kTrustTrusted, "", kTrustTrusted,
       ""},
      {"pkcs9_stamped.dll", "pkcs9", kVerdictYes, kTrustTrusted, "",
       kTrustTrusted, ""},
      {"forged.exe", "rfc3161", kVerdictYes, kTrustUntrusted, "unknown-issuer",
       kTrustUntrusted, "expired"},
      {"keyid_forged.exe", "rfc3161", kVerdictYes, kTrustUntrusted,
       "unknown-issuer", kTrustUntrusted, "expired"},
      {"pkcs9_forged.dll", "pkcs9", kVerdictYes, kTrustUntrusted,
       "unknown-issuer", kTrustUntrusted, "expired"},
      {"keyid_signer.exe", "rfc3161", kVerdictYes, kTrustUntrusted,
       "wrong-purpose", kTrustUntrusted, "expired"},
      {"keyid_nocerts.exe", "rfc3161", kVerdictUnknown, kTrustUntrusted,
       "no-signer-certificate", kTrustUntrusted, "expired"},
  };
  for (const auto &c : kCases) {
    std::string image = Signed("stamps/" + std::string(c.name));
    ASSERT_FALSE(image.empty()) << c.name;
    SignatureFacts f = Examine(image, ca);
    ASSERT_EQ(f.signatures.size(), 1u) << c.name;
    const SignatureInfo &s = f.signatures[0];
    const TimestampFacts &ts = s.timestamp;
    EXPECT_EQ(s.signatureValid, kVerdictYes) << c.name;
    EXPECT_EQ(ts.kind, c.kind) << c.name;
    EXPECT_EQ(ts.time, kAt) << c.name;
    EXPECT_EQ(ts.signatureValid, c.signature) << c.name;
    EXPECT_EQ(ts.imprintValid, kVerdictYes) << c.name;
    EXPECT_EQ(ts.trust, c.authority) << c.name;
    EXPECT_EQ(ts.trustReason, c.authorityReason) << c.name;
    EXPECT_EQ(s.trust, c.trust) << c.name;
    EXPECT_EQ(s.trustReason, c.reason) << c.name;
    EXPECT_EQ(s.trustTime == kAt, c.authority == kTrustTrusted) << c.name;
    // Without a CA nothing is said of either chain, and the token reads
    // the same.
    SignatureFacts plain = Examine(image);
    EXPECT_EQ(plain.signatures[0].timestamp.trust, kTrustNotChecked);
    EXPECT_EQ(plain.signatures[0].timestamp.time, kAt) << c.name;
  }
  CloseSignatureSetup(ca);
}

// A token bent after it was signed: with its content type no TSTInfo's,
// nothing can be read (unknown, never "no"); with its time moved by a
// second, its signature fails. Neither dates the signature.
TEST(Signature, ABentTokenDatesNothing) {
  const std::string kTstInfo("\x06\x0b\x2a\x86\x48\x86\xf7\x0d\x01\x09"
                             "\x10\x01\x04",
                             13);
  const struct {
    const std::string find;
    size_t at; // the byte of find to change
    char to;
    const char *time;
    Verdict signature, imprint;
    const char *authorityReason;
  } kCases[] = {
      {kTstInfo, 12, '\x05', "", kVerdictUnknown, kVerdictUnknown, "other"},
      {"20200601000000Z", 13, '1', "2020-06-01T00:00:01Z", kVerdictNo,
       kVerdictYes, "bad-signature"},
  };
  SignatureSetup *ca = MakeSetup("../signed/stamps/pki/ca.pem");
  ASSERT_NE(ca, nullptr);
  for (const auto &c : kCases) {
    std::string image = Signed("stamps/keyid.exe");
    size_t at = image.find(c.find);
    ASSERT_NE(at, std::string::npos) << c.time;
    image[at + c.at] = c.to;
    SignatureFacts f = Examine(image, ca);
    ASSERT_EQ(f.signatures.size(), 1u);
    const SignatureInfo &s = f.signatures[0];
    EXPECT_EQ(s.signatureValid, kVerdictYes) << c.time;
    EXPECT_TRUE(s.timestamp.present) << c.time;
    EXPECT_EQ(s.timestamp.time, c.time);
    EXPECT_EQ(s.timestamp.signatureValid, c.signature) << c.time;
    EXPECT_EQ(s.timestamp.imprintValid, c.imprint) << c.time;
    EXPECT_EQ(s.timestamp.trust, kTrustUntrusted) << c.time;
    EXPECT_EQ(s.timestamp.trustReason, c.authorityReason) << c.time;
    EXPECT_EQ(s.trustReason, "expired") << c.time;
  }
  CloseSignatureSetup(ca);
}

TEST(Signature, UnreadableTrustFilesAreRefused) {
  std::string error;
  SignatureOptions missing = {"/nonexistent/ca.pem", nullptr, nullptr, nullptr};
  EXPECT_EQ(OpenSignatureSetup(missing, &error), nullptr);
  EXPECT_NE(error.find("/nonexistent/ca.pem"), std::string::npos);
  // A file that holds no certificate is no CA file either, and says so.
  std::string notPem = Fixture("basic.dll");
  SignatureOptions garbage = {notPem.c_str(), nullptr, nullptr, nullptr};
  EXPECT_EQ(OpenSignatureSetup(garbage, &error), nullptr);
  EXPECT_NE(error.find("holds no PEM certificate"), std::string::npos) << error;
}

// A hashed CA folder is looked in when a chain needs it: an entry there
// that is a FIFO would block the run then, so the folder is refused at
// the start. Entries of other names are none of libcrypto's business.
TEST(Signature, ACaFolderWithAFifoIsRefused) {
  char folder[] = "/tmp/quelvo-ca-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  std::string dir = folder;
  const struct {
    const char *name;
    bool refused;
  } cases[] = {
      {"notes.fifo", false},
      {"0a1b2c3d.0", true},
      {"0a1b2c3d.r1", true},
  };
  for (const auto &c : cases) {
    std::string fifo = dir + "/" + c.name;
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0) << c.name;
    SignatureOptions options = {nullptr, folder, nullptr, nullptr};
    std::string error;
    SignatureSetup *setup = OpenSignatureSetup(options, &error);
    EXPECT_EQ(setup == nullptr, c.refused) << c.name;
    if (setup != nullptr)
      CloseSignatureSetup(setup);
    else
      EXPECT_NE(error.find(c.name), std::string::npos) << error;
    unlink(fifo.c_str());
  }
  rmdir(folder);
}

// The CRL file gives revocation lists and nothing else: a certificate in
// it is left out with a note, and one without a list is refused.
TEST(Signature, CrlFileGivesListsOnly) {
  struct {
    const char *crl;
    bool opens;
    size_t notes;
  } cases[] = {
      {"../signed/pki/inter.crl", true, 0},
      {"../signed/hostile/pki/root-and-crl.pem", true, 1},
      {"../signed/pki/ca.pem", false, 0}, // a certificate alone
      {"basic.dll", false, 0},
  };
  for (const auto &c : cases) {
    std::string crl = Fixture(c.crl);
    SignatureOptions options = {nullptr, nullptr, crl.c_str(), nullptr};
    std::string error;
    SignatureSetup *setup = OpenSignatureSetup(options, &error);
    ASSERT_EQ(setup != nullptr, c.opens) << c.crl << ": " << error;
    if (setup == nullptr) {
      EXPECT_NE(error.find("holds no certificate revocation list"),
                std::string::npos)
          << error;
      continue;
    }
    std::vector<std::string> notes;
    SetupNotes(setup, &notes);
    EXPECT_EQ(notes.size(), c.notes) << c.crl;
    // Without a CA nothing is vouched for, whatever the CRL file holds.
    SignatureFacts f = Examine(Signed("hostile/foreign_root.exe"), setup);
    ASSERT_EQ(f.signatures.size(), 1u) << c.crl;
    EXPECT_EQ(f.signatures[0].trust, kTrustNotChecked) << c.crl;
    CloseSignatureSetup(setup);
  }
  // With a CA, the certificate in the CRL file is still no anchor.
  SignatureSetup *setup = MakeSetup("../signed/pki/ca.pem",
                                    "../signed/hostile/pki/root-and-crl.pem");
  ASSERT_NE(setup, nullptr);
  SignatureFacts f = Examine(Signed("hostile/foreign_root.exe"), setup);
  ASSERT_EQ(f.signatures.size(), 1u);
  EXPECT_EQ(f.signatures[0].trust, kTrustUntrusted);
  EXPECT_EQ(f.signatures[0].trustReason, "unknown-issuer");
  CloseSignatureSetup(setup);
}

// Files whose signature verifies and whose chain holds, but whose digest
// could not be computed, or whose entry carries bytes nothing signed:
// never trusted.
TEST(Signature, TrustNeedsAnIntegrityThatIsOk) {
  SignatureSetup *ours = MakeSetup("../signed/pki/ca.pem");
  SignatureSetup *theirs = MakeSetup("../signed/hostile/pki/root.pem");
  ASSERT_NE(ours, nullptr);
  ASSERT_NE(theirs, nullptr);
  struct {
    const char *name;
    const SignatureSetup *setup;
    const char *problem;
    const char *integrity; // null: unknown
    TrustStatus trust;
    const char *reason;
  } cases[] = {
      {"hostile/headers_short.exe", ours, "headers-too-short", nullptr,
       kTrustUntrusted, "unknown-digest"},
      {"hostile/unknown_digest.exe", theirs, "", nullptr, kTrustUntrusted,
       "unknown-digest"},
      {"hostile/data_after_signature.exe", ours, "data-after-signature",
       "data-after-signature", kTrustUntrusted, "data-after-signature"},
      {"hostile/zeros_after_signature.exe", ours, "data-after-signature",
       "data-after-signature", kTrustUntrusted, "data-after-signature"},
      {"hostile/foreign_root.exe", theirs, "", "ok", kTrustTrusted, ""},
      // 7 and 0 zero bytes after the DER: alignment, no fault.
      {"revoked.exe", ours, "", "ok", kTrustTrusted, ""},
      {"sha1.dll", ours, "", "ok", kTrustTrusted, ""},
  };
  for (const auto &c : cases) {
    SignatureFacts f = Examine(Signed(c.name), c.setup);
    EXPECT_EQ(f.status, kSignatureSigned) << c.name;
    EXPECT_EQ(f.problem, c.problem) << c.name;
    ASSERT_EQ(f.signatures.size(), 1u) << c.name;
    const SignatureInfo &s = f.signatures[0];
    EXPECT_EQ(s.signatureValid, kVerdictYes) << c.name;
    const char *integrity = IntegrityName(s);
    EXPECT_STREQ(integrity, c.integrity) << c.name;
    EXPECT_EQ(s.trust, c.trust) << c.name;
    EXPECT_EQ(s.trustReason, c.reason) << c.name;
  }
  CloseSignatureSetup(ours);
  CloseSignatureSetup(theirs);
}

// Sections over each other's raw data, across the pass's pieces: the
// digest reads what the ranges say, in their order, as a plain
// concatenation of them does.
TEST(Signature, RangesThatGoBackAreHashedInTheirOrder) {
  std::string image = Signed("overlay.exe");
  ByteSource src;
  InitMemorySource(&src, image.data(), image.size());
  PeSignatureLayout layout;
  ReadSignatureLayout(&src, &layout);
  ASSERT_EQ(layout.hash, kHashLayoutOk);
  ASSERT_TRUE(HashRangesInFileOrder(layout));
  // The first section's raw data stretched 1.5 MiB into the overlay: the
  // sections after it go back to bytes the pass has long left.
  auto byteAt = [&image](size_t at) {
    return static_cast<uint32_t>(static_cast<unsigned char>(image[at]));
  };
  uint32_t nt = byteAt(0x3C) | byteAt(0x3D) << 8;
  size_t sections = nt + 24 + (byteAt(nt + 20) | byteAt(nt + 21) << 8);
  const uint32_t kStretched = 3u << 19;
  for (unsigned i = 0; i < 4; ++i)
    image[sections + 16 + i] = static_cast<char>(kStretched >> (8 * i));
  InitMemorySource(&src, image.data(), image.size());
  ReadSignatureLayout(&src, &layout);
  ASSERT_EQ(layout.hash, kHashLayoutOk);
  ASSERT_FALSE(HashRangesInFileOrder(layout));
  std::string plain;
  for (const HashRange &r : layout.hashed)
    plain += image.substr(r.offset, r.length);
  plain += std::string(layout.hashPadding, '\0');
  Digester *d = StartDigester(kDigestSha256);
  ASSERT_NE(d, nullptr);
  FeedDigester(d, reinterpret_cast<const unsigned char *>(plain.data()),
               plain.size());
  std::vector<unsigned char> expected;
  FinishDigester(d, &expected);
  SignatureFacts f = Examine(image);
  ASSERT_EQ(f.signatures.size(), 1u);
  EXPECT_EQ(f.signatures[0].computedDigest, expected);
  EXPECT_EQ(f.signatures[0].integrity, kVerdictNo);
}

void AddCatalogBytes(SignatureSetup *setup, const std::string &bytes) {
  ByteSource src;
  InitMemorySource(&src, bytes.data(), bytes.size());
  AddCatalog(setup, "test.cat", &src);
}

TEST(Signature, CatalogsListUnsignedFilesOnly) {
  SignatureSetup *setup = MakeSetup(nullptr);
  ASSERT_NE(setup, nullptr);
  std::string catalog = Signed("catalogs/quelvo.cat");
  ASSERT_FALSE(catalog.empty());
  AddCatalogBytes(setup, catalog);
  AddCatalogBytes(setup, "not a catalog");
  AddCatalogBytes(setup, catalog.substr(0, catalog.size() / 2));
  std::string broken = catalog;
  broken[broken.size() - 40] ^= 0x55; // inside the signature value
  AddCatalogBytes(setup, broken);
  // A signed image is no catalog, though it is PKCS#7 too.
  AddCatalogBytes(setup, Signed("sha1.dll").substr(0xC08));
  CatalogCounts counts = CountCatalogs(setup);
  EXPECT_EQ(counts.read, 1u);
  EXPECT_EQ(counts.rejected, 4u);
  EXPECT_EQ(counts.members, 2u); // SHA-1 and SHA-256 of basic.dll
  EXPECT_EQ(counts.notCatalog, 3u);
  EXPECT_EQ(counts.badSignature, 1u);

  SignatureFacts f = Examine(ReadFile(Fixture("basic.dll")), setup);
  EXPECT_EQ(f.status, kSignatureCatalog);
  EXPECT_EQ(f.catalogName, "test.cat");
  EXPECT_EQ(f.catalogDigest, kDigestSha256);
  EXPECT_EQ(f.catalogHash.size(), 32u);
  EXPECT_EQ(f.catalogSigner.subjectCn, "Quelvo Fixture Signer");
  EXPECT_EQ(Examine(ReadFile(Fixture("app32.exe")), setup).status,
            kSignatureNone);
  // The catalog's SHA-1 member is the digest the file's own SHA-1
  // signature states, as osslsigncode computed it.
  SignatureFacts own = Examine(Signed("sha1.dll"), setup);
  EXPECT_EQ(own.status, kSignatureSigned);
  CloseSignatureSetup(setup);
}

// A catalog's outer length is asked before it is read: junk, a length past
// the file's end or over the bound is rejected on its first bytes, and
// each reason is counted and told.
TEST(Signature, CatalogsAreRejectedOnTheirOuterLength) {
  SignatureSetup *setup = MakeSetup(nullptr);
  ASSERT_NE(setup, nullptr);
  std::string catalog = Signed("catalogs/quelvo.cat");
  AddCatalogBytes(setup, catalog + std::string(100, '\0')); // read as DER
  AddCatalogBytes(setup, std::string(4096, '\0'));
  AddCatalogBytes(setup, std::string("\x30\x84\x10\x00\x00\x00", 6) +
                             std::string(64, '\0'));          // 256 MiB
  AddCatalogBytes(setup, std::string("\x30\x82\x10\x00", 4)); // past the end
  AddCatalogBytes(setup, "");
  SkipCatalog(setup, "fifo.cat", kCatalogNotRegular);
  CatalogCounts counts = CountCatalogs(setup);
  EXPECT_EQ(counts.read, 1u);
  EXPECT_EQ(counts.notCatalog, 3u);
  EXPECT_EQ(counts.tooLarge, 1u);
  EXPECT_EQ(counts.rejected, 4u);
  EXPECT_EQ(counts.notRegular, 1u);
  EXPECT_EQ(counts.unreadable, 1u);
  std::vector<std::string> notes;
  SetupNotes(setup, &notes);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0], "--catalog-dir: 1 catalog read, 4 rejected (3 not a "
                      "signed catalog, 1 too large), 1 unreadable (1 not a "
                      "regular file)");
  CloseSignatureSetup(setup);
}

// Bytes of a signature bent one at a time: whatever comes of it is said,
// never a crash.
TEST(Signature, BentSignatureBytesAreReported) {
  std::string image = Signed("sha256.exe");
  ByteSource src;
  InitMemorySource(&src, image.data(), image.size());
  PeSignatureLayout layout;
  ReadSignatureLayout(&src, &layout);
  ASSERT_EQ(layout.table, kCertTableOk);
  size_t start = layout.tableOffset, end = start + layout.tableSize;
  for (size_t at = start; at < end; at += 17) {
    std::string bent = image;
    bent[at] = static_cast<char>(bent[at] ^ 0x5A);
    SignatureFacts f = Examine(bent);
    ASSERT_TRUE(f.status == kSignatureSigned || f.status == kSignatureMalformed)
        << at;
  }
}

// The signer's signature value is the last thing of a SignedData without
// unsigned attributes (sha1.dll has no timestamp): no byte of it can
// change and the signature still verify.
TEST(Signature, BentSignatureValueNeverVerifies) {
  std::string image = Signed("sha1.dll");
  ByteSource src;
  InitMemorySource(&src, image.data(), image.size());
  PeSignatureLayout layout;
  ReadSignatureLayout(&src, &layout);
  ASSERT_EQ(layout.entries.size(), 1u);
  size_t der = layout.entries[0].offset + 8;
  // SEQUENCE with a two-byte length: 30 82 hi lo.
  ASSERT_EQ(static_cast<unsigned char>(image[der]), 0x30);
  ASSERT_EQ(static_cast<unsigned char>(image[der + 1]), 0x82);
  size_t end = der + 4 +
               ((size_t{static_cast<unsigned char>(image[der + 2])} << 8) |
                size_t{static_cast<unsigned char>(image[der + 3])});
  ASSERT_EQ(Examine(image).signatures[0].signatureValid, kVerdictYes);
  const size_t kRsa2048 = 256;
  for (size_t at = end - kRsa2048; at < end; ++at) {
    std::string bent = image;
    bent[at] = static_cast<char>(bent[at] ^ 0x01);
    SignatureFacts f = Examine(bent);
    ASSERT_EQ(f.signatures.size(), 1u) << at;
    EXPECT_EQ(f.signatures[0].signatureValid, kVerdictNo) << at;
    EXPECT_EQ(f.signatures[0].integrity, kVerdictYes) << at;
  }
}

TEST(Signature, CutSignaturesAreMalformed) {
  std::string image = Signed("sha1.dll");
  ByteSource src;
  InitMemorySource(&src, image.data(), image.size());
  PeSignatureLayout layout;
  ReadSignatureLayout(&src, &layout);
  ASSERT_EQ(layout.entries.size(), 1u);
  for (uint32_t keep = 8; keep < layout.entries[0].length; keep += 97) {
    std::vector<SignatureInfo> out;
    std::vector<unsigned char> blob;
    ASSERT_TRUE(ReadCertificateBlob(&src, layout.entries[0], &blob));
    ReadSignatures(blob.data(), keep - 8, nullptr, &out);
    ASSERT_EQ(out.size(), 1u) << keep;
    EXPECT_EQ(out[0].problem, "not-pkcs7") << keep;
  }
  std::vector<SignatureInfo> none;
  ReadSignatures(nullptr, 0, nullptr, &none);
  ASSERT_EQ(none.size(), 1u);
  EXPECT_EQ(none[0].problem, "not-pkcs7");
  // The catalog is PKCS#7 SignedData, but no Authenticode signature.
  std::string catalog = Signed("catalogs/quelvo.cat");
  std::vector<SignatureInfo> other;
  ReadSignatures(reinterpret_cast<const unsigned char *>(catalog.data()),
                 catalog.size(), nullptr, &other);
  EXPECT_EQ(other[0].problem, "no-indirect-data");
}

} // namespace
