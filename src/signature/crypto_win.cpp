// The signature service's cryptography on the Windows API: digests from
// BCrypt, PKCS#7, certificates, catalogs and chains from CryptoAPI, and the
// Authenticode structures from the decoders WinTrust registers.
#include <stdint.h>
#include <string.h>
#include <time.h>
#include <windows.h>

#include <bcrypt.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <new>
#include <string>
#include <vector>

#include "crypto.h"

using Bytes = std::vector<unsigned char>;

struct Digester {
  BCRYPT_ALG_HANDLE algorithm;
  BCRYPT_HASH_HANDLE hash;
};

struct TrustStore {
  HCERTSTORE anchors; // every certificate of --ca-file and --ca-path
  HCERTSTORE crls;    // --crl-file
  bool haveCrls;
};

namespace {

const DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
const char kSpcIndirectData[] = "1.3.6.1.4.1.311.2.1.4";
const char kSpcSpOpusInfo[] = "1.3.6.1.4.1.311.2.1.12";
const char kSpcNestedSignature[] = "1.3.6.1.4.1.311.2.4.1";
const char kSpcRfc3161Timestamp[] = "1.3.6.1.4.1.311.3.3.1";
const char kCounterSignature[] = "1.2.840.113549.1.9.6";
const char kCertificateTrustList[] = "1.3.6.1.4.1.311.10.1";
const char kCodeSigning[] = "1.3.6.1.5.5.7.3.3";
const char kTimeStamping[] = "1.3.6.1.5.5.7.3.8";
const int kMaxNestingDepth = 3;
const size_t kMaxSignatures = 32;

// The structure types are small integers passed as names.
LPCSTR StructType(uintptr_t id) { return reinterpret_cast<LPCSTR>(id); }

DigestKind DigestKindOf(const char *oid) {
  if (oid == nullptr)
    return kDigestUnknown;
  if (strcmp(oid, szOID_RSA_MD5) == 0)
    return kDigestMd5;
  if (strcmp(oid, szOID_OIWSEC_sha1) == 0)
    return kDigestSha1;
  if (strcmp(oid, "2.16.840.1.101.3.4.2.1") == 0)
    return kDigestSha256;
  if (strcmp(oid, "2.16.840.1.101.3.4.2.2") == 0)
    return kDigestSha384;
  if (strcmp(oid, "2.16.840.1.101.3.4.2.3") == 0)
    return kDigestSha512;
  return kDigestUnknown;
}

std::string DigestText(const char *oid) {
  DigestKind kind = DigestKindOf(oid);
  if (kind != kDigestUnknown)
    return DigestKindName(kind);
  return oid != nullptr ? oid : "";
}

// The names libcrypto gives, for the reports to agree across systems; an
// algorithm without one here is named by its OID.
std::string AlgorithmText(const char *oid) {
  if (oid == nullptr)
    return std::string();
  static const struct {
    const char *oid;
    const char *name;
  } kNames[] = {
      {szOID_RSA_RSA, "rsaEncryption"},
      {szOID_RSA_SHA1RSA, "sha1WithRSAEncryption"},
      {szOID_RSA_SHA256RSA, "sha256WithRSAEncryption"},
      {szOID_RSA_SHA384RSA, "sha384WithRSAEncryption"},
      {szOID_RSA_SHA512RSA, "sha512WithRSAEncryption"},
      {szOID_ECC_PUBLIC_KEY, "id-ecPublicKey"},
      {szOID_ECDSA_SHA256, "ecdsa-with-SHA256"},
      {szOID_ECDSA_SHA384, "ecdsa-with-SHA384"},
      {szOID_ECDSA_SHA512, "ecdsa-with-SHA512"},
      {"1.2.840.10045.4.1", "ecdsa-with-SHA1"},
  };
  for (const auto &n : kNames)
    if (strcmp(n.oid, oid) == 0)
      return n.name;
  return oid;
}

LPCWSTR BcryptAlgorithm(DigestKind kind) {
  switch (kind) {
  case kDigestMd5:
    return BCRYPT_MD5_ALGORITHM;
  case kDigestSha1:
    return BCRYPT_SHA1_ALGORITHM;
  case kDigestSha256:
    return BCRYPT_SHA256_ALGORITHM;
  case kDigestSha384:
    return BCRYPT_SHA384_ALGORITHM;
  case kDigestSha512:
    return BCRYPT_SHA512_ALGORITHM;
  case kDigestUnknown:
    break;
  }
  return nullptr;
}

bool Hash(DigestKind kind, const unsigned char *bytes, size_t length,
          Bytes *out) {
  Digester *d = StartDigester(kind);
  if (d == nullptr)
    return false;
  FeedDigester(d, bytes, length);
  FinishDigester(d, out);
  return !out->empty();
}

std::string Hex(const unsigned char *bytes, size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 0xF]);
  }
  return text;
}

std::string Utf8(const WCHAR *text, int units) {
  std::string out;
  if (text == nullptr || units == 0)
    return out;
  int need = WideCharToMultiByte(CP_UTF8, 0, text, units, nullptr, 0, nullptr,
                                 nullptr);
  if (need <= 0)
    return out;
  out.resize(static_cast<size_t>(need));
  WideCharToMultiByte(CP_UTF8, 0, text, units, &out[0], need, nullptr, nullptr);
  if (units < 0 && !out.empty() && out.back() == '\0')
    out.pop_back();
  return out;
}

std::string TimeText(const FILETIME &when) {
  SYSTEMTIME t;
  if (!FileTimeToSystemTime(&when, &t))
    return std::string();
  char text[32];
  snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", t.wYear,
           t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
  return text;
}

bool ParseTimeText(const std::string &text, FILETIME *when) {
  SYSTEMTIME t = {};
  unsigned y, mo, d, h, mi, s;
  if (sscanf(text.c_str(), "%4u-%2u-%2uT%2u:%2u:%2uZ", &y, &mo, &d, &h, &mi,
             &s) != 6)
    return false;
  t.wYear = static_cast<WORD>(y);
  t.wMonth = static_cast<WORD>(mo);
  t.wDay = static_cast<WORD>(d);
  t.wHour = static_cast<WORD>(h);
  t.wMinute = static_cast<WORD>(mi);
  t.wSecond = static_cast<WORD>(s);
  return SystemTimeToFileTime(&t, when) != 0;
}

// One line, most specific first (RFC 4514 order); CryptoAPI quotes where
// RFC 4514 escapes, and separates with ", ", which is closed up outside
// quotes.
std::string NameText(const CERT_NAME_BLOB *name) {
  DWORD flags = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG |
                CERT_NAME_STR_COMMA_FLAG;
  DWORD need = CertNameToStrW(
      X509_ASN_ENCODING, const_cast<CERT_NAME_BLOB *>(name), flags, nullptr, 0);
  if (need <= 1)
    return std::string();
  std::vector<WCHAR> wide(need);
  CertNameToStrW(X509_ASN_ENCODING, const_cast<CERT_NAME_BLOB *>(name), flags,
                 wide.data(), need);
  std::string text = Utf8(wide.data(), -1), closed;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '"')
      quoted = !quoted;
    closed.push_back(text[i]);
    if (!quoted && text[i] == ',' && i + 1 < text.size() && text[i + 1] == ' ')
      ++i;
  }
  return closed;
}

std::string CommonName(PCCERT_CONTEXT cert, DWORD flags) {
  WCHAR name[512];
  DWORD got = CertGetNameStringW(cert, CERT_NAME_ATTR_TYPE, flags,
                                 const_cast<char *>(szOID_COMMON_NAME), name,
                                 sizeof name / sizeof name[0]);
  return got > 1 ? Utf8(name, -1) : std::string();
}

void DescribeCertificate(PCCERT_CONTEXT cert, CertificateFacts *facts) {
  const CERT_INFO *info = cert->pCertInfo;
  facts->subject = NameText(&info->Subject);
  facts->issuer = NameText(&info->Issuer);
  facts->subjectCn = CommonName(cert, 0);
  facts->issuerCn = CommonName(cert, CERT_NAME_ISSUER_FLAG);
  // Stored little-endian; shown as the integer's bytes, without the zero
  // byte that only keeps it positive.
  Bytes serial(info->SerialNumber.pbData,
               info->SerialNumber.pbData + info->SerialNumber.cbData);
  while (serial.size() > 1 && serial.back() == 0)
    serial.pop_back();
  Bytes bigEndian(serial.rbegin(), serial.rend());
  facts->serial = Hex(bigEndian.data(), bigEndian.size());
  Bytes thumbprint;
  if (Hash(kDigestSha256, cert->pbCertEncoded, cert->cbCertEncoded,
           &thumbprint))
    facts->sha256 = Hex(thumbprint.data(), thumbprint.size());
  facts->notBefore = TimeText(info->NotBefore);
  facts->notAfter = TimeText(info->NotAfter);
}

// CryptDecodeObjectEx into memory of its own; null when it cannot.
template <typename T> T *Decode(LPCSTR type, const BYTE *der, DWORD length) {
  void *out = nullptr;
  DWORD size = 0;
  if (!CryptDecodeObjectEx(kEncoding, type, der, length,
                           CRYPT_DECODE_ALLOC_FLAG, nullptr, &out, &size))
    return nullptr;
  return static_cast<T *>(out);
}

Bytes MessageParam(HCRYPTMSG message, DWORD type, DWORD index = 0) {
  DWORD size = 0;
  Bytes out;
  if (!CryptMsgGetParam(message, type, index, nullptr, &size) || size == 0)
    return out;
  out.resize(size);
  if (!CryptMsgGetParam(message, type, index, out.data(), &size))
    out.clear();
  else
    out.resize(size);
  return out;
}

const CRYPT_ATTRIBUTE *FindAttribute(const CRYPT_ATTRIBUTES &attributes,
                                     const char *oid) {
  for (DWORD i = 0; i < attributes.cAttr; ++i)
    if (attributes.rgAttr[i].pszObjId != nullptr &&
        strcmp(attributes.rgAttr[i].pszObjId, oid) == 0)
      return &attributes.rgAttr[i];
  return nullptr;
}

// A decoded SignedData: the message, and its certificates as a store.
struct Message {
  HCRYPTMSG handle;
  HCERTSTORE certificates;
};

bool OpenMessage(const unsigned char *der, size_t length, Message *m) {
  m->handle = nullptr;
  m->certificates = nullptr;
  if (length == 0 || length > 0x7FFFFFFF)
    return false;
  m->handle = CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr);
  if (m->handle == nullptr ||
      !CryptMsgUpdate(m->handle, der, static_cast<DWORD>(length), TRUE)) {
    if (m->handle != nullptr)
      CryptMsgClose(m->handle);
    m->handle = nullptr;
    return false;
  }
  m->certificates =
      CertOpenStore(CERT_STORE_PROV_MSG, kEncoding, 0, 0, m->handle);
  return true;
}

void CloseMessage(Message *m) {
  if (m->certificates != nullptr)
    CertCloseStore(m->certificates, 0);
  if (m->handle != nullptr)
    CryptMsgClose(m->handle);
}

PCCERT_CONTEXT SignerCertificate(HCERTSTORE store, const CERT_NAME_BLOB &issuer,
                                 const CRYPT_INTEGER_BLOB &serial) {
  if (store == nullptr)
    return nullptr;
  CERT_INFO wanted = {};
  wanted.Issuer = issuer;
  wanted.SerialNumber = serial;
  return CertFindCertificateInStore(store, kEncoding, 0, CERT_FIND_SUBJECT_CERT,
                                    &wanted, nullptr);
}

// The digest the SpcIndirectDataContent states.
bool ReadIndirect(const Bytes &content, SignatureInfo *info) {
  SPC_INDIRECT_DATA_CONTENT *indirect = Decode<SPC_INDIRECT_DATA_CONTENT>(
      StructType(2003), content.data(), static_cast<DWORD>(content.size()));
  if (indirect == nullptr)
    return false;
  info->digest = DigestKindOf(indirect->DigestAlgorithm.pszObjId);
  info->digestName = DigestText(indirect->DigestAlgorithm.pszObjId);
  info->signedDigest.assign(indirect->Digest.pbData,
                            indirect->Digest.pbData + indirect->Digest.cbData);
  LocalFree(indirect);
  return true;
}

void ReadOpusInfo(const CMSG_SIGNER_INFO &si, SignatureInfo *info) {
  const CRYPT_ATTRIBUTE *opus = FindAttribute(si.AuthAttrs, kSpcSpOpusInfo);
  if (opus == nullptr || opus->cValue == 0)
    return;
  SPC_SP_OPUS_INFO *decoded = Decode<SPC_SP_OPUS_INFO>(
      StructType(2007), opus->rgValue[0].pbData, opus->rgValue[0].cbData);
  if (decoded == nullptr)
    return;
  if (decoded->pwszProgramName != nullptr) {
    info->haveProgramName = true;
    info->programName = Utf8(decoded->pwszProgramName, -1);
  }
  if (decoded->pMoreInfo != nullptr) {
    const SPC_LINK *link = decoded->pMoreInfo;
    if (link->dwLinkChoice == SPC_URL_LINK_CHOICE && link->pwszUrl != nullptr) {
      info->haveProgramUrl = true;
      info->programUrl = Utf8(link->pwszUrl, -1);
    } else if (link->dwLinkChoice == SPC_FILE_LINK_CHOICE &&
               link->pwszFile != nullptr) {
      info->haveProgramUrl = true;
      info->programUrl = Utf8(link->pwszFile, -1);
    }
  }
  LocalFree(decoded);
}

void CheckAuthority(const TrustStore *store, PCCERT_CONTEXT authority,
                    HCERTSTORE extra, TimestampFacts *ts);

// An RFC 3161 token: a SignedData over a TSTInfo whose imprint is the
// digest of the signer's signature value.
void ReadRfc3161(const CRYPT_ATTR_BLOB &value, const CMSG_SIGNER_INFO &signer,
                 const TrustStore *store, TimestampFacts *ts) {
  ts->present = true;
  ts->kind = "rfc3161";
  Message token;
  if (!OpenMessage(value.pbData, value.cbData, &token))
    return;
  Bytes content = MessageParam(token.handle, CMSG_CONTENT_PARAM);
  CRYPT_TIMESTAMP_INFO *info =
      content.empty()
          ? nullptr
          : Decode<CRYPT_TIMESTAMP_INFO>(StructType(80), content.data(),
                                         static_cast<DWORD>(content.size()));
  if (info != nullptr) {
    ts->time = TimeText(info->ftTime);
    ts->digest = DigestText(info->HashAlgorithm.pszObjId);
    Bytes digest;
    if (Hash(DigestKindOf(info->HashAlgorithm.pszObjId),
             signer.EncryptedHash.pbData, signer.EncryptedHash.cbData, &digest))
      ts->imprintValid =
          digest.size() == info->HashedMessage.cbData &&
                  memcmp(digest.data(), info->HashedMessage.pbData,
                         digest.size()) == 0
              ? kVerdictYes
              : kVerdictNo;
    LocalFree(info);
  }
  // Its signer by issuer and serial number or, as Microsoft's authorities
  // name it, by subject key identifier: the CMS form names either.
  Bytes raw = MessageParam(token.handle, CMSG_CMS_SIGNER_INFO_PARAM);
  PCCERT_CONTEXT cert = nullptr;
  if (!raw.empty() && token.certificates != nullptr) {
    const CMSG_CMS_SIGNER_INFO *tsa =
        reinterpret_cast<const CMSG_CMS_SIGNER_INFO *>(raw.data());
    cert =
        CertFindCertificateInStore(token.certificates, kEncoding, 0,
                                   CERT_FIND_CERT_ID, &tsa->SignerId, nullptr);
  }
  if (cert != nullptr) {
    ts->haveAuthority = true;
    DescribeCertificate(cert, &ts->authority);
    CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA para = {};
    para.cbSize = sizeof para;
    para.dwSignerIndex = 0;
    para.dwSignerType = CMSG_VERIFY_SIGNER_CERT;
    para.pvSigner = const_cast<CERT_CONTEXT *>(cert);
    ts->signatureValid =
        CryptMsgControl(token.handle, 0, CMSG_CTRL_VERIFY_SIGNATURE_EX, &para)
            ? kVerdictYes
            : kVerdictNo;
  }
  CheckAuthority(store, cert, token.certificates, ts);
  if (cert != nullptr)
    CertFreeCertificateContext(cert);
  CloseMessage(&token);
}

// A PKCS#9 countersignature over the signer's signature value; its
// certificate is among the outer message's.
void ReadCountersignature(const CRYPT_ATTR_BLOB &value, const Message &outer,
                          const TrustStore *store, TimestampFacts *ts) {
  ts->present = true;
  ts->kind = "pkcs9";
  CMSG_SIGNER_INFO *counter =
      Decode<CMSG_SIGNER_INFO>(StructType(500), value.pbData, value.cbData);
  if (counter == nullptr)
    return;
  ts->digest = DigestText(counter->HashAlgorithm.pszObjId);
  const CRYPT_ATTRIBUTE *when =
      FindAttribute(counter->AuthAttrs, szOID_RSA_signingTime);
  if (when != nullptr && when->cValue > 0) {
    FILETIME *time = Decode<FILETIME>(StructType(30), when->rgValue[0].pbData,
                                      when->rgValue[0].cbData);
    if (time != nullptr) {
      ts->time = TimeText(*time);
      LocalFree(time);
    }
  }
  PCCERT_CONTEXT cert = SignerCertificate(outer.certificates, counter->Issuer,
                                          counter->SerialNumber);
  if (cert != nullptr) {
    ts->haveAuthority = true;
    DescribeCertificate(cert, &ts->authority);
    Bytes signerInfo = MessageParam(outer.handle, CMSG_ENCODED_SIGNER);
    ts->signatureValid =
        !signerInfo.empty() && CryptMsgVerifyCountersignatureEncoded(
                                   0, kEncoding, signerInfo.data(),
                                   static_cast<DWORD>(signerInfo.size()),
                                   value.pbData, value.cbData, cert->pCertInfo)
            ? kVerdictYes
            : kVerdictNo;
    ts->imprintValid = ts->signatureValid;
  }
  CheckAuthority(store, cert, outer.certificates, ts);
  if (cert != nullptr)
    CertFreeCertificateContext(cert);
  LocalFree(counter);
}

// Whether a certificate of the chain is one of the CAs given.
bool IsAnchor(const TrustStore *store, PCCERT_CONTEXT cert) {
  PCCERT_CONTEXT found = CertFindCertificateInStore(
      store->anchors, kEncoding, 0, CERT_FIND_EXISTING, cert, nullptr);
  if (found == nullptr)
    return false;
  CertFreeCertificateContext(found);
  return true;
}

// Whether the signer's certificate is on a CRL of its issuer.
const char *Revocation(const TrustStore *store, PCCERT_CONTEXT cert) {
  std::vector<PCRL_INFO> lists;
  PCCRL_CONTEXT crl = nullptr;
  while ((crl = CertEnumCRLsInStore(store->crls, crl)) != nullptr)
    if (CertCompareCertificateName(X509_ASN_ENCODING, &crl->pCrlInfo->Issuer,
                                   &cert->pCertInfo->Issuer))
      lists.push_back(crl->pCrlInfo);
  if (lists.empty())
    return "no-crl";
  bool good = CertVerifyCRLRevocation(X509_ASN_ENCODING, cert->pCertInfo,
                                      static_cast<DWORD>(lists.size()),
                                      lists.data()) != 0;
  return good ? nullptr : "revoked";
}

// Builds the chain for a usage at the given time, with the message's
// certificates and the CAs given; trusted when it reaches one of those
// CAs with no fault on the way.
TrustStatus BuildChain(const TrustStore *store, PCCERT_CONTEXT leaf,
                       HCERTSTORE extra, const FILETIME &at,
                       const char *usageOid, std::string *why,
                       std::string *detail) {
  HCERTSTORE both = CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
  if (both != nullptr) {
    CertAddStoreToCollection(both, store->anchors, 0, 0);
    if (extra != nullptr)
      CertAddStoreToCollection(both, extra, 0, 0);
  }
  LPSTR usage[] = {const_cast<LPSTR>(usageOid)};
  CERT_CHAIN_PARA para = {};
  para.cbSize = sizeof para;
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  para.RequestedUsage.Usage.cUsageIdentifier = 1;
  para.RequestedUsage.Usage.rgpszUsageIdentifier = usage;
  FILETIME when = at;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  if (!CertGetCertificateChain(nullptr, leaf, &when, both, &para, 0, nullptr,
                               &chain) ||
      chain == nullptr || chain->cChain == 0) {
    *why = "other";
    *detail = "the chain could not be built";
    if (both != nullptr)
      CertCloseStore(both, 0);
    return kTrustUntrusted;
  }
  const CERT_SIMPLE_CHAIN *simple = chain->rgpChain[0];
  const DWORD kIgnored =
      CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_REVOCATION_STATUS_UNKNOWN |
      CERT_TRUST_IS_OFFLINE_REVOCATION | CERT_TRUST_IS_PARTIAL_CHAIN;
  const char *reason = "unknown-issuer";
  for (DWORD i = 0; i < simple->cElement; ++i) {
    const CERT_CHAIN_ELEMENT *e = simple->rgpElement[i];
    DWORD faults = e->TrustStatus.dwErrorStatus & ~kIgnored;
    if ((faults & CERT_TRUST_IS_NOT_TIME_VALID) != 0) {
      reason = CompareFileTime(&at, &e->pCertContext->pCertInfo->NotBefore) < 0
                   ? "not-yet-valid"
                   : "expired";
      break;
    }
    if ((faults & CERT_TRUST_IS_REVOKED) != 0) {
      reason = "revoked";
      break;
    }
    if ((faults & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) != 0) {
      reason = "wrong-purpose";
      break;
    }
    if (faults != 0) {
      reason = "other";
      *detail = "chain status " + std::to_string(faults);
      break;
    }
    if (IsAnchor(store, e->pCertContext)) {
      reason = nullptr;
      break;
    }
  }
  if (reason == nullptr && store->haveCrls)
    reason = Revocation(store, leaf);
  if (reason != nullptr)
    *why = reason;
  CertFreeCertificateChain(chain);
  if (both != nullptr)
    CertCloseStore(both, 0);
  return reason == nullptr ? kTrustTrusted : kTrustUntrusted;
}

void CheckTrust(const TrustStore *store, PCCERT_CONTEXT leaf, HCERTSTORE extra,
                const FILETIME &at, SignatureInfo *info) {
  info->trustTime = TimeText(at);
  info->trust = BuildChain(store, leaf, extra, at, kCodeSigning,
                           &info->trustReason, &info->trustDetail);
}

// Whether the certificate's own usages name time stamping, as RFC 3161
// has an authority's do: CryptoAPI takes one without any as good for all.
bool NamesTimeStamping(PCCERT_CONTEXT cert) {
  DWORD size = 0;
  if (!CertGetEnhancedKeyUsage(cert, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG,
                               nullptr, &size) ||
      size == 0)
    return false;
  Bytes buffer(size);
  PCERT_ENHKEY_USAGE usage =
      reinterpret_cast<PCERT_ENHKEY_USAGE>(buffer.data());
  if (!CertGetEnhancedKeyUsage(cert, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG,
                               usage, &size))
    return false;
  for (DWORD i = 0; i < usage->cUsageIdentifier; ++i)
    if (usage->rgpszUsageIdentifier[i] != nullptr &&
        strcmp(usage->rgpszUsageIdentifier[i], kTimeStamping) == 0)
      return true;
  return false;
}

// Whether the CAs given vouch for a timestamp's authority, for time
// stamping, at the time it states. Its time is taken for the signer's
// chain only then: anyone can sign a token that says any time.
void CheckAuthority(const TrustStore *store, PCCERT_CONTEXT authority,
                    HCERTSTORE extra, TimestampFacts *ts) {
  if (store == nullptr)
    return;
  ts->trust = kTrustUntrusted;
  FILETIME at;
  if (ts->signatureValid == kVerdictNo || ts->imprintValid == kVerdictNo) {
    ts->trustReason = "bad-signature";
  } else if (authority == nullptr) {
    ts->trustReason = "no-signer-certificate";
  } else if (ts->signatureValid != kVerdictYes ||
             ts->imprintValid != kVerdictYes || !ParseTimeText(ts->time, &at)) {
    ts->trustReason = "other";
    ts->trustDetail = "the timestamp could not be read whole";
  } else if (!NamesTimeStamping(authority)) {
    ts->trustReason = "wrong-purpose";
  } else {
    ts->trust = BuildChain(store, authority, extra, at, kTimeStamping,
                           &ts->trustReason, &ts->trustDetail);
  }
}

void ReadSignedData(const unsigned char *der, size_t length,
                    const TrustStore *store, int depth,
                    std::vector<SignatureInfo> *out);

void ReadOne(const Message &m, const TrustStore *store, int depth,
             std::vector<SignatureInfo> *out) {
  SignatureInfo &info = out->back();
  Bytes type = MessageParam(m.handle, CMSG_INNER_CONTENT_TYPE_PARAM);
  Bytes content = MessageParam(m.handle, CMSG_CONTENT_PARAM);
  if (type.empty() ||
      strcmp(reinterpret_cast<const char *>(type.data()), kSpcIndirectData) !=
          0 ||
      !ReadIndirect(content, &info)) {
    info.problem = "no-indirect-data";
    return;
  }
  DWORD signers = 0, size = sizeof signers;
  if (!CryptMsgGetParam(m.handle, CMSG_SIGNER_COUNT_PARAM, 0, &signers,
                        &size) ||
      signers != 1) {
    info.problem = "not-one-signer";
    return;
  }
  Bytes raw = MessageParam(m.handle, CMSG_SIGNER_INFO_PARAM);
  if (raw.empty()) {
    info.problem = "not-one-signer";
    return;
  }
  const CMSG_SIGNER_INFO *si =
      reinterpret_cast<const CMSG_SIGNER_INFO *>(raw.data());
  info.signerDigest = DigestText(si->HashAlgorithm.pszObjId);
  info.signatureAlgorithm = AlgorithmText(si->HashEncryptionAlgorithm.pszObjId);
  PCCERT_CONTEXT cert =
      SignerCertificate(m.certificates, si->Issuer, si->SerialNumber);
  if (cert != nullptr) {
    info.haveSigner = true;
    DescribeCertificate(cert, &info.signer);
    // The signed attributes' signature and their message digest of the
    // content, both.
    info.signatureValid =
        CryptMsgControl(m.handle, 0, CMSG_CTRL_VERIFY_SIGNATURE,
                        cert->pCertInfo)
            ? kVerdictYes
            : kVerdictNo;
  } else {
    info.problem = "no-signer-certificate";
  }
  ReadOpusInfo(*si, &info);
  const CRYPT_ATTRIBUTE *token =
      FindAttribute(si->UnauthAttrs, kSpcRfc3161Timestamp);
  const CRYPT_ATTRIBUTE *counter =
      FindAttribute(si->UnauthAttrs, kCounterSignature);
  if (token != nullptr && token->cValue > 0)
    ReadRfc3161(token->rgValue[0], *si, store, &info.timestamp);
  else if (counter != nullptr && counter->cValue > 0)
    ReadCountersignature(counter->rgValue[0], m, store, &info.timestamp);

  if (store != nullptr) {
    if (cert == nullptr) {
      info.trust = kTrustUntrusted;
      info.trustReason = "no-signer-certificate";
    } else if (info.signatureValid != kVerdictYes) {
      info.trust = kTrustUntrusted;
      info.trustReason = "bad-signature";
    } else {
      FILETIME at;
      GetSystemTimeAsFileTime(&at);
      const TimestampFacts &ts = info.timestamp;
      // At the timestamp's time only where the authority is vouched for.
      if (ts.present && ts.trust == kTrustTrusted)
        ParseTimeText(ts.time, &at);
      CheckTrust(store, cert, m.certificates, at, &info);
    }
  }
  if (cert != nullptr)
    CertFreeCertificateContext(cert);

  if (depth >= kMaxNestingDepth)
    return;
  for (DWORD i = 0; i < si->UnauthAttrs.cAttr; ++i) {
    const CRYPT_ATTRIBUTE &a = si->UnauthAttrs.rgAttr[i];
    if (a.pszObjId == nullptr || strcmp(a.pszObjId, kSpcNestedSignature) != 0)
      continue;
    for (DWORD j = 0; j < a.cValue && out->size() < kMaxSignatures; ++j)
      ReadSignedData(a.rgValue[j].pbData, a.rgValue[j].cbData, store, depth + 1,
                     out);
  }
}

void ReadSignedData(const unsigned char *der, size_t length,
                    const TrustStore *store, int depth,
                    std::vector<SignatureInfo> *out) {
  out->push_back(SignatureInfo());
  out->back().depth = depth;
  Message m;
  if (!OpenMessage(der, length, &m)) {
    out->back().problem = "not-pkcs7";
    return;
  }
  DWORD type = 0, size = sizeof type;
  if (!CryptMsgGetParam(m.handle, CMSG_TYPE_PARAM, 0, &type, &size) ||
      type != CMSG_SIGNED)
    out->back().problem = "not-signed-data";
  else
    ReadOne(m, store, depth, out);
  CloseMessage(&m);
}

// The PEM blocks of a file, each added to the store as what its header
// names; DER certificates are taken whole.
bool LoadPemFile(const char *path, HCERTSTORE certificates, HCERTSTORE crls,
                 size_t *added) {
  FILE *f = fopen(path, "rb");
  if (f == nullptr)
    return false;
  std::string text;
  char buffer[65536];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, f)) > 0 &&
         text.size() < (64u << 20))
    text.append(buffer, got);
  fclose(f);
  static const char kBegin[] = "-----BEGIN ";
  for (size_t at = text.find(kBegin); at != std::string::npos;
       at = text.find(kBegin, at + 1)) {
    size_t end = text.find("-----END ", at);
    if (end == std::string::npos)
      break;
    size_t close = text.find("-----", end + 9);
    if (close == std::string::npos)
      break;
    std::string block = text.substr(at, close + 5 - at);
    DWORD size = 0;
    if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                              CRYPT_STRING_BASE64HEADER, nullptr, &size,
                              nullptr, nullptr))
      continue;
    Bytes der(size);
    if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                              CRYPT_STRING_BASE64HEADER, der.data(), &size,
                              nullptr, nullptr))
      continue;
    bool isCrl = text.compare(at, 19, "-----BEGIN X509 CRL") == 0;
    if (isCrl ? CertAddEncodedCRLToStore(crls, X509_ASN_ENCODING, der.data(),
                                         size, CERT_STORE_ADD_ALWAYS, nullptr)
              : CertAddEncodedCertificateToStore(
                    certificates, X509_ASN_ENCODING, der.data(), size,
                    CERT_STORE_ADD_ALWAYS, nullptr))
      ++*added;
  }
  return true;
}

} // namespace

Digester *StartDigester(DigestKind kind) {
  LPCWSTR name = BcryptAlgorithm(kind);
  if (name == nullptr)
    return nullptr;
  Digester *d = new (std::nothrow) Digester{nullptr, nullptr};
  if (d == nullptr)
    return nullptr;
  if (BCryptOpenAlgorithmProvider(&d->algorithm, name, nullptr, 0) != 0 ||
      BCryptCreateHash(d->algorithm, &d->hash, nullptr, 0, nullptr, 0, 0) !=
          0) {
    if (d->algorithm != nullptr)
      BCryptCloseAlgorithmProvider(d->algorithm, 0);
    delete d;
    return nullptr;
  }
  return d;
}

void FeedDigester(Digester *d, const unsigned char *bytes, size_t length) {
  while (length > 0) {
    ULONG piece =
        length > 0x40000000u ? 0x40000000u : static_cast<ULONG>(length);
    BCryptHashData(d->hash, const_cast<PUCHAR>(bytes), piece, 0);
    bytes += piece;
    length -= piece;
  }
}

void FinishDigester(Digester *d, std::vector<unsigned char> *digest) {
  digest->clear();
  DWORD size = 0;
  ULONG got = 0;
  if (BCryptGetProperty(d->algorithm, BCRYPT_HASH_LENGTH,
                        reinterpret_cast<PUCHAR>(&size), sizeof size, &got,
                        0) == 0 &&
      size > 0 && size <= 64) {
    digest->resize(size);
    if (BCryptFinishHash(d->hash, digest->data(), size, 0) != 0)
      digest->clear();
  }
  BCryptDestroyHash(d->hash);
  BCryptCloseAlgorithmProvider(d->algorithm, 0);
  delete d;
}

TrustStore *OpenTrustStore(const char *caFile, const char *caPath,
                           const char *crlFile, std::vector<std::string> *notes,
                           std::string *error) {
  TrustStore *store =
      new TrustStore{CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr),
                     CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr),
                     crlFile != nullptr};
  if (store == nullptr) {
    *error = "out of memory";
    return nullptr;
  }
  size_t added = 0;
  bool ok = store->anchors != nullptr && store->crls != nullptr;
  if (ok && caFile != nullptr) {
    if (!LoadPemFile(caFile, store->anchors, store->crls, &added)) {
      *error = std::string("cannot read the CA file ") + caFile;
      ok = false;
    } else if (added == 0) {
      *error =
          std::string("the CA file ") + caFile + " holds no PEM certificate";
      ok = false;
    }
  }
  if (ok && caPath != nullptr) {
    WIN32_FIND_DATAA found;
    std::string pattern = std::string(caPath) + "\\*";
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
      *error = std::string("cannot read the CA folder ") + caPath;
      ok = false;
    } else {
      do
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
          LoadPemFile((std::string(caPath) + "\\" + found.cFileName).c_str(),
                      store->anchors, store->crls, &added);
      while (FindNextFileA(search, &found));
      FindClose(search);
    }
  }
  // A certificate in the CRL file is no CA: it goes to a store of its
  // own, which is dropped, and the caller is told.
  if (ok && crlFile != nullptr) {
    size_t loaded = 0, certificates = 0;
    HCERTSTORE ignored =
        CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    bool read = ignored != nullptr &&
                LoadPemFile(crlFile, ignored, store->crls, &loaded);
    if (ignored != nullptr) {
      PCCERT_CONTEXT cert = nullptr;
      while ((cert = CertEnumCertificatesInStore(ignored, cert)) != nullptr)
        ++certificates;
      CertCloseStore(ignored, 0);
    }
    if (certificates != 0)
      notes->push_back("the CRL file " + std::string(crlFile) + " holds " +
                       std::to_string(certificates) +
                       (certificates == 1 ? " certificate" : " certificates") +
                       ", ignored: CAs come from --ca-file and --ca-path only");
    if (!read) {
      *error = std::string("cannot read the CRL file ") + crlFile;
      ok = false;
    } else if (loaded <= certificates) {
      *error = std::string("the CRL file ") + crlFile +
               " holds no PEM certificate revocation list";
      ok = false;
    }
  }
  if (!ok) {
    CloseTrustStore(store);
    return nullptr;
  }
  return store;
}

void CloseTrustStore(TrustStore *store) {
  if (store == nullptr)
    return;
  if (store->anchors != nullptr)
    CertCloseStore(store->anchors, 0);
  if (store->crls != nullptr)
    CertCloseStore(store->crls, 0);
  delete store;
}

void ReadSignatures(const unsigned char *der, size_t length,
                    const TrustStore *store,
                    std::vector<SignatureInfo> *signatures) {
  ReadSignedData(der, length, store, 0, signatures);
}

bool ReadCatalog(const unsigned char *der, size_t length,
                 const TrustStore *store, SignatureInfo *signer,
                 std::vector<CatalogMember> *members) {
  *signer = SignatureInfo();
  members->clear();
  Message m;
  if (!OpenMessage(der, length, &m))
    return false;
  bool ok = false;
  Bytes type = MessageParam(m.handle, CMSG_INNER_CONTENT_TYPE_PARAM);
  Bytes content = MessageParam(m.handle, CMSG_CONTENT_PARAM);
  CTL_INFO *list = !type.empty() &&
                           strcmp(reinterpret_cast<const char *>(type.data()),
                                  kCertificateTrustList) == 0 &&
                           !content.empty()
                       ? Decode<CTL_INFO>(StructType(37), content.data(),
                                          static_cast<DWORD>(content.size()))
                       : nullptr;
  Bytes raw = MessageParam(m.handle, CMSG_SIGNER_INFO_PARAM);
  if (list != nullptr && !raw.empty()) {
    ok = true;
    for (DWORD i = 0; i < list->cCTLEntry; ++i) {
      const CTL_ENTRY &entry = list->rgCTLEntry[i];
      for (DWORD j = 0; j < entry.cAttribute; ++j) {
        const CRYPT_ATTRIBUTE &a = entry.rgAttribute[j];
        if (a.pszObjId == nullptr || strcmp(a.pszObjId, kSpcIndirectData) != 0)
          continue;
        for (DWORD k = 0; k < a.cValue; ++k) {
          SignatureInfo digest;
          Bytes value(a.rgValue[k].pbData,
                      a.rgValue[k].pbData + a.rgValue[k].cbData);
          if (ReadIndirect(value, &digest) && digest.digest != kDigestUnknown)
            members->push_back({digest.digest, digest.signedDigest});
        }
      }
    }
    const CMSG_SIGNER_INFO *si =
        reinterpret_cast<const CMSG_SIGNER_INFO *>(raw.data());
    signer->signerDigest = DigestText(si->HashAlgorithm.pszObjId);
    signer->signatureAlgorithm =
        AlgorithmText(si->HashEncryptionAlgorithm.pszObjId);
    PCCERT_CONTEXT cert =
        SignerCertificate(m.certificates, si->Issuer, si->SerialNumber);
    if (cert != nullptr) {
      signer->haveSigner = true;
      DescribeCertificate(cert, &signer->signer);
      signer->signatureValid =
          CryptMsgControl(m.handle, 0, CMSG_CTRL_VERIFY_SIGNATURE,
                          cert->pCertInfo)
              ? kVerdictYes
              : kVerdictNo;
      if (store != nullptr && signer->signatureValid == kVerdictYes) {
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        CheckTrust(store, cert, m.certificates, now, signer);
      }
      CertFreeCertificateContext(cert);
    } else {
      signer->problem = "no-signer-certificate";
    }
  }
  if (list != nullptr)
    LocalFree(list);
  CloseMessage(&m);
  return ok;
}
