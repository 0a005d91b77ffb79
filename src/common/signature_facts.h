// What --signature reports of one file: the certificate table, the
// checksum, each Authenticode signature (nested ones included) with its
// digest, signer, timestamp and trust, or the catalog that lists the
// file. Filled by the signature service, printed by the reports.
#ifndef QUELVO_SIGNATURE_FACTS_H
#define QUELVO_SIGNATURE_FACTS_H

#include <stdint.h>

#include <string>
#include <vector>

// The digest algorithms an Authenticode signature may name.
enum DigestKind {
  kDigestUnknown = 0,
  kDigestMd5 = 1,
  kDigestSha1 = 2,
  kDigestSha256 = 3,
  kDigestSha384 = 4,
  kDigestSha512 = 5,
};

// "sha256" and the like; null for kDigestUnknown.
inline const char *DigestKindName(DigestKind kind) {
  switch (kind) {
  case kDigestMd5:
    return "md5";
  case kDigestSha1:
    return "sha1";
  case kDigestSha256:
    return "sha256";
  case kDigestSha384:
    return "sha384";
  case kDigestSha512:
    return "sha512";
  case kDigestUnknown:
    break;
  }
  return nullptr;
}

struct CertificateFacts {
  std::string subject;   // RFC 4514, one line, UTF-8
  std::string subjectCn; // the common name alone, or empty
  std::string issuer;    // RFC 4514
  std::string issuerCn;
  std::string serial;    // hexadecimal, lowercase, as stored
  std::string sha256;    // thumbprint of the DER, lowercase hex
  std::string notBefore; // ISO 8601 UTC: 2026-01-02T03:04:05Z
  std::string notAfter;
};

// A yes/no that may not have been asked, or could not be answered.
enum Verdict { kVerdictUnknown = 0, kVerdictYes = 1, kVerdictNo = 2 };

enum TrustStatus {
  kTrustNotChecked = 0, // no CA given
  kTrustTrusted = 1,
  kTrustUntrusted = 2,
};

struct TimestampFacts {
  bool present;
  std::string kind;   // "rfc3161" or "pkcs9" (a countersignature)
  std::string time;   // ISO 8601 UTC, empty when none is stated
  std::string digest; // the timestamp's digest algorithm
  bool haveAuthority;
  CertificateFacts authority;
  Verdict signatureValid; // its signature over its signed attributes
  Verdict imprintValid;   // it stamps this signature's own value
  // The authority's chain to the CAs given, for time stamping, at the
  // time it states: the signer's chain is checked at that time only when
  // this is trusted.
  TrustStatus trust;
  std::string trustReason;
  std::string trustDetail;
};

// "expired", "not-yet-valid", "unknown-issuer", "wrong-purpose",
// "revoked", "no-crl", "bad-signature", "no-signer-certificate", or
// "other" with the library's text in trustDetail.
struct SignatureInfo {
  int depth;           // 0: the table's own signature; 1: nested in it
  std::string problem; // why it cannot be read whole, or empty
  // The SpcIndirectDataContent's digest: what the signer says the image
  // hashes to, and what it does hash to.
  DigestKind digest;
  std::string digestName; // the algorithm's name, or its OID when unknown
  std::vector<unsigned char> signedDigest;
  std::vector<unsigned char> computedDigest;
  Verdict integrity; // the two agree
  // Bytes after the signature's DER in its certificate entry beyond the
  // 0 to 7 zero bytes of alignment: covered by neither the signature nor
  // the digest, and refused by Windows' strict padding check.
  uint64_t bytesAfterSignature;
  bool haveSigner;
  CertificateFacts signer;
  std::string signerDigest;       // the signer's digest algorithm
  std::string signatureAlgorithm; // its signature algorithm
  Verdict signatureValid; // the signature over the signed attributes, and
                          // their message digest over the content
  bool haveProgramName;
  std::string programName; // SpcSpOpusInfo
  bool haveProgramUrl;
  std::string programUrl;
  TimestampFacts timestamp;
  TrustStatus trust;
  std::string trustReason;
  std::string trustDetail;
  std::string trustTime; // the time the chain was checked at
};

// What a file's signature amounts to, in one word.
enum SignatureStatus {
  kSignatureNotPe = 0,     // not a PE image
  kSignatureNone = 1,      // no certificate table
  kSignatureSigned = 2,    // a table with at least one signature
  kSignatureCatalog = 3,   // none of its own; a valid catalog lists it
  kSignatureMalformed = 4, // a table or signature that cannot be trusted
  kSignatureUnreadable = 5 // the file could not be read
};

const char *const kSignatureStatusNames[] = {
    "not-pe", "none", "signed", "catalog", "malformed", "unreadable"};

// The integrity word of a signature: "ok", "mismatch", or
// "data-after-signature" for a digest that agrees over an entry that
// carries more than the signature; null when the digest is unknown.
inline const char *IntegrityName(const SignatureInfo &s) {
  if (s.integrity == kVerdictNo)
    return "mismatch";
  if (s.integrity != kVerdictYes)
    return nullptr;
  return s.bytesAfterSignature != 0 ? "data-after-signature" : "ok";
}

struct CertEntryFacts {
  uint64_t offset;
  uint32_t length;
  uint16_t revision;
  uint16_t type;
  bool aligned;
};

struct SignatureFacts {
  SignatureStatus status;
  std::string problem; // the table's or the signature's fault, as a word
  // The table as its directory entry places it, and its entries.
  bool haveTable;
  uint32_t tableOffset;
  uint32_t tableSize;
  std::vector<CertEntryFacts> entries;
  uint64_t trailingBytes; // after the table, hashed by nothing
  uint64_t unhashedBytes; // before it, outside every hashed range
  bool haveChecksum;
  uint32_t storedChecksum;
  uint32_t computedChecksum;
  std::vector<SignatureInfo> signatures; // the first, then nested ones
  // kSignatureCatalog: the catalog that lists the file's Authentihash.
  std::string catalogName;
  DigestKind catalogDigest;
  std::vector<unsigned char> catalogHash;
  bool haveCatalogSigner;
  CertificateFacts catalogSigner;
  TrustStatus catalogTrust;
  std::string catalogTrustReason;
};

// What the long options ask of the signature checks of a run.
struct SignatureOptions {
  const char *caFile;     // --ca-file, or null
  const char *caPath;     // --ca-path, or null
  const char *crlFile;    // --crl-file, or null
  const char *catalogDir; // --catalog-dir, or null
};

#endif
