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
  std::vector<std::string> notes; // what the user is told of the setup
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

void FeedAll(std::vector<DigestRun> *runs, const unsigned char *bytes,
             size_t length) {
  for (DigestRun &run : *runs)
    FeedDigester(run.digester, bytes, length);
}

// Where the digests stand in their ranges: the range they read next, and
// how much of it they have read.
struct RangeCursor {
  size_t next;
  uint64_t done;
};

// Feeds the digests, in the ranges' order, every byte they read up to the
// end of the piece [offset, offset + length) the pass holds. A range that
// goes back to bytes the pass has left behind (sections that share raw
// data) has those read again into side; the layout bounds the ranges'
// total by twice the file's size, and so what is read again. False when
// such a read fails.
bool FeedRanges(ByteSource *src, const PeSignatureLayout &layout,
                RangeCursor *at, uint64_t offset, const unsigned char *bytes,
                size_t length, unsigned char *side, size_t sideSize,
                std::vector<DigestRun> *runs) {
  uint64_t end = offset + length;
  while (at->next < layout.hashed.size()) {
    const HashRange &r = layout.hashed[at->next];
    uint64_t from = r.offset + at->done;
    uint64_t rangeEnd = r.offset + r.length;
    if (from >= end)
      return true; // the range goes on in a later piece
    if (from < offset) {
      uint64_t to = rangeEnd < offset ? rangeEnd : offset;
      size_t piece =
          to - from < sideSize ? static_cast<size_t>(to - from) : sideSize;
      if (side == nullptr || !ReadAt(src, from, side, piece))
        return false;
      FeedAll(runs, side, piece);
      at->done += piece;
    } else {
      uint64_t to = rangeEnd < end ? rangeEnd : end;
      FeedAll(runs, bytes + (from - offset), static_cast<size_t>(to - from));
      at->done += to - from;
    }
    if (at->done == r.length) {
      ++at->next;
      at->done = 0;
    }
  }
  return true;
}

// One pass through the file, in order: the checksum of every byte and the
// digests of the ranges, the same pieces serving both. No range is read
// when no digest is wanted. False when the file cannot be read whole.
bool StreamFile(ByteSource *src, const PeSignatureLayout &layout,
                std::vector<DigestRun> *runs, uint32_t *checksum) {
  // A piece no larger than the file: most files are far smaller than the
  // largest piece, and the buffer is neither cleared nor kept. Ranges that
  // go back are read again in side pieces of their own.
  const size_t kLargestPiece = 1u << 20;
  const size_t kSidePiece = 64u << 10;
  const size_t kPiece = src->size < kLargestPiece
                            ? static_cast<size_t>(src->size < 8 ? 8 : src->size)
                            : kLargestPiece;
  bool wantRanges = !runs->empty() && !layout.hashed.empty();
  size_t sideSize =
      wantRanges && !HashRangesInFileOrder(layout) ? kSidePiece : 0;
  std::unique_ptr<unsigned char[]> owned(
      new (std::nothrow) unsigned char[kPiece + sideSize]);
  unsigned char *buffer = owned.get();
  if (buffer == nullptr)
    return false;
  unsigned char *side = sideSize != 0 ? buffer + kPiece : nullptr;
  PeChecksum sum;
  StartChecksum(&sum, layout.checksumOffset);
  RangeCursor cursor = {0, 0};
  for (uint64_t at = 0; at < src->size;) {
    size_t piece =
        src->size - at < kPiece ? static_cast<size_t>(src->size - at) : kPiece;
    if (!ReadAt(src, at, buffer, piece))
      return false;
    AddToChecksum(&sum, at, buffer, piece);
    if (wantRanges && !FeedRanges(src, layout, &cursor, at, buffer, piece, side,
                                  sideSize, runs))
      return false;
    at += piece;
  }
  *checksum = FinishChecksum(&sum);
  if (wantRanges && cursor.next != layout.hashed.size())
    return false; // a range past the end of the file: none is made so
  static const unsigned char kZeros[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  FeedAll(runs, kZeros, layout.hashPadding);
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
    // What follows the DER in the entry is signed by nothing; the nested
    // signatures share the entry, and Windows' strict check refuses it
    // whole.
    uint64_t extent = 0;
    if (DerExtent(blob.data(), blob.size(), &extent) && extent < blob.size() &&
        !OnlyAlignmentPadding(blob.data() + extent,
                              static_cast<size_t>(blob.size() - extent)))
      for (size_t i = first; i < facts->signatures.size(); ++i)
        facts->signatures[i].bytesAfterSignature = blob.size() - extent;
    if (read++ == 0) {
      facts->status = kSignatureSigned;
      if (!facts->signatures[first].problem.empty()) {
        facts->status = kSignatureMalformed;
        facts->problem = facts->signatures[first].problem;
      } else if (facts->signatures[first].bytesAfterSignature != 0) {
        facts->problem = "data-after-signature";
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
    setup->trust = OpenTrustStore(options.caFile, options.caPath,
                                  options.crlFile, &setup->notes, error);
    if (setup->trust == nullptr) {
      delete setup;
      return nullptr;
    }
  }
  // Revocations alone vouch for nothing: without a CA no chain is checked,
  // though the CRL file was read, so that a bad one still stops the run.
  if (options.caFile == nullptr && options.caPath == nullptr) {
    CloseTrustStore(setup->trust);
    setup->trust = nullptr;
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
  CatalogCounts &counts = setup->counts;
  // The outer SEQUENCE's length says how much to read, before anything is
  // read: junk, a length past the file or over the bound costs a few bytes.
  unsigned char head[6];
  size_t headLength =
      src->size < sizeof head ? static_cast<size_t>(src->size) : sizeof head;
  if (!ReadAt(src, 0, head, headLength)) {
    ++counts.readFailed;
    ++counts.unreadable;
    return;
  }
  const unsigned char kSequence = 0x30;
  uint64_t extent = 0;
  bool sequence = headLength != 0 && head[0] == kSequence &&
                  DerExtent(head, headLength, &extent);
  if (!sequence || extent > kMaxCatalogSize || extent > src->size) {
    ++(sequence && extent > kMaxCatalogSize ? counts.tooLarge
                                            : counts.notCatalog);
    ++counts.rejected;
    return;
  }
  std::vector<unsigned char> bytes;
  bytes.resize(static_cast<size_t>(extent));
  if (!ReadAt(src, 0, bytes.data(), bytes.size())) {
    ++counts.readFailed;
    ++counts.unreadable;
    return;
  }
  SignatureInfo signer;
  std::vector<CatalogMember> members;
  if (!ReadCatalog(bytes.data(), bytes.size(), setup->trust, &signer,
                   &members)) {
    ++counts.notCatalog;
    ++counts.rejected;
    return;
  }
  if (signer.signatureValid != kVerdictYes) {
    ++counts.badSignature;
    ++counts.rejected;
    return;
  }
  size_t index = setup->catalogs.size();
  setup->catalogs.push_back({name, signer});
  ++counts.read;
  for (const CatalogMember &m : members) {
    // The first catalog to list a hash is the one reported.
    if (setup->members.emplace(MemberKey(m.kind, m.digest), index).second)
      ++counts.members;
    setup->kinds[m.kind] = true;
  }
}

void SkipCatalog(SignatureSetup *setup, const char * /*name*/,
                 CatalogSkip why) {
  CatalogCounts &counts = setup->counts;
  ++(why == kCatalogNotRegular ? counts.notRegular : counts.cannotOpen);
  ++counts.unreadable;
}

namespace {

// "2 not a signed catalog" and the like, joined with commas.
void AddReason(std::string *text, size_t count, const char *what) {
  if (count == 0)
    return;
  if (!text->empty())
    *text += ", ";
  *text += std::to_string(count) + " " + what;
}

} // namespace

void SetupNotes(const SignatureSetup *setup, std::vector<std::string> *lines) {
  *lines = setup->notes;
  const CatalogCounts &c = setup->counts;
  if (c.rejected == 0 && c.unreadable == 0)
    return;
  std::string rejected, unreadable;
  AddReason(&rejected, c.notCatalog, "not a signed catalog");
  AddReason(&rejected, c.tooLarge, "too large");
  AddReason(&rejected, c.badSignature, "signature not valid");
  AddReason(&unreadable, c.notRegular, "not a regular file");
  AddReason(&unreadable, c.cannotOpen, "could not be opened");
  AddReason(&unreadable, c.readFailed, "could not be read");
  std::string line = "--catalog-dir: " + std::to_string(c.read) +
                     (c.read == 1 ? " catalog" : " catalogs") + " read";
  if (c.rejected != 0)
    line += ", " + std::to_string(c.rejected) + " rejected (" + rejected + ")";
  if (c.unreadable != 0)
    line += ", " + std::to_string(c.unreadable) + " unreadable (" + unreadable +
            ")";
  lines->push_back(line);
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
    if (computed != nullptr) {
      s.computedDigest = *computed;
      s.integrity = *computed == s.signedDigest ? kVerdictYes : kVerdictNo;
    }
    // A chain that holds vouches for a file only while the file is known
    // to be the one signed: a digest that differs, one that could not be
    // computed at all (headers that cannot be hashed, an algorithm we do
    // not know), or bytes beside the signature that nothing signed leave
    // nothing to vouch for.
    const char *integrity = IntegrityName(s);
    if (s.trust == kTrustTrusted &&
        (integrity == nullptr || strcmp(integrity, "ok") != 0)) {
      s.trust = kTrustUntrusted;
      s.trustReason = integrity == nullptr        ? "unknown-digest"
                      : s.integrity == kVerdictNo ? "bad-digest"
                                                  : integrity;
    }
  }
  if (facts->status == kSignatureNone && setup != nullptr)
    LookUpCatalogs(setup, runs, facts);
}
