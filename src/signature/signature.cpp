// The signature service's flow, the same on every platform: the reader
// says where the table and the digest's bytes are, the platform's
// cryptography reads the signatures, and the file is read once, in order,
// for the checksum and every digest at the same time.
#include "signature.h"

#include <stdlib.h>
#include <string.h>

#include <memory>
#include <new>
#include <unordered_map>

#include "cert_table.h"
#include "crypto.h"
#include "exe_layout.h"

struct SignatureSetup {
  TrustStore *trust; // null: no CA given
  // The catalogs read, and each member hash (its kind's byte in front)
  // to the catalog that lists it first.
  struct Catalog {
    std::string name;
    SignatureInfo signer;
  };
  std::vector<Catalog> catalogs;
  std::unordered_map<std::string, size_t> members;
  bool kinds[kDigestSha512 + 1]; // the kinds any member is hashed with
  CatalogCounts counts;
};

namespace {

std::string MemberKey(DigestKind kind, const std::vector<unsigned char> &hash) {
  std::string key(1, static_cast<char>(kind));
  key.append(hash.begin(), hash.end());
  return key;
}

// The digests one pass computes: one per algorithm asked for.
struct DigestRun {
  DigestKind kind;
  Digester *digester;
  std::vector<unsigned char> result;
};

// Feeds each digest the part of [offset, offset + length) that the hashed
// ranges cover, from range *next on; ranges are in file order.
void FeedRanges(const PeSignatureLayout &layout, size_t *next, uint64_t offset,
                const unsigned char *bytes, size_t length,
                std::vector<DigestRun> *runs) {
  uint64_t end = offset + length;
  while (*next < layout.hashed.size()) {
    const HashRange &r = layout.hashed[*next];
    uint64_t from = r.offset > offset ? r.offset : offset;
    uint64_t to = r.offset + r.length < end ? r.offset + r.length : end;
    if (r.offset >= end)
      return;
    if (from < to)
      for (DigestRun &run : *runs)
        FeedDigester(run.digester, bytes + (from - offset),
                     static_cast<size_t>(to - from));
    if (r.offset + r.length > end)
      return; // the range goes on in the next piece
    ++*next;
  }
}

// One pass through the file: the checksum of every byte and, when the
// ranges come in file order, the digests of theirs. Ranges out of order
// (sections sharing raw data) are read again, range by range. False when
// the file cannot be read whole.
bool StreamFile(ByteSource *src, const PeSignatureLayout &layout,
                std::vector<DigestRun> *runs, uint32_t *checksum) {
  // A piece no larger than the file: most files are far smaller than the
  // largest piece, and the buffer is neither cleared nor kept.
  const size_t kLargestPiece = 1u << 20;
  const size_t kPiece = src->size < kLargestPiece
                            ? static_cast<size_t>(src->size < 8 ? 8 : src->size)
                            : kLargestPiece;
  std::unique_ptr<unsigned char[]> owned(
      new (std::nothrow) unsigned char[kPiece]);
  unsigned char *buffer = owned.get();
  if (buffer == nullptr)
    return false;
  PeChecksum sum;
  StartChecksum(&sum, layout.checksumOffset);
  bool inOrder = HashRangesInFileOrder(layout);
  size_t next = 0;
  for (uint64_t at = 0; at < src->size;) {
    size_t piece =
        src->size - at < kPiece ? static_cast<size_t>(src->size - at) : kPiece;
    if (!ReadAt(src, at, buffer, piece))
      return false;
    AddToChecksum(&sum, at, buffer, piece);
    if (inOrder)
      FeedRanges(layout, &next, at, buffer, piece, runs);
    at += piece;
  }
  *checksum = FinishChecksum(&sum);
  if (!inOrder) {
    for (const HashRange &r : layout.hashed)
      for (uint64_t done = 0; done < r.length;) {
        size_t piece = r.length - done < kPiece
                           ? static_cast<size_t>(r.length - done)
                           : kPiece;
        if (!ReadAt(src, r.offset + done, buffer, piece))
          return false;
        for (DigestRun &run : *runs)
          FeedDigester(run.digester, buffer, piece);
        done += piece;
      }
  }
  static const unsigned char kZeros[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  for (DigestRun &run : *runs)
    FeedDigester(run.digester, kZeros, layout.hashPadding);
  return true;
}

void AddKind(std::vector<DigestRun> *runs, DigestKind kind) {
  if (kind == kDigestUnknown)
    return;
  for (const DigestRun &run : *runs)
    if (run.kind == kind)
      return;
  Digester *d = StartDigester(kind);
  if (d != nullptr)
    runs->push_back({kind, d, {}});
}

const std::vector<unsigned char> *ResultFor(const std::vector<DigestRun> &runs,
                                            DigestKind kind) {
  for (const DigestRun &run : runs)
    if (run.kind == kind && !run.result.empty())
      return &run.result;
  return nullptr;
}

void CopyTable(const PeSignatureLayout &layout, SignatureFacts *facts) {
  facts->haveTable = layout.table != kCertTableAbsent;
  facts->tableOffset = layout.tableOffset;
  facts->tableSize = layout.tableSize;
  for (const CertEntry &e : layout.entries)
    facts->entries.push_back(
        {e.offset, e.length, e.revision, e.type, e.aligned});
  facts->trailingBytes = layout.trailingBytes;
  facts->unhashedBytes = layout.unhashedBytes;
  facts->storedChecksum = layout.storedChecksum;
}

// The signatures of every PKCS#7 entry: the first is the one Windows
// reads; UEFI firmware reads them all (shim carries one per Microsoft CA).
// The first's fault is the file's.
void ReadTableSignatures(ByteSource *src, const PeSignatureLayout &layout,
                         const SignatureSetup *setup, SignatureFacts *facts) {
  const size_t kMaxEntrySignatures = 8;
  size_t read = 0;
  for (const CertEntry &e : layout.entries) {
    if (e.type != kWinCertTypePkcsSignedData || read == kMaxEntrySignatures)
      continue;
    std::vector<unsigned char> blob;
    if (!ReadCertificateBlob(src, e, &blob)) {
      if (read == 0) {
        facts->status = kSignatureMalformed;
        facts->problem = "signature-too-large";
        return;
      }
      continue;
    }
    size_t first = facts->signatures.size();
    ReadSignatures(blob.data(), blob.size(),
                   setup != nullptr ? setup->trust : nullptr,
                   &facts->signatures);
    if (read++ == 0) {
      facts->status = kSignatureSigned;
      if (!facts->signatures[first].problem.empty()) {
        facts->status = kSignatureMalformed;
        facts->problem = facts->signatures[first].problem;
      }
    }
  }
  if (read == 0) {
    facts->status = kSignatureMalformed;
    facts->problem = "no-pkcs7-entry";
  }
}

// A file without a signature of its own, looked up among the catalogs by
// its Authentihash in each kind they hash with.
void LookUpCatalogs(const SignatureSetup *setup,
                    const std::vector<DigestRun> &runs, SignatureFacts *facts) {
  for (const DigestRun &run : runs) {
    auto found = setup->members.find(MemberKey(run.kind, run.result));
    if (found == setup->members.end())
      continue;
    const SignatureSetup::Catalog &c = setup->catalogs[found->second];
    facts->status = kSignatureCatalog;
    facts->catalogName = c.name;
    facts->catalogDigest = run.kind;
    facts->catalogHash = run.result;
    facts->haveCatalogSigner = c.signer.haveSigner;
    facts->catalogSigner = c.signer.signer;
    facts->catalogTrust = c.signer.trust;
    facts->catalogTrustReason = c.signer.trustReason;
    return;
  }
}

} // namespace

SignatureSetup *OpenSignatureSetup(const SignatureOptions &options,
                                   std::string *error) {
  SignatureSetup *setup = new (std::nothrow) SignatureSetup();
  if (setup == nullptr) {
    *error = "out of memory";
    return nullptr;
  }
  if (options.caFile != nullptr || options.caPath != nullptr ||
      options.crlFile != nullptr) {
    setup->trust =
        OpenTrustStore(options.caFile, options.caPath, options.crlFile, error);
    if (setup->trust == nullptr) {
      delete setup;
      return nullptr;
    }
  }
  return setup;
}

void CloseSignatureSetup(SignatureSetup *setup) {
  if (setup == nullptr)
    return;
  CloseTrustStore(setup->trust);
  delete setup;
}

void AddCatalog(SignatureSetup *setup, const char *name, ByteSource *src) {
  std::vector<unsigned char> bytes;
  SignatureInfo signer;
  std::vector<CatalogMember> members;
  if (src->size == 0 || src->size > kMaxCatalogSize) {
    ++setup->counts.rejected;
    return;
  }
  bytes.resize(static_cast<size_t>(src->size));
  if (!ReadAt(src, 0, bytes.data(), bytes.size()) ||
      !ReadCatalog(bytes.data(), bytes.size(), setup->trust, &signer,
                   &members) ||
      signer.signatureValid != kVerdictYes) {
    ++setup->counts.rejected;
    return;
  }
  size_t index = setup->catalogs.size();
  setup->catalogs.push_back({name, signer});
  ++setup->counts.read;
  for (const CatalogMember &m : members) {
    // The first catalog to list a hash is the one reported.
    if (setup->members.emplace(MemberKey(m.kind, m.digest), index).second)
      ++setup->counts.members;
    setup->kinds[m.kind] = true;
  }
}

CatalogCounts CountCatalogs(const SignatureSetup *setup) {
  return setup->counts;
}

void ExamineSignature(ByteSource *src, const SignatureSetup *setup,
                      SignatureFacts *facts) {
  *facts = SignatureFacts();
  PeSignatureLayout layout;
  ReadSignatureLayout(src, &layout);
  if (layout.table == kCertTableReadFailed) {
    facts->status = kSignatureUnreadable;
    facts->problem = "read-failed";
    return;
  }
  if (!layout.isPe) {
    facts->status = kSignatureNotPe;
    return;
  }
  CopyTable(layout, facts);
  switch (layout.table) {
  case kCertTableAbsent:
    facts->status = kSignatureNone;
    break;
  case kCertTableOk:
    ReadTableSignatures(src, layout, setup, facts);
    break;
  default:
    facts->status = kSignatureMalformed;
    facts->problem = CertTableStateName(layout.table);
    break;
  }
  if (layout.hash != kHashLayoutOk && facts->problem.empty())
    facts->problem = HashLayoutStateName(layout.hash);

  // The digests to compute: every signature's, and for a file without
  // one, those the catalogs list hashes in.
  std::vector<DigestRun> runs;
  if (layout.hash == kHashLayoutOk) {
    for (const SignatureInfo &s : facts->signatures)
      AddKind(&runs, s.digest);
    // Strongest first: the catalog lookup takes the first that matches.
    if (facts->status == kSignatureNone && setup != nullptr)
      for (int kind = kDigestSha512; kind >= kDigestMd5; --kind)
        if (setup->kinds[kind])
          AddKind(&runs, static_cast<DigestKind>(kind));
  }
  uint32_t checksum = 0;
  bool read = StreamFile(src, layout, &runs, &checksum);
  for (DigestRun &run : runs)
    FinishDigester(run.digester, &run.result);
  if (!read) {
    facts->status = kSignatureUnreadable;
    facts->problem = "read-failed";
    facts->signatures.clear();
    return;
  }
  facts->haveChecksum = true;
  facts->computedChecksum = checksum;
  for (SignatureInfo &s : facts->signatures) {
    const std::vector<unsigned char> *computed = ResultFor(runs, s.digest);
    if (computed == nullptr)
      continue;
    s.computedDigest = *computed;
    s.integrity = *computed == s.signedDigest ? kVerdictYes : kVerdictNo;
    // A chain that holds vouches for a file only while the file is the
    // one signed.
    if (s.integrity == kVerdictNo && s.trust == kTrustTrusted) {
      s.trust = kTrustUntrusted;
      s.trustReason = "bad-digest";
    }
  }
  if (facts->status == kSignatureNone && setup != nullptr)
    LookUpCatalogs(setup, runs, facts);
}
