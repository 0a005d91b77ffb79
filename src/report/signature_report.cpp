#include "signature_report.h"

#include <stdio.h>
#include <string.h>

#include <string>

#include "fact_fields.h"
#include "platform_extra.h"
#include "report.h"
#include "unicode_text.h"

namespace {

const char kHexDigits[] = "0123456789abcdef";

std::string HexText(const std::vector<unsigned char> &bytes) {
  std::string text;
  for (unsigned char b : bytes) {
    text.push_back(kHexDigits[b >> 4]);
    text.push_back(kHexDigits[b & 0xF]);
  }
  return text;
}

std::string Hex32(uint32_t value) {
  char text[16];
  snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
  return text;
}

const char *VerdictWord(Verdict v) {
  return v == kVerdictYes ? "yes" : v == kVerdictNo ? "no" : "unknown";
}

// Valid when both parts verify, not when either fails, and unknown while
// one could not be checked.
Verdict TimestampVerdict(const TimestampFacts &ts) {
  if (ts.signatureValid == kVerdictNo || ts.imprintValid == kVerdictNo)
    return kVerdictNo;
  if (ts.signatureValid == kVerdictYes && ts.imprintValid == kVerdictYes)
    return kVerdictYes;
  return kVerdictUnknown;
}

const char *TrustWord(TrustStatus t) {
  return t == kTrustTrusted     ? "trusted"
         : t == kTrustUntrusted ? "untrusted"
                                : "not-checked";
}

// A value from the file, never a line of its own: UTF-8 with --utf8,
// otherwise printable ASCII with every other character one space, as the
// classic report prints what code page 1252 holds beyond ASCII. The bytes
// are the file's (a program URL, a catalog's name), so with --utf8 they are
// made valid first, as the .NET report makes its names.
void PrintFileText(const std::string &text, bool utf8) {
  if (utf8) {
    std::string clean;
    AppendBytesAsUtf8(text.data(), text.size(), &clean);
    PrintSafeUtf8(clean.data(), clean.size());
    return;
  }
  std::string ascii;
  const unsigned char *p = reinterpret_cast<const unsigned char *>(text.data());
  for (size_t i = 0; i < text.size();) {
    size_t length =
        p[i] < 0x80 ? 1 : WellFormedUtf8Length(p + i, text.size() - i);
    if (length == 0)
      length = 1;
    ascii.push_back(p[i] >= 0x20 && p[i] < 0x7F ? static_cast<char>(p[i])
                                                : ' ');
    i += length;
  }
  fwrite(ascii.data(), 1, ascii.size(), stdout);
}

// "Label:" padded to the values' column (19, counted from the indent).
void PrintLabel(const char *indent, const char *label) {
  fputs(indent, stdout);
  fputs(label, stdout);
  size_t used = strlen(label);
  const size_t kColumn = 19;
  do
    putchar(' ');
  while (++used < kColumn);
}

void Line(const char *indent, const char *label, const std::string &value) {
  PrintLabel(indent, label);
  fwrite(value.data(), 1, value.size(), stdout);
  putchar('\n');
}

void FileLine(const char *indent, const char *label, const std::string &value,
              bool utf8) {
  PrintLabel(indent, label);
  PrintFileText(value, utf8);
  putchar('\n');
}

// The time a chain was checked at is said when it is a timestamp's; the
// present needs no saying (and keeps the lines the same from run to run).
void PrintTrust(const char *indent, const char *label, TrustStatus status,
                const std::string &reason, const std::string &stampedAt) {
  std::string text = TrustWord(status);
  if (!reason.empty())
    text += ": " + reason;
  if (status != kTrustNotChecked && !stampedAt.empty())
    text += " (at the timestamp's time)";
  Line(indent, label, text);
}

void PrintCertificate(const char *indent, const CertificateFacts &c,
                      bool utf8) {
  FileLine(indent, "Signer:", c.subject, utf8);
  FileLine(indent, "Signer Name:", c.subjectCn, utf8);
  FileLine(indent, "Issuer:", c.issuer, utf8);
  Line(indent, "Serial Number:", c.serial);
  Line(indent, "Thumbprint:", c.sha256);
  Line(indent, "Valid From:", c.notBefore);
  Line(indent, "Valid To:", c.notAfter);
}

void PrintOneSignature(const SignatureInfo &s, size_t number, bool utf8) {
  char heading[64];
  snprintf(heading, sizeof heading, "Signature %zu%s:\n", number,
           s.depth > 0 ? " (nested)" : "");
  fputs(heading, stdout);
  const char *in = "  ";
  if (!s.problem.empty())
    Line(in, "Problem:", s.problem);
  if (!s.digestName.empty())
    Line(in, "Digest:", s.digestName);
  if (!s.computedDigest.empty())
    Line(in, "Authentihash:", HexText(s.computedDigest));
  if (!s.signedDigest.empty())
    Line(in, "Signed Digest:", HexText(s.signedDigest));
  const char *integrity = IntegrityName(s);
  Line(in, "Integrity:", integrity != nullptr ? integrity : "unknown");
  if (s.haveSigner)
    PrintCertificate(in, s.signer, utf8);
  if (!s.signatureAlgorithm.empty())
    Line(in, "Algorithm:",
         s.signerDigest + (s.signerDigest.empty() ? "" : ", ") +
             s.signatureAlgorithm);
  Line(in, "Signature Valid:", VerdictWord(s.signatureValid));
  if (s.haveProgramName)
    FileLine(in, "Program Name:", s.programName, utf8);
  if (s.haveProgramUrl)
    FileLine(in, "Program URL:", s.programUrl, utf8);
  const TimestampFacts &ts = s.timestamp;
  if (ts.present) {
    Line(in, "Timestamp:",
         (ts.time.empty() ? std::string("unknown") : ts.time) + " (" + ts.kind +
             ")");
    if (ts.haveAuthority)
      FileLine(in, "Timestamped By:", ts.authority.subject, utf8);
    Line(in, "Timestamp Valid:",
         std::string(VerdictWord(TimestampVerdict(ts))) + " (signature " +
             VerdictWord(ts.signatureValid) + ", imprint " +
             VerdictWord(ts.imprintValid) + ")");
    // Why the signer's chain was, or was not, checked at its time.
    if (ts.trust != kTrustNotChecked)
      PrintTrust(in, "Timestamp Trust:", ts.trust, ts.trustReason,
                 std::string());
  } else {
    Line(in, "Timestamp:", "none");
  }
  PrintTrust(in, "Trust:", s.trust, s.trustReason,
             s.trustTime == ts.time ? ts.time : std::string());
}

} // namespace

void PrintSignatureFacts(const SignatureFacts &f, bool utf8) {
  std::string status = kSignatureStatusNames[f.status];
  if (f.status == kSignatureNotPe) {
    Line("", "Signature:", "not a PE image");
    return;
  }
  if (f.status == kSignatureSigned) {
    size_t nested = 0;
    for (const SignatureInfo &s : f.signatures)
      nested += s.depth > 0 ? 1 : 0;
    char count[64];
    snprintf(count, sizeof count, " (%zu signature%s", f.signatures.size(),
             f.signatures.size() == 1 ? "" : "s");
    status += count;
    if (nested > 0)
      status += ", " + std::to_string(nested) + " nested";
    status += ")";
  }
  if (!f.problem.empty())
    status += ": " + f.problem;
  Line("", "Signature:", status);
  if (f.haveTable) {
    std::string table = "offset " + Hex32(f.tableOffset) + ", " +
                        std::to_string(f.tableSize) + " bytes, " +
                        std::to_string(f.entries.size()) +
                        (f.entries.size() == 1 ? " entry" : " entries");
    Line("", "Certificate Table:", table);
  }
  if (f.trailingBytes != 0)
    Line("", "Trailing Bytes:",
         std::to_string(f.trailingBytes) + " after the certificate table");
  if (f.unhashedBytes != 0)
    Line("", "Unhashed Bytes:",
         std::to_string(f.unhashedBytes) + " outside the signed digest");
  if (f.haveChecksum)
    Line("", "Checksum:",
         "stored " + Hex32(f.storedChecksum) + ", computed " +
             Hex32(f.computedChecksum));
  if (f.status == kSignatureCatalog) {
    FileLine("", "Catalog:", f.catalogName, utf8);
    Line("", "Catalog Hash:",
         std::string(DigestKindName(f.catalogDigest)) + " " +
             HexText(f.catalogHash));
    if (f.haveCatalogSigner)
      FileLine("", "Catalog Signer:", f.catalogSigner.subject, utf8);
    PrintTrust("", "Catalog Trust:", f.catalogTrust, f.catalogTrustReason, "");
  }
  for (size_t i = 0; i < f.signatures.size(); ++i)
    PrintOneSignature(f.signatures[i], i + 1, utf8);
}

void ReportRecordSignature(FileRecord *record, const SignatureChecks *checks,
                           bool utf8) {
  SignatureFacts facts;
  QueryRecordSignature(record, checks, &facts);
  PrintSignatureFacts(facts, utf8);
}

namespace {

void StringOrNull(JsonWriter *w, const std::string &text) {
  if (text.empty())
    JsonNull(w);
  else
    JsonString(w, text);
}

void VerdictJson(JsonWriter *w, Verdict v) {
  if (v == kVerdictUnknown)
    JsonNull(w);
  else
    JsonRawValue(w, v == kVerdictYes ? "true" : "false");
}

void CertificateJson(JsonWriter *w, bool have, const CertificateFacts &c) {
  if (!have) {
    JsonNull(w);
    return;
  }
  JsonBeginObject(w);
  JsonKey(w, "subject");
  JsonString(w, c.subject);
  JsonKey(w, "subject_cn");
  StringOrNull(w, c.subjectCn);
  JsonKey(w, "issuer");
  JsonString(w, c.issuer);
  JsonKey(w, "issuer_cn");
  StringOrNull(w, c.issuerCn);
  JsonKey(w, "serial");
  JsonString(w, c.serial);
  JsonKey(w, "sha256");
  JsonString(w, c.sha256);
  JsonKey(w, "not_before");
  StringOrNull(w, c.notBefore);
  JsonKey(w, "not_after");
  StringOrNull(w, c.notAfter);
  JsonEndObject(w);
}

void TrustJson(JsonWriter *w, TrustStatus status, const std::string &reason,
               const std::string &detail, const std::string &at) {
  JsonBeginObject(w);
  JsonKey(w, "status");
  JsonStringOrNull(w, TrustWord(status));
  JsonKey(w, "reason");
  StringOrNull(w, reason);
  JsonKey(w, "detail");
  StringOrNull(w, detail);
  JsonKey(w, "checked_at");
  StringOrNull(w, status == kTrustNotChecked ? std::string() : at);
  JsonEndObject(w);
}

void TimestampJson(JsonWriter *w, const TimestampFacts &ts) {
  if (!ts.present) {
    JsonNull(w);
    return;
  }
  JsonBeginObject(w);
  JsonKey(w, "kind");
  JsonString(w, ts.kind);
  JsonKey(w, "time");
  StringOrNull(w, ts.time);
  JsonKey(w, "digest_algorithm");
  StringOrNull(w, ts.digest);
  JsonKey(w, "authority");
  CertificateJson(w, ts.haveAuthority, ts.authority);
  JsonKey(w, "signature_valid");
  VerdictJson(w, ts.signatureValid);
  JsonKey(w, "imprint_valid");
  VerdictJson(w, ts.imprintValid);
  JsonKey(w, "trust");
  TrustJson(w, ts.trust, ts.trustReason, ts.trustDetail,
            ts.trust == kTrustNotChecked ? std::string() : ts.time);
  JsonEndObject(w);
}

void HexOrNull(JsonWriter *w, const std::vector<unsigned char> &bytes) {
  if (bytes.empty())
    JsonNull(w);
  else
    JsonString(w, HexText(bytes));
}

void OneSignatureJson(JsonWriter *w, const SignatureInfo &s) {
  JsonBeginObject(w);
  JsonKey(w, "depth");
  JsonNumber(w, static_cast<unsigned long>(s.depth));
  JsonKey(w, "problem");
  StringOrNull(w, s.problem);
  JsonKey(w, "digest_algorithm");
  StringOrNull(w, s.digestName);
  JsonKey(w, "authentihash");
  HexOrNull(w, s.computedDigest);
  JsonKey(w, "signed_digest");
  HexOrNull(w, s.signedDigest);
  JsonKey(w, "integrity");
  JsonStringOrNull(w, IntegrityName(s));
  JsonKey(w, "signer");
  CertificateJson(w, s.haveSigner, s.signer);
  JsonKey(w, "signer_digest_algorithm");
  StringOrNull(w, s.signerDigest);
  JsonKey(w, "signature_algorithm");
  StringOrNull(w, s.signatureAlgorithm);
  JsonKey(w, "signature_valid");
  VerdictJson(w, s.signatureValid);
  JsonKey(w, "program_name");
  if (s.haveProgramName)
    JsonString(w, s.programName);
  else
    JsonNull(w);
  JsonKey(w, "program_url");
  if (s.haveProgramUrl)
    JsonString(w, s.programUrl);
  else
    JsonNull(w);
  JsonKey(w, "timestamp");
  TimestampJson(w, s.timestamp);
  JsonKey(w, "trust");
  TrustJson(w, s.trust, s.trustReason, s.trustDetail, s.trustTime);
  JsonEndObject(w);
}

// Every signature's digest agrees: ok; any disagrees: mismatch; any
// agrees over an entry with more than the signature in it:
// data-after-signature; none could be compared: null.
const char *OverallIntegrity(const SignatureFacts &f) {
  const char *word = nullptr;
  for (const SignatureInfo &s : f.signatures) {
    const char *one = IntegrityName(s);
    if (one == nullptr)
      continue;
    if (strcmp(one, "mismatch") == 0)
      return one;
    if (word == nullptr || strcmp(one, "ok") != 0)
      word = one;
  }
  return word;
}

void TableEntriesJson(JsonWriter *w, const SignatureFacts &f);

void TableJson(JsonWriter *w, const SignatureFacts &f) {
  if (!f.haveTable) {
    JsonNull(w);
    return;
  }
  JsonBeginObject(w);
  JsonKey(w, "offset");
  JsonNumber(w, f.tableOffset);
  JsonKey(w, "size");
  JsonNumber(w, f.tableSize);
  JsonKey(w, "entries");
  TableEntriesJson(w, f);
  JsonKey(w, "trailing_bytes");
  JsonNumber64(w, f.trailingBytes);
  JsonEndObject(w);
}

void CatalogNameJson(JsonWriter *w, const SignatureFacts &f) {
  std::string name;
  AppendPathAsUtf8(f.catalogName.c_str(), &name);
  JsonString(w, name);
}

void ChecksumJson(JsonWriter *w, const SignatureFacts &f) {
  if (f.haveChecksum) {
    JsonBeginObject(w);
    JsonKey(w, "stored");
    JsonNumber(w, f.storedChecksum);
    JsonKey(w, "computed");
    JsonNumber(w, f.computedChecksum);
    JsonEndObject(w);
  } else {
    JsonNull(w);
  }
}

void SignaturesJson(JsonWriter *w, const SignatureFacts &f) {
  JsonBeginArray(w);
  for (const SignatureInfo &s : f.signatures)
    OneSignatureJson(w, s);
  JsonEndArray(w);
}

void TableEntriesJson(JsonWriter *w, const SignatureFacts &f) {
  JsonBeginArray(w);
  for (const CertEntryFacts &e : f.entries) {
    JsonBeginObject(w);
    JsonKey(w, "offset");
    JsonNumber64(w, e.offset);
    JsonKey(w, "length");
    JsonNumber(w, e.length);
    JsonKey(w, "revision");
    JsonNumber(w, e.revision);
    JsonKey(w, "type");
    JsonNumber(w, e.type);
    JsonKey(w, "aligned");
    JsonRawValue(w, e.aligned ? "true" : "false");
    JsonEndObject(w);
  }
  JsonEndArray(w);
}

void CatalogJson(JsonWriter *w, const SignatureFacts &f) {
  if (f.status != kSignatureCatalog) {
    JsonNull(w);
    return;
  }
  JsonBeginObject(w);
  JsonKey(w, "name");
  CatalogNameJson(w, f);
  JsonKey(w, "digest_algorithm");
  JsonStringOrNull(w, DigestKindName(f.catalogDigest));
  JsonKey(w, "hash");
  HexOrNull(w, f.catalogHash);
  JsonKey(w, "signer");
  CertificateJson(w, f.haveCatalogSigner, f.catalogSigner);
  JsonKey(w, "trust");
  TrustJson(w, f.catalogTrust, f.catalogTrustReason, std::string(),
            std::string());
  JsonEndObject(w);
}

} // namespace

void WriteSignatureJson(JsonWriter *w, const SignatureFacts *facts) {
  if (facts == nullptr) {
    JsonNull(w);
    return;
  }
  const SignatureFacts &f = *facts;
  JsonBeginObject(w);
  JsonKey(w, "status");
  JsonStringOrNull(w, kSignatureStatusNames[f.status]);
  JsonKey(w, "problem");
  StringOrNull(w, f.problem);
  JsonKey(w, "integrity");
  JsonStringOrNull(w, OverallIntegrity(f));
  JsonKey(w, "table");
  TableJson(w, f);
  JsonKey(w, "unhashed_bytes");
  JsonNumber64(w, f.unhashedBytes);
  JsonKey(w, "checksum");
  ChecksumJson(w, f);
  JsonKey(w, "signatures");
  SignaturesJson(w, f);
  JsonKey(w, "catalog");
  CatalogJson(w, f);
  JsonEndObject(w);
}

namespace {

// The paths into "signature": the facts of a file examined, each null
// where a member on the way to it is.
const SignatureFacts *Sig(const FileFacts &f) {
  return f.examined && f.signature ? &*f.signature : nullptr;
}

const SignatureFacts *Table(const FileFacts &f) {
  const SignatureFacts *s = Sig(f);
  return s != nullptr && s->haveTable ? s : nullptr;
}

const SignatureFacts *Checksum(const FileFacts &f) {
  const SignatureFacts *s = Sig(f);
  return s != nullptr && s->haveChecksum ? s : nullptr;
}

const SignatureFacts *Catalog(const FileFacts &f) {
  const SignatureFacts *s = Sig(f);
  return s != nullptr && s->status == kSignatureCatalog ? s : nullptr;
}

const CertificateFacts *CatalogSigner(const FileFacts &f) {
  const SignatureFacts *s = Catalog(f);
  return s != nullptr && s->haveCatalogSigner ? &s->catalogSigner : nullptr;
}

#define QV_SIG(body)                                                           \
  [](JsonWriter *w, const FileFacts &f) {                                      \
    const SignatureFacts *s = Sig(f);                                          \
    if (s == nullptr)                                                          \
      JsonNull(w);                                                             \
    else                                                                       \
      body;                                                                    \
  }
#define QV_TABLE(body)                                                         \
  [](JsonWriter *w, const FileFacts &f) {                                      \
    const SignatureFacts *s = Table(f);                                        \
    if (s == nullptr)                                                          \
      JsonNull(w);                                                             \
    else                                                                       \
      body;                                                                    \
  }
#define QV_CATALOG(body)                                                       \
  [](JsonWriter *w, const FileFacts &f) {                                      \
    const SignatureFacts *s = Catalog(f);                                      \
    if (s == nullptr)                                                          \
      JsonNull(w);                                                             \
    else                                                                       \
      body;                                                                    \
  }
#define QV_SIGNER(body)                                                        \
  [](JsonWriter *w, const FileFacts &f) {                                      \
    const CertificateFacts *c = CatalogSigner(f);                              \
    if (c == nullptr)                                                          \
      JsonNull(w);                                                             \
    else                                                                       \
      body;                                                                    \
  }

// The catalog's trust as TrustJson writes it: no detail, and no time.
void CatalogTrustStatus(JsonWriter *w, const SignatureFacts &s) {
  JsonStringOrNull(w, TrustWord(s.catalogTrust));
}

} // namespace

const FactsField kSignatureFields[] = {
    {"signature.status", kFieldWithSignature,
     QV_SIG(JsonStringOrNull(w, kSignatureStatusNames[s->status]))},
    {"signature.problem", kFieldWithSignature,
     QV_SIG(StringOrNull(w, s->problem))},
    {"signature.integrity", kFieldWithSignature,
     QV_SIG(JsonStringOrNull(w, OverallIntegrity(*s)))},
    {"signature.table", kFieldWithSignature, QV_SIG(TableJson(w, *s))},
    {"signature.table.offset", kFieldWithSignature,
     QV_TABLE(JsonNumber(w, s->tableOffset))},
    {"signature.table.size", kFieldWithSignature,
     QV_TABLE(JsonNumber(w, s->tableSize))},
    {"signature.table.entries", kFieldWithSignature,
     QV_TABLE(TableEntriesJson(w, *s))},
    {"signature.table.trailing_bytes", kFieldWithSignature,
     QV_TABLE(JsonNumber64(w, s->trailingBytes))},
    {"signature.unhashed_bytes", kFieldWithSignature,
     QV_SIG(JsonNumber64(w, s->unhashedBytes))},
    {"signature.checksum", kFieldWithSignature, QV_SIG(ChecksumJson(w, *s))},
    {"signature.checksum.stored", kFieldWithSignature,
     [](JsonWriter *w, const FileFacts &f) {
       const SignatureFacts *s = Checksum(f);
       if (s == nullptr)
         JsonNull(w);
       else
         JsonNumber(w, s->storedChecksum);
     }},
    {"signature.checksum.computed", kFieldWithSignature,
     [](JsonWriter *w, const FileFacts &f) {
       const SignatureFacts *s = Checksum(f);
       if (s == nullptr)
         JsonNull(w);
       else
         JsonNumber(w, s->computedChecksum);
     }},
    {"signature.signatures", kFieldWithSignature,
     QV_SIG(SignaturesJson(w, *s))},
    {"signature.catalog", kFieldWithSignature, QV_SIG(CatalogJson(w, *s))},
    {"signature.catalog.name", kFieldWithSignature,
     QV_CATALOG(CatalogNameJson(w, *s))},
    {"signature.catalog.digest_algorithm", kFieldWithSignature,
     QV_CATALOG(JsonStringOrNull(w, DigestKindName(s->catalogDigest)))},
    {"signature.catalog.hash", kFieldWithSignature,
     QV_CATALOG(HexOrNull(w, s->catalogHash))},
    {"signature.catalog.signer", kFieldWithSignature,
     QV_CATALOG(CertificateJson(w, s->haveCatalogSigner, s->catalogSigner))},
    {"signature.catalog.signer.subject", kFieldWithSignature,
     QV_SIGNER(JsonString(w, c->subject))},
    {"signature.catalog.signer.subject_cn", kFieldWithSignature,
     QV_SIGNER(StringOrNull(w, c->subjectCn))},
    {"signature.catalog.signer.issuer", kFieldWithSignature,
     QV_SIGNER(JsonString(w, c->issuer))},
    {"signature.catalog.signer.issuer_cn", kFieldWithSignature,
     QV_SIGNER(StringOrNull(w, c->issuerCn))},
    {"signature.catalog.signer.serial", kFieldWithSignature,
     QV_SIGNER(JsonString(w, c->serial))},
    {"signature.catalog.signer.sha256", kFieldWithSignature,
     QV_SIGNER(JsonString(w, c->sha256))},
    {"signature.catalog.signer.not_before", kFieldWithSignature,
     QV_SIGNER(StringOrNull(w, c->notBefore))},
    {"signature.catalog.signer.not_after", kFieldWithSignature,
     QV_SIGNER(StringOrNull(w, c->notAfter))},
    {"signature.catalog.trust", kFieldWithSignature,
     QV_CATALOG(TrustJson(w, s->catalogTrust, s->catalogTrustReason,
                          std::string(), std::string()))},
    {"signature.catalog.trust.status", kFieldWithSignature,
     QV_CATALOG(CatalogTrustStatus(w, *s))},
    {"signature.catalog.trust.reason", kFieldWithSignature,
     QV_CATALOG(StringOrNull(w, s->catalogTrustReason))},
    {"signature.catalog.trust.detail", kFieldWithSignature,
     QV_CATALOG(JsonNull(w))},
    {"signature.catalog.trust.checked_at", kFieldWithSignature,
     QV_CATALOG(JsonNull(w))},
};
const size_t kSignatureFieldCount =
    sizeof kSignatureFields / sizeof kSignatureFields[0];

#undef QV_SIG
#undef QV_TABLE
#undef QV_CATALOG
#undef QV_SIGNER

const char *const kSignatureColumns[] = {
    "signature_status",  "signature_problem",
    "signature_count",   "integrity",
    "digest_algorithm",  "authentihash",
    "signed_digest",     "signer",
    "signer_cn",         "signer_serial",
    "signer_sha256",     "signature_valid",
    "timestamp",         "timestamp_kind",
    "timestamp_valid",   "trust",
    "trust_reason",      "checksum_stored",
    "checksum_computed", "catalog",
};
const size_t kSignatureColumnCount =
    sizeof kSignatureColumns / sizeof kSignatureColumns[0];

void SignatureColumns(const SignatureFacts *facts,
                      std::vector<std::string> *values) {
  values->assign(kSignatureColumnCount, std::string());
  if (facts == nullptr)
    return;
  const SignatureFacts &f = *facts;
  std::vector<std::string> &v = *values;
  v[0] = kSignatureStatusNames[f.status];
  v[1] = f.problem;
  v[2] = std::to_string(f.signatures.size());
  const char *integrity = OverallIntegrity(f);
  v[3] = integrity != nullptr ? integrity : "";
  if (!f.signatures.empty()) {
    const SignatureInfo &s = f.signatures[0];
    v[4] = s.digestName;
    v[5] = HexText(s.computedDigest);
    v[6] = HexText(s.signedDigest);
    if (s.haveSigner) {
      v[7] = s.signer.subject;
      v[8] = s.signer.subjectCn;
      v[9] = s.signer.serial;
      v[10] = s.signer.sha256;
    }
    v[11] = s.signatureValid == kVerdictUnknown ? ""
                                                : VerdictWord(s.signatureValid);
    if (s.timestamp.present) {
      v[12] = s.timestamp.time;
      v[13] = s.timestamp.kind;
      Verdict valid = TimestampVerdict(s.timestamp);
      v[14] = valid == kVerdictUnknown ? "" : VerdictWord(valid);
    }
    v[15] = TrustWord(s.trust);
    v[16] = s.trustReason;
  } else if (f.status == kSignatureCatalog) {
    v[4] = DigestKindName(f.catalogDigest);
    v[5] = HexText(f.catalogHash);
    if (f.haveCatalogSigner) {
      v[7] = f.catalogSigner.subject;
      v[8] = f.catalogSigner.subjectCn;
      v[9] = f.catalogSigner.serial;
      v[10] = f.catalogSigner.sha256;
    }
    v[15] = TrustWord(f.catalogTrust);
    v[16] = f.catalogTrustReason;
  }
  if (f.haveChecksum) {
    v[17] = Hex32(f.storedChecksum);
    v[18] = Hex32(f.computedChecksum);
  }
  v[19] = f.catalogName;
}
