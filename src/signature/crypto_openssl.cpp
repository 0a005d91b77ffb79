// The signature service's cryptography on libcrypto: PKCS#7 and X.509
// decoding, digests, signature checks and chain building are the
// library's; what is read here is which of its structures Authenticode
// puts where.
#include <ctype.h>
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <new>

#include "crypto.h"
#include "file_read.h"

using Bytes = std::vector<unsigned char>;

struct Digester {
  EVP_MD_CTX *context;
};

struct TrustStore {
  X509_STORE *store;
  bool haveCrls; // check revocation of the signer's certificate
};

namespace {

// Authenticode's object identifiers, which libcrypto does not name.
const char kSpcIndirectData[] = "1.3.6.1.4.1.311.2.1.4";
const char kSpcSpOpusInfo[] = "1.3.6.1.4.1.311.2.1.12";
const char kSpcNestedSignature[] = "1.3.6.1.4.1.311.2.4.1";
const char kSpcRfc3161Timestamp[] = "1.3.6.1.4.1.311.3.3.1";
const char kCertificateTrustList[] = "1.3.6.1.4.1.311.10.1";
const char kAnyExtendedKeyUsage[] = "2.5.29.37.0";

// Nested signatures nest in turn; a file that nests deeper is a crafted
// one, and so is one with more of them.
const int kMaxNestingDepth = 3;
const size_t kMaxSignatures = 32;

bool IsObject(const ASN1_OBJECT *object, const char *dotted) {
  char text[80];
  if (object == nullptr || OBJ_obj2txt(text, sizeof text, object, 1) <= 0)
    return false;
  return strcmp(text, dotted) == 0;
}

std::string ObjectText(const ASN1_OBJECT *object) {
  char text[128];
  if (object == nullptr || OBJ_obj2txt(text, sizeof text, object, 0) <= 0)
    return std::string();
  return text;
}

DigestKind DigestKindOf(const ASN1_OBJECT *object) {
  switch (OBJ_obj2nid(object)) {
  case NID_md5:
    return kDigestMd5;
  case NID_sha1:
    return kDigestSha1;
  case NID_sha256:
    return kDigestSha256;
  case NID_sha384:
    return kDigestSha384;
  case NID_sha512:
    return kDigestSha512;
  default:
    return kDigestUnknown;
  }
}

const EVP_MD *DigestFor(DigestKind kind) {
  switch (kind) {
  case kDigestMd5:
    return EVP_md5();
  case kDigestSha1:
    return EVP_sha1();
  case kDigestSha256:
    return EVP_sha256();
  case kDigestSha384:
    return EVP_sha384();
  case kDigestSha512:
    return EVP_sha512();
  case kDigestUnknown:
    break;
  }
  return nullptr;
}

bool Hash(DigestKind kind, const unsigned char *bytes, size_t length,
          Bytes *out) {
  const EVP_MD *md = DigestFor(kind);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned size = 0;
  if (md == nullptr ||
      EVP_Digest(bytes, length, digest, &size, md, nullptr) != 1)
    return false;
  out->assign(digest, digest + size);
  return true;
}

std::string Hex(const unsigned char *bytes, size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * length);
  for (size_t i = 0; i < length; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 0xF]);
  }
  return text;
}

std::string TimeText(const ASN1_TIME *when) {
  struct tm parts;
  if (when == nullptr || ASN1_TIME_to_tm(when, &parts) != 1)
    return std::string();
  char text[32];
  if (strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts) == 0)
    return std::string();
  return text;
}

std::string SecondsText(time_t seconds) {
  struct tm parts;
  char text[32];
  if (gmtime_r(&seconds, &parts) == nullptr ||
      strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts) == 0)
    return std::string();
  return text;
}

// RFC 4514 (the RFC 2253 layout, most specific first) on one line, with
// UTF-8 left as it is rather than escaped byte by byte.
std::string NameText(const X509_NAME *name) {
  BIO *bio = BIO_new(BIO_s_mem());
  if (bio == nullptr)
    return std::string();
  std::string text;
  if (X509_NAME_print_ex(bio, name, 0,
                         XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) >= 0) {
    char *data = nullptr;
    long length = BIO_get_mem_data(bio, &data);
    if (length > 0 && data != nullptr)
      text.assign(data, static_cast<size_t>(length));
  }
  BIO_free(bio);
  return text;
}

std::string Utf8Of(const ASN1_STRING *value) {
  unsigned char *utf8 = nullptr;
  int length = value == nullptr ? -1 : ASN1_STRING_to_UTF8(&utf8, value);
  std::string text;
  if (length > 0)
    text.assign(reinterpret_cast<char *>(utf8), static_cast<size_t>(length));
  OPENSSL_free(utf8);
  return text;
}

std::string CommonName(const X509_NAME *name) {
  int at = X509_NAME_get_index_by_NID(name, NID_commonName, -1);
  if (at < 0)
    return std::string();
  return Utf8Of(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, at)));
}

void DescribeCertificate(X509 *cert, CertificateFacts *facts) {
  const X509_NAME *subject = X509_get_subject_name(cert);
  const X509_NAME *issuer = X509_get_issuer_name(cert);
  facts->subject = NameText(subject);
  facts->subjectCn = CommonName(subject);
  facts->issuer = NameText(issuer);
  facts->issuerCn = CommonName(issuer);
  const ASN1_INTEGER *serial = X509_get0_serialNumber(cert);
  facts->serial.clear();
  if (serial != nullptr) {
    // The magnitude as stored; a negative number, which only broken
    // issuers write, keeps its sign.
    if (ASN1_STRING_type(serial) == V_ASN1_NEG_INTEGER)
      facts->serial = "-";
    facts->serial += Hex(ASN1_STRING_get0_data(serial),
                         static_cast<size_t>(ASN1_STRING_length(serial)));
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned size = 0;
  if (X509_digest(cert, EVP_sha256(), digest, &size) == 1)
    facts->sha256 = Hex(digest, size);
  facts->notBefore = TimeText(X509_get0_notBefore(cert));
  facts->notAfter = TimeText(X509_get0_notAfter(cert));
}

// One TLV of DER, read by libcrypto's own decoder.
struct Tlv {
  int tag;
  int cls;
  bool constructed;
  const unsigned char *content;
  long length;
};

// The next TLV of [*p, *p + *left), definite lengths only; false at the end
// or at anything malformed.
bool NextTlv(const unsigned char **p, long *left, Tlv *tlv) {
  if (*left <= 0)
    return false;
  const unsigned char *at = *p;
  long length = 0;
  int tag = 0, cls = 0;
  int flags = ASN1_get_object(&at, &length, &tag, &cls, *left);
  if ((flags & 0x80) != 0 || (flags & 0x01) != 0) // error, or indefinite
    return false;
  long header = static_cast<long>(at - *p);
  if (length < 0 || header > *left || length > *left - header)
    return false;
  tlv->tag = tag;
  tlv->cls = cls;
  tlv->constructed = (flags & V_ASN1_CONSTRUCTED) != 0;
  tlv->content = at;
  tlv->length = length;
  *p = at + length;
  *left -= header + length;
  return true;
}

// The content octets of a DER SEQUENCE, which Authenticode's message
// digest covers (not its tag and length).
bool SequenceContent(const unsigned char *der, long length, Tlv *content) {
  return NextTlv(&der, &length, content) && content->tag == V_ASN1_SEQUENCE &&
         content->cls == V_ASN1_UNIVERSAL && content->constructed;
}

// An ASN1_TYPE that holds a SEQUENCE keeps its whole encoding.
bool SequenceBytes(const ASN1_TYPE *type, const unsigned char **der,
                   long *length) {
  if (type == nullptr || type->type != V_ASN1_SEQUENCE ||
      type->value.sequence == nullptr)
    return false;
  *der = type->value.sequence->data;
  *length = type->value.sequence->length;
  return *der != nullptr && *length > 0;
}

// SpcIndirectDataContent ::= SEQUENCE { data SpcAttributeTypeAndOptional-
// Value, messageDigest DigestInfo }: the digest the signer stated.
bool ReadIndirectDigest(const unsigned char *content, long length,
                        SignatureInfo *info) {
  Tlv data;
  if (!NextTlv(&content, &length, &data) || data.tag != V_ASN1_SEQUENCE)
    return false;
  const unsigned char *p = content;
  X509_SIG *digestInfo = d2i_X509_SIG(nullptr, &p, length);
  if (digestInfo == nullptr)
    return false;
  const X509_ALGOR *algorithm = nullptr;
  const ASN1_OCTET_STRING *digest = nullptr;
  X509_SIG_get0(digestInfo, &algorithm, &digest);
  const ASN1_OBJECT *object = nullptr;
  if (algorithm != nullptr)
    X509_ALGOR_get0(&object, nullptr, nullptr, algorithm);
  info->digest = DigestKindOf(object);
  info->digestName = info->digest != kDigestUnknown
                         ? DigestKindName(info->digest)
                         : ObjectText(object);
  if (digest != nullptr)
    info->signedDigest.assign(ASN1_STRING_get0_data(digest),
                              ASN1_STRING_get0_data(digest) +
                                  ASN1_STRING_length(digest));
  X509_SIG_free(digestInfo);
  return true;
}

// The value of the first attribute of that type in a set of them.
ASN1_TYPE *Attribute(const STACK_OF(X509_ATTRIBUTE) * attributes,
                     const char *dotted, int index = 0) {
  for (int i = 0; i < sk_X509_ATTRIBUTE_num(attributes); ++i) {
    X509_ATTRIBUTE *a = sk_X509_ATTRIBUTE_value(attributes, i);
    if (IsObject(X509_ATTRIBUTE_get0_object(a), dotted))
      return X509_ATTRIBUTE_get0_type(a, index);
  }
  return nullptr;
}

// Every value of every attribute of that type.
std::vector<ASN1_TYPE *> AttributeValues(const STACK_OF(X509_ATTRIBUTE) *
                                             attributes,
                                         const char *dotted) {
  std::vector<ASN1_TYPE *> values;
  for (int i = 0; i < sk_X509_ATTRIBUTE_num(attributes); ++i) {
    X509_ATTRIBUTE *a = sk_X509_ATTRIBUTE_value(attributes, i);
    if (!IsObject(X509_ATTRIBUTE_get0_object(a), dotted))
      continue;
    for (int j = 0; j < X509_ATTRIBUTE_count(a); ++j)
      values.push_back(X509_ATTRIBUTE_get0_type(a, j));
  }
  return values;
}

// SpcString ::= CHOICE { unicode [0] IMPLICIT BMPString, ascii [1]
// IMPLICIT IA5String }, converted to UTF-8 by libcrypto.
bool ReadSpcString(const Tlv &choice, std::string *text) {
  int type = choice.tag == 0   ? V_ASN1_BMPSTRING
             : choice.tag == 1 ? V_ASN1_IA5STRING
                               : -1;
  if (type < 0 || choice.constructed || choice.length > INT_MAX)
    return false;
  ASN1_STRING *value = ASN1_STRING_type_new(type);
  if (value == nullptr)
    return false;
  bool ok = ASN1_STRING_set(value, choice.content,
                            static_cast<int>(choice.length)) == 1;
  if (ok)
    *text = Utf8Of(value);
  ASN1_STRING_free(value);
  return ok;
}

// SpcSpOpusInfo ::= SEQUENCE { programName [0] EXPLICIT SpcString
// OPTIONAL, moreInfo [1] EXPLICIT SpcLink OPTIONAL }, where the link's
// url is [0] IMPLICIT IA5String.
void ReadOpusInfo(const STACK_OF(X509_ATTRIBUTE) * signedAttributes,
                  SignatureInfo *info) {
  const unsigned char *der;
  long length;
  Tlv outer;
  if (!SequenceBytes(Attribute(signedAttributes, kSpcSpOpusInfo), &der,
                     &length) ||
      !SequenceContent(der, length, &outer))
    return;
  const unsigned char *p = outer.content;
  long left = outer.length;
  Tlv field;
  while (NextTlv(&p, &left, &field)) {
    if (field.cls != V_ASN1_CONTEXT_SPECIFIC || !field.constructed)
      continue;
    const unsigned char *q = field.content;
    long inner = field.length;
    Tlv choice;
    if (!NextTlv(&q, &inner, &choice) || choice.cls != V_ASN1_CONTEXT_SPECIFIC)
      continue;
    if (field.tag == 0) {
      info->haveProgramName = ReadSpcString(choice, &info->programName);
    } else if (field.tag == 1 && choice.tag == 0 && !choice.constructed) {
      info->programUrl.assign(reinterpret_cast<const char *>(choice.content),
                              static_cast<size_t>(choice.length));
      info->haveProgramUrl = true;
    } else if (field.tag == 1 && choice.tag == 2 && choice.constructed) {
      const unsigned char *r = choice.content;
      long fileLeft = choice.length;
      Tlv file;
      if (NextTlv(&r, &fileLeft, &file))
        info->haveProgramUrl = ReadSpcString(file, &info->programUrl);
    }
  }
}

X509 *SignerCertificate(PKCS7 *p7, PKCS7_SIGNER_INFO *si) {
  if (!PKCS7_type_is_signed(p7) || p7->d.sign == nullptr ||
      si->issuer_and_serial == nullptr)
    return nullptr;
  return X509_find_by_issuer_and_serial(p7->d.sign->cert,
                                        si->issuer_and_serial->issuer,
                                        si->issuer_and_serial->serial);
}

std::string SignatureAlgorithm(const PKCS7_SIGNER_INFO *si) {
  const ASN1_OBJECT *object = nullptr;
  if (si->digest_enc_alg != nullptr)
    X509_ALGOR_get0(&object, nullptr, nullptr, si->digest_enc_alg);
  return ObjectText(object);
}

DigestKind SignerDigest(const PKCS7_SIGNER_INFO *si) {
  const ASN1_OBJECT *object = nullptr;
  if (si->digest_alg != nullptr)
    X509_ALGOR_get0(&object, nullptr, nullptr, si->digest_alg);
  return DigestKindOf(object);
}

// Whether a signer's signature holds: the message digest among its signed
// attributes is that of content, and the signature over those attributes
// (or, without any, over content itself) verifies with the certificate's
// key.
Verdict VerifySigner(PKCS7_SIGNER_INFO *si, X509 *cert,
                     const unsigned char *content, size_t length) {
  DigestKind kind = SignerDigest(si);
  const EVP_MD *md = DigestFor(kind);
  EVP_PKEY *key = cert != nullptr ? X509_get0_pubkey(cert) : nullptr;
  if (md == nullptr || key == nullptr || si->enc_digest == nullptr)
    return kVerdictUnknown;
  Bytes digest;
  if (!Hash(kind, content, length, &digest))
    return kVerdictUnknown;
  STACK_OF(X509_ATTRIBUTE) *attributes = PKCS7_get_signed_attributes(si);
  unsigned char *signedBytes = nullptr;
  int signedLength = 0;
  if (sk_X509_ATTRIBUTE_num(attributes) > 0) {
    ASN1_TYPE *stated = PKCS7_get_signed_attribute(si, NID_pkcs9_messageDigest);
    if (stated == nullptr || stated->type != V_ASN1_OCTET_STRING ||
        static_cast<size_t>(ASN1_STRING_length(stated->value.octet_string)) !=
            digest.size() ||
        memcmp(ASN1_STRING_get0_data(stated->value.octet_string), digest.data(),
               digest.size()) != 0)
      return kVerdictNo;
    // The attributes as signed: re-encoded as a SET OF, in DER order.
    signedLength =
        ASN1_item_i2d(reinterpret_cast<ASN1_VALUE *>(attributes), &signedBytes,
                      ASN1_ITEM_rptr(PKCS7_ATTR_VERIFY));
    if (signedLength <= 0)
      return kVerdictUnknown;
  }
  EVP_MD_CTX *context = EVP_MD_CTX_new();
  int verified = -1;
  if (context != nullptr &&
      EVP_DigestVerifyInit(context, nullptr, md, nullptr, key) == 1) {
    if (signedBytes != nullptr)
      verified = EVP_DigestVerify(
          context, ASN1_STRING_get0_data(si->enc_digest),
          static_cast<size_t>(ASN1_STRING_length(si->enc_digest)), signedBytes,
          static_cast<size_t>(signedLength));
    else
      verified = EVP_DigestVerify(
          context, ASN1_STRING_get0_data(si->enc_digest),
          static_cast<size_t>(ASN1_STRING_length(si->enc_digest)), content,
          length);
  }
  EVP_MD_CTX_free(context);
  OPENSSL_free(signedBytes);
  ERR_clear_error();
  return verified == 1 ? kVerdictYes : kVerdictNo;
}

Verdict Compare(const Bytes &a, const unsigned char *b, size_t length) {
  return a.size() == length && memcmp(a.data(), b, length) == 0 ? kVerdictYes
                                                                : kVerdictNo;
}

const char *TrustReason(int error) {
  switch (error) {
  case X509_V_ERR_CERT_HAS_EXPIRED:
    return "expired";
  case X509_V_ERR_CERT_NOT_YET_VALID:
    return "not-yet-valid";
  case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
  case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
  case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
  case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
  case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    return "unknown-issuer";
  case X509_V_ERR_CERT_REVOKED:
    return "revoked";
  case X509_V_ERR_UNABLE_TO_GET_CRL:
    return "no-crl";
  case X509_V_ERR_INVALID_PURPOSE:
  case X509_V_ERR_INVALID_CA:
    return "wrong-purpose";
  default:
    return "other";
  }
}

// What a chain is built for.
enum ChainUse { kUseCodeSigning, kUseTimeStamping };

// Whether a certificate may serve the use: an extended key usage, where
// there is one, that names it (or, on a CA, any purpose), and a key usage,
// where there is one, that allows digital signatures. An authority's own
// certificate must name time stamping: one that does not may be a code
// signer vouching for a time of its own choosing.
bool AllowsUse(X509 *cert, bool leaf, ChainUse use) {
  uint32_t wanted = use == kUseTimeStamping ? XKU_TIMESTAMP : XKU_CODE_SIGN;
  uint32_t extended = X509_get_extended_key_usage(cert);
  if (extended == UINT32_MAX && leaf && use == kUseTimeStamping)
    return false;
  if (extended != UINT32_MAX && (extended & wanted) == 0) {
    if (leaf)
      return false;
    // A CA's usage list limits its subjects, unless it allows any.
    EXTENDED_KEY_USAGE *usages = static_cast<EXTENDED_KEY_USAGE *>(
        X509_get_ext_d2i(cert, NID_ext_key_usage, nullptr, nullptr));
    bool any = false;
    for (int i = 0; i < sk_ASN1_OBJECT_num(usages); ++i)
      any = any ||
            IsObject(sk_ASN1_OBJECT_value(usages, i), kAnyExtendedKeyUsage);
    EXTENDED_KEY_USAGE_free(usages);
    if (!any)
      return false;
  }
  uint32_t signing = use == kUseTimeStamping
                         ? KU_DIGITAL_SIGNATURE | KU_NON_REPUDIATION
                         : KU_DIGITAL_SIGNATURE;
  if (leaf && (X509_get_extension_flags(cert) & EXFLAG_KUSAGE) != 0 &&
      (X509_get_key_usage(cert) & signing) == 0)
    return false;
  return true;
}

// A CRL file is taken as the revocation list of now, also when the chain
// is checked at a timestamp's time, before the list was issued.
int IgnoreCrlTimes(int ok, X509_STORE_CTX *context) {
  int error = X509_STORE_CTX_get_error(context);
  if (ok == 0 && (error == X509_V_ERR_CRL_NOT_YET_VALID ||
                  error == X509_V_ERR_CRL_HAS_EXPIRED))
    return 1;
  return ok;
}

// Builds a chain from leaf to the store's CAs at the given time, for the
// use; the reason and the library's text when it is not trusted.
TrustStatus BuildChain(const TrustStore *store, X509 *leaf,
                       STACK_OF(X509) * extra, time_t at, ChainUse use,
                       std::string *reason, std::string *detail) {
  X509_STORE_CTX *context = X509_STORE_CTX_new();
  if (context == nullptr ||
      X509_STORE_CTX_init(context, store->store, leaf, extra) != 1) {
    X509_STORE_CTX_free(context);
    *reason = "other";
    *detail = "the chain could not be built";
    return kTrustUntrusted;
  }
  X509_VERIFY_PARAM *param = X509_STORE_CTX_get0_param(context);
  X509_VERIFY_PARAM_set_time(param, at);
  if (store->haveCrls) {
    X509_VERIFY_PARAM_set_flags(param, X509_V_FLAG_CRL_CHECK);
    X509_STORE_CTX_set_verify_cb(context, IgnoreCrlTimes);
  }
  TrustStatus status = kTrustUntrusted;
  if (X509_verify_cert(context) == 1) {
    STACK_OF(X509) *chain = X509_STORE_CTX_get0_chain(context);
    bool purpose = true;
    for (int i = 0; i < sk_X509_num(chain) && purpose; ++i)
      purpose = AllowsUse(sk_X509_value(chain, i), i == 0, use);
    if (purpose)
      status = kTrustTrusted;
    else
      *reason = "wrong-purpose";
  } else {
    int error = X509_STORE_CTX_get_error(context);
    *reason = TrustReason(error);
    *detail = X509_verify_cert_error_string(error);
  }
  X509_STORE_CTX_free(context);
  ERR_clear_error();
  return status;
}

// Builds the signer's chain to the store's CAs at the given time.
void CheckTrust(const TrustStore *store, X509 *leaf, STACK_OF(X509) * extra,
                time_t at, SignatureInfo *info) {
  info->trustTime = SecondsText(at);
  info->trust = BuildChain(store, leaf, extra, at, kUseCodeSigning,
                           &info->trustReason, &info->trustDetail);
}

bool ParseSecondsText(const std::string &text, time_t *seconds) {
  struct tm parts = {};
  const char *end = strptime(text.c_str(), "%Y-%m-%dT%H:%M:%SZ", &parts);
  if (end == nullptr || *end != '\0')
    return false;
  *seconds = timegm(&parts);
  return true;
}

// Whether the CAs given vouch for a timestamp's authority, for time
// stamping, at the time it states. Its time is taken for the signer's
// chain only then: anyone can sign a token that says any time.
void CheckAuthority(const TrustStore *store, X509 *authority,
                    STACK_OF(X509) * extra, TimestampFacts *ts) {
  if (store == nullptr)
    return;
  ts->trust = kTrustUntrusted;
  time_t at = 0;
  if (ts->signatureValid == kVerdictNo || ts->imprintValid == kVerdictNo) {
    ts->trustReason = "bad-signature";
  } else if (authority == nullptr) {
    ts->trustReason = "no-signer-certificate";
  } else if (ts->signatureValid != kVerdictYes ||
             ts->imprintValid != kVerdictYes ||
             !ParseSecondsText(ts->time, &at)) {
    ts->trustReason = "other";
    ts->trustDetail = "the timestamp could not be read whole";
  } else {
    ts->trust = BuildChain(store, authority, extra, at, kUseTimeStamping,
                           &ts->trustReason, &ts->trustDetail);
  }
}

// Whether a CMS signer's signature holds, as VerifySigner asks it of a
// PKCS#7 one.
Verdict VerifyCmsSigner(CMS_SignerInfo *si, X509 *cert,
                        const unsigned char *content, size_t length) {
  X509_ALGOR *algorithm = nullptr;
  CMS_SignerInfo_get0_algs(si, nullptr, nullptr, &algorithm, nullptr);
  const ASN1_OBJECT *object = nullptr;
  if (algorithm != nullptr)
    X509_ALGOR_get0(&object, nullptr, nullptr, algorithm);
  DigestKind kind = DigestKindOf(object);
  const EVP_MD *md = DigestFor(kind);
  EVP_PKEY *key = X509_get0_pubkey(cert);
  ASN1_OCTET_STRING *signature = CMS_SignerInfo_get0_signature(si);
  Bytes digest;
  if (md == nullptr || key == nullptr || signature == nullptr ||
      !Hash(kind, content, length, &digest))
    return kVerdictUnknown;
  int verified = -1;
  if (CMS_signed_get_attr_count(si) > 0) {
    const ASN1_OCTET_STRING *stated =
        static_cast<const ASN1_OCTET_STRING *>(CMS_signed_get0_data_by_OBJ(
            si, OBJ_nid2obj(NID_pkcs9_messageDigest), -3, V_ASN1_OCTET_STRING));
    if (stated == nullptr ||
        Compare(digest, ASN1_STRING_get0_data(stated),
                static_cast<size_t>(ASN1_STRING_length(stated))) != kVerdictYes)
      return kVerdictNo;
    // The library re-encodes the attributes as they were signed.
    CMS_SignerInfo_set1_signer_cert(si, cert);
    verified = CMS_SignerInfo_verify(si);
  } else {
    EVP_MD_CTX *context = EVP_MD_CTX_new();
    if (context != nullptr &&
        EVP_DigestVerifyInit(context, nullptr, md, nullptr, key) == 1)
      verified = EVP_DigestVerify(
          context, ASN1_STRING_get0_data(signature),
          static_cast<size_t>(ASN1_STRING_length(signature)), content, length);
    EVP_MD_CTX_free(context);
  }
  ERR_clear_error();
  return verified == 1 ? kVerdictYes : kVerdictNo;
}

// An RFC 3161 token in the signer's unsigned attributes: a SignedData over
// a TSTInfo whose imprint is the digest of the signer's signature value.
// Read as CMS: Microsoft's authorities name their signer by its key
// identifier (a version 3 SignerInfo), which PKCS#7 has no form for.
void ReadRfc3161(const ASN1_TYPE *value, PKCS7_SIGNER_INFO *signer,
                 const TrustStore *store, TimestampFacts *ts) {
  const unsigned char *der;
  long length;
  if (!SequenceBytes(value, &der, &length))
    return;
  ts->present = true;
  ts->kind = "rfc3161";
  CMS_ContentInfo *token = d2i_CMS_ContentInfo(nullptr, &der, length);
  // The token's content: the TSTInfo's DER inside an OCTET STRING.
  ASN1_OCTET_STRING **content =
      token != nullptr && OBJ_obj2nid(CMS_get0_type(token)) == NID_pkcs7_signed
          ? CMS_get0_content(token)
          : nullptr;
  const unsigned char *tst = nullptr;
  size_t tstLength = 0;
  if (content != nullptr && *content != nullptr &&
      OBJ_obj2nid(CMS_get0_eContentType(token)) == NID_id_smime_ct_TSTInfo) {
    tst = ASN1_STRING_get0_data(*content);
    tstLength = static_cast<size_t>(ASN1_STRING_length(*content));
  }
  const unsigned char *p = tst;
  TS_TST_INFO *info =
      tst != nullptr
          ? d2i_TS_TST_INFO(nullptr, &p, static_cast<long>(tstLength))
          : nullptr;
  if (info != nullptr) {
    ts->time = TimeText(TS_TST_INFO_get_time(info));
    TS_MSG_IMPRINT *imprint = TS_TST_INFO_get_msg_imprint(info);
    X509_ALGOR *algorithm = TS_MSG_IMPRINT_get_algo(imprint);
    const ASN1_OBJECT *object = nullptr;
    if (algorithm != nullptr)
      X509_ALGOR_get0(&object, nullptr, nullptr, algorithm);
    DigestKind kind = DigestKindOf(object);
    ts->digest =
        kind != kDigestUnknown ? DigestKindName(kind) : ObjectText(object);
    ASN1_OCTET_STRING *stated = TS_MSG_IMPRINT_get_msg(imprint);
    Bytes digest;
    if (stated != nullptr &&
        Hash(kind, ASN1_STRING_get0_data(signer->enc_digest),
             static_cast<size_t>(ASN1_STRING_length(signer->enc_digest)),
             &digest))
      ts->imprintValid =
          Compare(digest, ASN1_STRING_get0_data(stated),
                  static_cast<size_t>(ASN1_STRING_length(stated)));
  }
  STACK_OF(CMS_SignerInfo) *signers =
      content != nullptr ? CMS_get0_SignerInfos(token) : nullptr;
  CMS_SignerInfo *tsa = sk_CMS_SignerInfo_num(signers) > 0
                            ? sk_CMS_SignerInfo_value(signers, 0)
                            : nullptr;
  // By issuer and serial number or by subject key identifier, whichever
  // the signer names it by.
  STACK_OF(X509) *certs = tsa != nullptr ? CMS_get1_certs(token) : nullptr;
  X509 *cert = nullptr;
  for (int i = 0; i < sk_X509_num(certs) && cert == nullptr; ++i)
    if (CMS_SignerInfo_cert_cmp(tsa, sk_X509_value(certs, i)) == 0)
      cert = sk_X509_value(certs, i);
  if (cert != nullptr) {
    ts->haveAuthority = true;
    DescribeCertificate(cert, &ts->authority);
    if (tst != nullptr)
      ts->signatureValid = VerifyCmsSigner(tsa, cert, tst, tstLength);
  }
  CheckAuthority(store, cert, certs, ts);
  sk_X509_pop_free(certs, X509_free);
  TS_TST_INFO_free(info);
  CMS_ContentInfo_free(token);
  ERR_clear_error();
}

// A PKCS#9 countersignature: a SignerInfo over the signer's signature
// value, its certificate among the outer SignedData's.
void ReadCountersignature(const ASN1_TYPE *value, PKCS7 *p7,
                          PKCS7_SIGNER_INFO *signer, const TrustStore *store,
                          TimestampFacts *ts) {
  const unsigned char *der;
  long length;
  if (!SequenceBytes(value, &der, &length))
    return;
  ts->present = true;
  ts->kind = "pkcs9";
  PKCS7_SIGNER_INFO *counter = d2i_PKCS7_SIGNER_INFO(nullptr, &der, length);
  X509 *cert = counter != nullptr ? SignerCertificate(p7, counter) : nullptr;
  if (counter != nullptr) {
    DigestKind kind = SignerDigest(counter);
    if (kind != kDigestUnknown)
      ts->digest = DigestKindName(kind);
    ASN1_TYPE *when =
        PKCS7_get_signed_attribute(counter, NID_pkcs9_signingTime);
    if (when != nullptr &&
        (when->type == V_ASN1_UTCTIME || when->type == V_ASN1_GENERALIZEDTIME))
      ts->time = TimeText(when->value.utctime);
  }
  if (cert != nullptr) {
    ts->haveAuthority = true;
    DescribeCertificate(cert, &ts->authority);
    // The countersignature's message digest is the imprint: checked with
    // the rest of its signature.
    ts->signatureValid = VerifySigner(
        counter, cert, ASN1_STRING_get0_data(signer->enc_digest),
        static_cast<size_t>(ASN1_STRING_length(signer->enc_digest)));
    ts->imprintValid = ts->signatureValid;
  }
  CheckAuthority(store, cert, p7->d.sign->cert, ts);
  PKCS7_SIGNER_INFO_free(counter);
}

void ReadSignedData(const unsigned char *der, size_t length,
                    const TrustStore *store, int depth,
                    std::vector<SignatureInfo> *out);

// One SignedData's signature (out->back()), then its nested ones.
void ReadOne(PKCS7 *p7, const TrustStore *store, int depth,
             std::vector<SignatureInfo> *out) {
  SignatureInfo &info = out->back();
  if (!PKCS7_type_is_signed(p7) || p7->d.sign == nullptr ||
      p7->d.sign->contents == nullptr) {
    info.problem = "not-signed-data";
    return;
  }
  PKCS7 *contents = p7->d.sign->contents;
  const unsigned char *indirect;
  long indirectLength;
  Tlv content;
  if (!IsObject(contents->type, kSpcIndirectData) ||
      !PKCS7_type_is_other(contents) ||
      !SequenceBytes(contents->d.other, &indirect, &indirectLength) ||
      !SequenceContent(indirect, indirectLength, &content) ||
      !ReadIndirectDigest(content.content, content.length, &info)) {
    info.problem = "no-indirect-data";
    return;
  }
  STACK_OF(PKCS7_SIGNER_INFO) *signers = PKCS7_get_signer_info(p7);
  if (sk_PKCS7_SIGNER_INFO_num(signers) != 1) {
    info.problem = "not-one-signer";
    return;
  }
  PKCS7_SIGNER_INFO *si = sk_PKCS7_SIGNER_INFO_value(signers, 0);
  DigestKind signerDigest = SignerDigest(si);
  const ASN1_OBJECT *digestObject = nullptr;
  if (si->digest_alg != nullptr)
    X509_ALGOR_get0(&digestObject, nullptr, nullptr, si->digest_alg);
  info.signerDigest = signerDigest != kDigestUnknown
                          ? DigestKindName(signerDigest)
                          : ObjectText(digestObject);
  info.signatureAlgorithm = SignatureAlgorithm(si);
  X509 *cert = SignerCertificate(p7, si);
  if (cert != nullptr) {
    info.haveSigner = true;
    DescribeCertificate(cert, &info.signer);
    info.signatureValid = VerifySigner(si, cert, content.content,
                                       static_cast<size_t>(content.length));
  } else {
    info.problem = "no-signer-certificate";
  }
  ReadOpusInfo(PKCS7_get_signed_attributes(si), &info);

  const STACK_OF(X509_ATTRIBUTE) *unsignedAttributes = si->unauth_attr;
  ASN1_TYPE *token = Attribute(unsignedAttributes, kSpcRfc3161Timestamp);
  if (token != nullptr) {
    ReadRfc3161(token, si, store, &info.timestamp);
  } else {
    ASN1_TYPE *counter = PKCS7_get_attribute(si, NID_pkcs9_countersignature);
    if (counter != nullptr)
      ReadCountersignature(counter, p7, si, store, &info.timestamp);
  }

  if (store != nullptr) {
    if (cert == nullptr) {
      info.trust = kTrustUntrusted;
      info.trustReason = "no-signer-certificate";
    } else if (info.signatureValid != kVerdictYes) {
      info.trust = kTrustUntrusted;
      info.trustReason = "bad-signature";
    } else {
      // At the timestamp's time where one that verifies, from an authority
      // the CAs vouch for, says when it was signed.
      time_t at = time(nullptr);
      const TimestampFacts &ts = info.timestamp;
      if (ts.present && ts.trust == kTrustTrusted)
        ParseSecondsText(ts.time, &at);
      CheckTrust(store, cert, p7->d.sign->cert, at, &info);
    }
  }

  // Nested signatures: each value a whole SignedData of its own.
  if (depth >= kMaxNestingDepth)
    return;
  for (ASN1_TYPE *nested :
       AttributeValues(unsignedAttributes, kSpcNestedSignature)) {
    const unsigned char *der;
    long length;
    if (out->size() >= kMaxSignatures)
      break;
    if (SequenceBytes(nested, &der, &length))
      ReadSignedData(der, static_cast<size_t>(length), store, depth + 1, out);
  }
}

void ReadSignedData(const unsigned char *der, size_t length,
                    const TrustStore *store, int depth,
                    std::vector<SignatureInfo> *out) {
  out->push_back(SignatureInfo());
  out->back().depth = depth;
  if (length > LONG_MAX) {
    out->back().problem = "not-pkcs7";
    return;
  }
  const unsigned char *p = der;
  PKCS7 *p7 = d2i_PKCS7(nullptr, &p, static_cast<long>(length));
  if (p7 == nullptr) {
    out->back().problem = "not-pkcs7";
  } else {
    ReadOne(p7, store, depth, out);
    PKCS7_free(p7);
  }
  ERR_clear_error();
}

// The bytes of a CA or CRL file, which must be a regular file: a FIFO
// would hold the run up for ever, and a device is no file of certificates.
// Its type is asked before it is opened (opening a device may do
// something), and again of the open file, opened without blocking, so
// that nothing swapped in between is read.
// The largest CA or CRL file read, and the largest entry of a hashed CA
// folder: Debian's whole CA bundle is a fifth of a megabyte.
const off_t kMaxTrustFile = 16 << 20;

enum TrustFileRead {
  kTrustFileOk,
  kTrustFileUnreadable,
  kTrustFileNotRegular,
  kTrustFileTooLarge
};
TrustFileRead ReadTrustFile(const char *path, Bytes *bytes) {
  bytes->clear();
  struct stat st;
  if (stat(path, &st) != 0)
    return kTrustFileUnreadable;
  if (!S_ISREG(st.st_mode))
    return kTrustFileNotRegular;
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return kTrustFileUnreadable;
  TrustFileRead result = kTrustFileOk;
  if (fstat(fd, &st) != 0)
    result = kTrustFileUnreadable;
  else if (!S_ISREG(st.st_mode))
    result = kTrustFileNotRegular;
  else if (st.st_size > kMaxTrustFile)
    result = kTrustFileTooLarge;
  if (result == kTrustFileOk) {
    bytes->resize(static_cast<size_t>(st.st_size));
    if (!ReadFileRange(fd, 0, bytes->data(), bytes->size())) {
      bytes->clear();
      result = kTrustFileUnreadable;
    }
  }
  close(fd);
  return result;
}

bool ReadTrustFileOrSay(const char *path, const char *what, Bytes *bytes,
                        std::string *error) {
  switch (ReadTrustFile(path, bytes)) {
  case kTrustFileOk:
    return true;
  case kTrustFileTooLarge:
    *error = std::string("the ") + what + " " + path + " is too large";
    return false;
  case kTrustFileNotRegular:
    *error = std::string("the ") + what + " " + path +
             " is not a regular file (a folder, a device or a pipe)";
    return false;
  case kTrustFileUnreadable:
    break;
  }
  *error = std::string("cannot read the ") + what + " " + path;
  return false;
}

// The PEM blocks of a file that libcrypto knows (certificates, CRLs,
// keys); null when the text is no PEM at all.
STACK_OF(X509_INFO) * PemBlocks(const Bytes &bytes) {
  if (bytes.empty() || bytes.size() > INT_MAX)
    return nullptr;
  BIO *bio = BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size()));
  if (bio == nullptr)
    return nullptr;
  STACK_OF(X509_INFO) *blocks =
      PEM_X509_INFO_read_bio(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  return blocks;
}

// The CA file: PEM certificates (and the CRLs a bundle may carry with
// them, as before), at least one certificate.
bool LoadCaFile(X509_STORE *store, const char *path, std::string *error) {
  Bytes bytes;
  if (!ReadTrustFileOrSay(path, "CA file", &bytes, error))
    return false;
  STACK_OF(X509_INFO) *blocks = PemBlocks(bytes);
  size_t certificates = 0;
  bool added = true;
  for (int i = 0; i < sk_X509_INFO_num(blocks); ++i) {
    X509_INFO *block = sk_X509_INFO_value(blocks, i);
    if (block->x509 != nullptr) {
      added = added && X509_STORE_add_cert(store, block->x509) == 1;
      ++certificates;
    }
    if (block->crl != nullptr)
      added = added && X509_STORE_add_crl(store, block->crl) == 1;
  }
  sk_X509_INFO_pop_free(blocks, X509_INFO_free);
  if (certificates == 0) {
    *error = std::string("the CA file ") + path + " holds no PEM certificate";
    return false;
  }
  if (!added) {
    *error = std::string("cannot load the CA file ") + path;
    return false;
  }
  return true;
}

// The CRL file: its revocation lists, PEM or DER, and nothing else. A
// certificate in it is no CA (a file of revocations must not make
// anything trusted): it is left out, and the caller told.
bool LoadCrlFile(X509_STORE *store, const char *path,
                 std::vector<std::string> *notes, std::string *error) {
  Bytes bytes;
  if (!ReadTrustFileOrSay(path, "CRL file", &bytes, error))
    return false;
  size_t crls = 0, certificates = 0;
  bool added = true;
  STACK_OF(X509_INFO) *blocks = PemBlocks(bytes);
  for (int i = 0; i < sk_X509_INFO_num(blocks); ++i) {
    X509_INFO *block = sk_X509_INFO_value(blocks, i);
    if (block->crl != nullptr) {
      added = added && X509_STORE_add_crl(store, block->crl) == 1;
      ++crls;
    }
    if (block->x509 != nullptr)
      ++certificates;
  }
  sk_X509_INFO_pop_free(blocks, X509_INFO_free);
  if (crls == 0 && certificates == 0 && bytes.size() <= LONG_MAX) {
    // One DER object: a CRL, or a certificate given by mistake.
    const unsigned char *p = bytes.data();
    X509_CRL *crl = d2i_X509_CRL(nullptr, &p, static_cast<long>(bytes.size()));
    if (crl != nullptr) {
      added = X509_STORE_add_crl(store, crl) == 1;
      ++crls;
      X509_CRL_free(crl);
    } else {
      p = bytes.data();
      X509 *cert = d2i_X509(nullptr, &p, static_cast<long>(bytes.size()));
      if (cert != nullptr)
        ++certificates;
      X509_free(cert);
    }
  }
  ERR_clear_error();
  if (certificates != 0)
    notes->push_back("the CRL file " + std::string(path) + " holds " +
                     std::to_string(certificates) +
                     (certificates == 1 ? " certificate" : " certificates") +
                     ", ignored: CAs come from --ca-file and --ca-path only");
  if (crls == 0) {
    *error = std::string("the CRL file ") + path +
             " holds no certificate revocation list (PEM or DER)";
    return false;
  }
  if (!added) {
    *error = std::string("cannot load the CRL file ") + path;
    return false;
  }
  return true;
}

} // namespace

Digester *StartDigester(DigestKind kind) {
  const EVP_MD *md = DigestFor(kind);
  if (md == nullptr)
    return nullptr;
  Digester *d = new (std::nothrow) Digester{EVP_MD_CTX_new()};
  if (d == nullptr)
    return nullptr;
  if (d->context == nullptr ||
      EVP_DigestInit_ex(d->context, md, nullptr) != 1) {
    EVP_MD_CTX_free(d->context);
    delete d;
    return nullptr;
  }
  return d;
}

void FeedDigester(Digester *d, const unsigned char *bytes, size_t length) {
  EVP_DigestUpdate(d->context, bytes, length);
}

void FinishDigester(Digester *d, std::vector<unsigned char> *digest) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned size = 0;
  digest->clear();
  if (EVP_DigestFinal_ex(d->context, out, &size) == 1)
    digest->assign(out, out + size);
  EVP_MD_CTX_free(d->context);
  delete d;
}

// Whether a name is one libcrypto looks up in a hashed CA folder: eight
// hexadecimal digits, a dot, an "r" for a CRL, and a number.
bool IsHashedName(const char *name) {
  size_t i = 0;
  for (; i < 8; ++i)
    if (!isxdigit(static_cast<unsigned char>(name[i])))
      return false;
  if (name[i++] != '.')
    return false;
  if (name[i] == 'r')
    ++i;
  if (!isdigit(static_cast<unsigned char>(name[i])))
    return false;
  while (isdigit(static_cast<unsigned char>(name[i])))
    ++i;
  return name[i] == '\0';
}

// libcrypto opens a hashed folder's entries when a chain asks for them,
// with a blocking open and a read to the end: an entry that is a FIFO, a
// device or a file past any certificate's size would hold the run up at
// that moment. They are looked for now, links followed, and the first one
// named. False when the folder cannot be listed.
bool FindUnfitHashedEntry(const char *folder, std::string *unfit) {
  unfit->clear();
  DIR *dir = opendir(folder);
  if (dir == nullptr)
    return false;
  while (const struct dirent *entry = readdir(dir)) {
    if (!IsHashedName(entry->d_name))
      continue;
    struct stat st;
    if (fstatat(dirfd(dir), entry->d_name, &st, 0) != 0)
      continue; // a dangling link: libcrypto's open fails, nothing waits
    if (!S_ISREG(st.st_mode) || st.st_size > kMaxTrustFile) {
      *unfit = entry->d_name;
      break;
    }
  }
  closedir(dir);
  return true;
}

TrustStore *OpenTrustStore(const char *caFile, const char *caPath,
                           const char *crlFile, std::vector<std::string> *notes,
                           std::string *error) {
  X509_STORE *store = X509_STORE_new();
  if (store == nullptr) {
    *error = "out of memory";
    return nullptr;
  }
  bool ok = caFile == nullptr || LoadCaFile(store, caFile, error);
  // The folder is looked in lazily, certificate by certificate: whether it
  // can be looked in at all is asked now.
  struct stat folder;
  std::string unfit;
  if (ok && caPath != nullptr &&
      (stat(caPath, &folder) != 0 || !S_ISDIR(folder.st_mode) ||
       access(caPath, R_OK | X_OK) != 0 ||
       !FindUnfitHashedEntry(caPath, &unfit) ||
       X509_STORE_load_path(store, caPath) != 1)) {
    *error = std::string("cannot read the CA folder ") + caPath;
    ok = false;
  }
  if (ok && !unfit.empty()) {
    *error = std::string("the CA folder ") + caPath + " holds " + unfit +
             ", which is no regular file of at most 16 MiB (a FIFO or a "
             "device would hold the run up when a chain looks in it)";
    ok = false;
  }
  if (ok && crlFile != nullptr)
    ok = LoadCrlFile(store, crlFile, notes, error);
  ERR_clear_error();
  if (!ok) {
    X509_STORE_free(store);
    return nullptr;
  }
  TrustStore *trust = new (std::nothrow) TrustStore{store, crlFile != nullptr};
  if (trust == nullptr) {
    X509_STORE_free(store);
    *error = "out of memory";
  }
  return trust;
}

void CloseTrustStore(TrustStore *store) {
  if (store == nullptr)
    return;
  X509_STORE_free(store->store);
  delete store;
}

void ReadSignatures(const unsigned char *der, size_t length,
                    const TrustStore *store,
                    std::vector<SignatureInfo> *signatures) {
  ReadSignedData(der, length, store, 0, signatures);
}

namespace {

// CertificateTrustList ::= SEQUENCE { version INTEGER OPTIONAL,
// subjectUsage SEQUENCE OF OID, listIdentifier OCTET STRING OPTIONAL,
// sequenceNumber INTEGER OPTIONAL, ctlThisUpdate Time, ctlNextUpdate
// Time OPTIONAL, subjectAlgorithm AlgorithmIdentifier, trustedSubjects
// SEQUENCE OF TrustedSubject OPTIONAL, ctlExtensions [0] OPTIONAL }.
// The members are the one SEQUENCE after the algorithm's.
bool ReadTrustList(const unsigned char *der, long length,
                   std::vector<CatalogMember> *members) {
  Tlv list;
  if (!SequenceContent(der, length, &list))
    return false;
  const unsigned char *p = list.content;
  long left = list.length;
  Tlv field;
  int sequences = 0; // subjectUsage, subjectAlgorithm, trustedSubjects
  while (NextTlv(&p, &left, &field)) {
    if (field.cls != V_ASN1_UNIVERSAL || field.tag != V_ASN1_SEQUENCE)
      continue;
    if (++sequences < 3)
      continue;
    const unsigned char *q = field.content;
    long subjects = field.length;
    Tlv subject;
    // TrustedSubject ::= SEQUENCE { subjectIdentifier OCTET STRING,
    // subjectAttributes SET OF Attribute }; the member's hash is in its
    // SpcIndirectDataContent attribute.
    while (NextTlv(&q, &subjects, &subject)) {
      const unsigned char *r = subject.content;
      long inner = subject.length;
      Tlv identifier, attributes;
      if (!NextTlv(&r, &inner, &identifier) ||
          !NextTlv(&r, &inner, &attributes) || attributes.tag != V_ASN1_SET)
        continue;
      const unsigned char *s = attributes.content;
      long attributesLeft = attributes.length;
      Tlv attribute;
      while (NextTlv(&s, &attributesLeft, &attribute)) {
        const unsigned char *a = attribute.content;
        ASN1_OBJECT *type = d2i_ASN1_OBJECT(nullptr, &a, attribute.length);
        bool indirect = IsObject(type, kSpcIndirectData);
        ASN1_OBJECT_free(type);
        long valuesLeft =
            attribute.length - static_cast<long>(a - attribute.content);
        Tlv values, value;
        if (!indirect || !NextTlv(&a, &valuesLeft, &values) ||
            values.tag != V_ASN1_SET)
          continue;
        const unsigned char *v = values.content;
        long valueLeft = values.length;
        while (NextTlv(&v, &valueLeft, &value)) {
          if (value.tag != V_ASN1_SEQUENCE)
            continue;
          SignatureInfo digest;
          if (ReadIndirectDigest(value.content, value.length, &digest) &&
              digest.digest != kDigestUnknown)
            members->push_back({digest.digest, digest.signedDigest});
        }
      }
    }
    return true;
  }
  return true; // a list without members
}

} // namespace

bool ReadCatalog(const unsigned char *der, size_t length,
                 const TrustStore *store, SignatureInfo *signer,
                 std::vector<CatalogMember> *members) {
  *signer = SignatureInfo();
  members->clear();
  if (length > LONG_MAX)
    return false;
  const unsigned char *p = der;
  PKCS7 *p7 = d2i_PKCS7(nullptr, &p, static_cast<long>(length));
  bool ok = false;
  PKCS7 *contents =
      p7 != nullptr && PKCS7_type_is_signed(p7) && p7->d.sign != nullptr
          ? p7->d.sign->contents
          : nullptr;
  STACK_OF(PKCS7_SIGNER_INFO) *signers =
      contents != nullptr ? PKCS7_get_signer_info(p7) : nullptr;
  if (contents != nullptr && IsObject(contents->type, kCertificateTrustList) &&
      PKCS7_type_is_other(contents) && sk_PKCS7_SIGNER_INFO_num(signers) == 1) {
    // The list is the content itself, as PKCS#7 carries it, or inside an
    // OCTET STRING, as CMS signers put any content.
    const ASN1_TYPE *other = contents->d.other;
    const unsigned char *list = nullptr, *signedPart = nullptr;
    long listLength = 0;
    size_t signedLength = 0;
    Tlv sequence;
    if (SequenceBytes(other, &list, &listLength) &&
        SequenceContent(list, listLength, &sequence)) {
      signedPart = sequence.content;
      signedLength = static_cast<size_t>(sequence.length);
    } else if (other != nullptr && other->type == V_ASN1_OCTET_STRING) {
      list = ASN1_STRING_get0_data(other->value.octet_string);
      listLength = ASN1_STRING_length(other->value.octet_string);
      signedPart = list;
      signedLength = static_cast<size_t>(listLength);
    }
    if (list != nullptr && ReadTrustList(list, listLength, members)) {
      ok = true;
      PKCS7_SIGNER_INFO *si = sk_PKCS7_SIGNER_INFO_value(signers, 0);
      DigestKind kind = SignerDigest(si);
      signer->signerDigest = kind != kDigestUnknown ? DigestKindName(kind) : "";
      signer->signatureAlgorithm = SignatureAlgorithm(si);
      X509 *cert = SignerCertificate(p7, si);
      if (cert != nullptr) {
        signer->haveSigner = true;
        DescribeCertificate(cert, &signer->signer);
        signer->signatureValid =
            VerifySigner(si, cert, signedPart, signedLength);
        if (store != nullptr && signer->signatureValid == kVerdictYes)
          CheckTrust(store, cert, p7->d.sign->cert, time(nullptr), signer);
      } else {
        signer->problem = "no-signer-certificate";
      }
    }
  }
  PKCS7_free(p7);
  ERR_clear_error();
  return ok;
}
