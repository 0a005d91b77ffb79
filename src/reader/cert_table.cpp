#include "cert_table.h"

#include <algorithm>

#include "exe_layout.h"

namespace {

// Whether [off, off + len) lies inside [0, size), without overflow.
bool Inside(uint64_t off, uint64_t len, uint64_t size) {
  return off <= size && len <= size - off;
}

struct Section {
  uint64_t pointer; // PointerToRawData
  uint64_t size;    // SizeOfRawData
};

// Every section with raw data, in file order as the digest reads them
// (equal starts keep the table's order). False when the file cuts the
// section table short.
bool ReadSections(ByteSource *src, const PeImage &image,
                  std::vector<Section> *sections) {
  sections->reserve(image.sectionCount);
  for (uint32_t i = 0; i < image.sectionCount; ++i) {
    PeSection sec;
    if (!ReadPeSection(src, image, i, &sec))
      return false;
    if (sec.rawSize != 0) // a section without raw data adds nothing
      sections->push_back({sec.rawPointer, sec.rawSize});
  }
  std::stable_sort(
      sections->begin(), sections->end(),
      [](const Section &a, const Section &b) { return a.pointer < b.pointer; });
  return true;
}

// Where the certificate table's directory entry lies, whether or not
// NumberOfRvaAndSizes reaches it: the digest leaves those bytes out.
uint64_t SecurityEntryOffset(const PeImage &image) {
  return image.directories +
         uint64_t{kPeDataDirectorySize} * kPeDirectoryEntrySecurity;
}

// Walks the table's WIN_CERTIFICATE headers. Each entry starts where the
// one before ended, rounded up to 8 bytes; the last may end the table
// without that padding.
CertTableState WalkEntries(ByteSource *src, uint64_t table, uint64_t size,
                           std::vector<CertEntry> *entries) {
  const size_t kMaxEntries = 256;
  uint64_t end = table + size;
  uint64_t pos = table;
  while (pos < end) {
    if (end - pos < kWinCertHeaderSize)
      return kCertTableBadEntry;
    if (entries->size() == kMaxEntries)
      return kCertTableTooManyEntries;
    unsigned char header[kWinCertHeaderSize];
    if (!ReadAt(src, pos, header, sizeof header))
      return kCertTableReadFailed;
    CertEntry e = {pos, Le32(header + kWinCertLength),
                   Le16(header + kWinCertRevision), Le16(header + kWinCertType),
                   pos % kWinCertAlignment == 0};
    entries->push_back(e);
    if (e.length < kWinCertHeaderSize || e.length > end - pos)
      return kCertTableBadEntry;
    uint64_t step = (uint64_t{e.length} + kWinCertAlignment - 1) /
                    kWinCertAlignment * kWinCertAlignment;
    if (step >= end - pos)
      break; // the last entry, its padding cut by the table's end
    pos += step;
  }
  return kCertTableOk;
}

// The digest's ranges: the headers less the two fields, the sections in
// file order, then the rest up to hashEnd.
HashLayoutState HashRanges(const PeImage &image,
                           const std::vector<Section> &sections,
                           uint64_t hashEnd, uint64_t fileSize,
                           PeSignatureLayout *layout) {
  uint64_t headers = image.sizeOfHeaders;
  const uint64_t kChecksumSize = 4;
  uint64_t gapStart = image.checksumOffset;
  uint64_t securityEntry = SecurityEntryOffset(image);
  uint64_t gapEnd = securityEntry + kPeDataDirectorySize;
  // Both left-out fields lie in the optional header, CheckSum first; the
  // headers the digest reads must lie inside the file and hold them.
  if (headers > hashEnd)
    return kHashLayoutHeadersOutside;
  if (gapEnd > headers || securityEntry < gapStart + kChecksumSize)
    return kHashLayoutHeadersShort;
  std::vector<HashRange> &r = layout->hashed;
  r.push_back({0, gapStart});
  r.push_back(
      {gapStart + kChecksumSize, securityEntry - (gapStart + kChecksumSize)});
  r.push_back({gapEnd, headers - gapEnd});
  uint64_t imageEnd = headers;
  for (const Section &s : sections) {
    if (!Inside(s.pointer, s.size, hashEnd))
      return kHashLayoutSectionOutside;
    r.push_back({s.pointer, s.size});
    imageEnd = std::max(imageEnd, s.pointer + s.size);
  }
  if (hashEnd > imageEnd)
    r.push_back({imageEnd, hashEnd - imageEnd});
  r.erase(std::remove_if(r.begin(), r.end(),
                         [](const HashRange &h) { return h.length == 0; }),
          r.end());
  // Each range lies inside the file, and ranges that do not overlap add up
  // to less than it. Sections that share raw data have it read again: up
  // to the file's size once more is taken, beyond that it is a digest no
  // signer makes and whose cost would have no bound.
  uint64_t total = 0,
           bound = fileSize > UINT64_MAX / 2 ? UINT64_MAX : 2 * fileSize;
  for (const HashRange &h : r) {
    if (h.length > bound - total)
      return kHashLayoutSectionsOverlap;
    total += h.length;
  }
  layout->hashPadding = static_cast<uint32_t>(
      (kWinCertAlignment - hashEnd % kWinCertAlignment) % kWinCertAlignment);
  // What lies before hashEnd outside every range, the two fields aside:
  // the union of the ranges, counted in file order.
  std::vector<HashRange> sorted = r;
  std::sort(sorted.begin(), sorted.end(),
            [](const HashRange &a, const HashRange &b) {
              return a.offset < b.offset;
            });
  uint64_t covered = 0, reach = 0;
  for (const HashRange &h : sorted) {
    uint64_t end = h.offset + h.length;
    if (end <= reach)
      continue;
    covered += end - std::max(reach, h.offset);
    reach = end;
  }
  layout->unhashedBytes =
      hashEnd - covered - (kChecksumSize + kPeDataDirectorySize);
  return kHashLayoutOk;
}

} // namespace

const char *CertTableStateName(CertTableState state) {
  switch (state) {
  case kCertTableNotPe:
    return "not-pe";
  case kCertTableAbsent:
    return "absent";
  case kCertTableOk:
    return "ok";
  case kCertTableOutsideFile:
    return "outside-file";
  case kCertTableOverlapsHeaders:
    return "overlaps-headers";
  case kCertTableOverlapsSections:
    return "overlaps-sections";
  case kCertTableMisaligned:
    return "misaligned";
  case kCertTableBadEntry:
    return "bad-entry";
  case kCertTableTooManyEntries:
    return "too-many-entries";
  case kCertTableReadFailed:
    return "read-failed";
  case kCertTableDataAfter:
    return "data-after-table";
  }
  return "unknown";
}

const char *HashLayoutStateName(HashLayoutState state) {
  switch (state) {
  case kHashLayoutOk:
    return "ok";
  case kHashLayoutNotPe:
    return "not-pe";
  case kHashLayoutHeadersOutside:
    return "headers-outside-file";
  case kHashLayoutSectionOutside:
    return "section-outside-file";
  case kHashLayoutTableBeforeImage:
    return "table-inside-image";
  case kHashLayoutHeadersShort:
    return "headers-too-short";
  case kHashLayoutSectionsOverlap:
    return "sections-overlap";
  }
  return "unknown";
}

void ReadSignatureLayout(ByteSource *src, PeSignatureLayout *layout) {
  PeImage image;
  ReadPeImage(src, &image);
  ReadSignatureLayout(src, image, layout);
}

void ReadSignatureLayout(ByteSource *src, const PeImage &image,
                         PeSignatureLayout *layout) {
  *layout = PeSignatureLayout();
  layout->fileSize = src->size;
  layout->table = kCertTableNotPe;
  layout->hash = kHashLayoutNotPe;
  if (image.state == kHeadersReadFailed) {
    layout->table = kCertTableReadFailed;
    return;
  }
  if (!IsPeImage(image))
    return;
  uint32_t failed = src->failedReads;
  std::vector<Section> sections;
  if (!ReadSections(src, image, &sections)) {
    if (src->failedReads != failed)
      layout->table = kCertTableReadFailed;
    return;
  }
  layout->isPe = true;
  layout->checksumOffset = image.checksumOffset;
  layout->storedChecksum = image.checksum;
  PeDirectory security = {0, 0};
  if (FindPeDirectory(image, kPeDirectoryEntrySecurity, &security) ==
      kDirectoryCut) {
    layout->table = kCertTableNotPe;
    return;
  }
  uint32_t offset = security.rva, size = security.size;
  layout->tableOffset = offset;
  layout->tableSize = size;
  uint64_t imageEnd = image.sizeOfHeaders;
  for (const Section &s : sections)
    imageEnd = std::max(imageEnd, s.pointer + s.size);

  // The digest reads up to the table, or the whole of an unsigned file.
  uint64_t hashEnd = src->size;
  if (offset == 0 || size == 0) {
    layout->table = kCertTableAbsent;
  } else if (!Inside(offset, size, src->size)) {
    layout->table = kCertTableOutsideFile;
  } else if (offset < image.sizeOfHeaders) {
    layout->table = kCertTableOverlapsHeaders;
  } else if (offset < imageEnd) {
    layout->table = kCertTableOverlapsSections;
  } else {
    layout->trailingBytes = src->size - (uint64_t{offset} + size);
    hashEnd = offset;
    // A table off its 8-byte boundary is still walked, to be shown.
    CertTableState walked = WalkEntries(src, offset, size, &layout->entries);
    layout->table = walked == kCertTableOk && offset % kWinCertAlignment != 0
                        ? kCertTableMisaligned
                        : walked;
    if (layout->table == kCertTableOk && layout->trailingBytes != 0)
      layout->table = kCertTableDataAfter;
  }
  // A table that starts inside the image would be hashed itself: no
  // digest can be made of such a file.
  if (layout->table == kCertTableOverlapsHeaders ||
      layout->table == kCertTableOverlapsSections)
    layout->hash = kHashLayoutTableBeforeImage;
  else
    layout->hash = HashRanges(image, sections, hashEnd, src->size, layout);
  if (layout->hash != kHashLayoutOk) {
    layout->hashed.clear();
    layout->hashPadding = 0;
    layout->unhashedBytes = 0;
  }
  if (src->failedReads != failed)
    layout->table = kCertTableReadFailed;
}

void StartChecksum(PeChecksum *checksum, uint64_t fieldOffset) {
  *checksum = PeChecksum();
  checksum->fieldOffset = fieldOffset;
}

bool AddToChecksum(PeChecksum *c, uint64_t offset, const unsigned char *bytes,
                   size_t length) {
  if (offset != c->next)
    return false;
  size_t i = 0;
  if (c->havePending && length > 0) {
    c->sum += c->pending | (uint64_t{bytes[0]} << 8);
    c->havePending = false;
    i = 1;
  }
  // Words in pairs: the bulk of a large file goes through here.
  uint64_t sum = 0;
  for (; length - i >= 4; i += 4)
    sum += Le16(bytes + i) + uint64_t{Le16(bytes + i + 2)};
  for (; length - i >= 2; i += 2)
    sum += Le16(bytes + i);
  c->sum += sum;
  if (i < length) {
    c->pending = bytes[i];
    c->havePending = true;
  }
  // The CheckSum field counts as zero: whatever of it this piece held is
  // taken back out, each byte at its place in its word.
  for (uint64_t f = c->fieldOffset; f < c->fieldOffset + 4; ++f) {
    if (f < offset || f - offset >= length)
      continue;
    uint64_t byte = bytes[f - offset];
    uint64_t weight = f % 2 == 0 ? byte : byte << 8;
    if (c->havePending && f == offset + length - 1)
      c->pending = 0; // not summed yet: summed as zero later
    else
      c->sum -= weight;
  }
  c->next = offset + length;
  return true;
}

uint32_t FinishChecksum(const PeChecksum *c) {
  uint64_t sum = c->sum;
  if (c->havePending)
    sum += c->pending; // an odd last byte, as a word with a zero high byte
  while (sum >> 16 != 0)
    sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + c->next);
}

bool HashRangesInFileOrder(const PeSignatureLayout &layout) {
  uint64_t reach = 0;
  for (const HashRange &h : layout.hashed) {
    if (h.offset < reach)
      return false;
    reach = h.offset + h.length;
  }
  return true;
}

bool ReadCertificateBlob(ByteSource *src, const CertEntry &entry,
                         std::vector<unsigned char> *blob) {
  blob->clear();
  if (entry.length < kWinCertHeaderSize)
    return false;
  uint32_t length = entry.length - kWinCertHeaderSize;
  if (length > kMaxSignatureBlob ||
      !Inside(entry.offset + kWinCertHeaderSize, length, src->size))
    return false;
  blob->resize(length);
  return length == 0 ||
         ReadAt(src, entry.offset + kWinCertHeaderSize, blob->data(), length);
}

bool DerExtent(const unsigned char *bytes, size_t length, uint64_t *extent) {
  // A single-byte tag: every outer element a signature or a catalog
  // starts with is one.
  if (length < 2 || (bytes[0] & 0x1F) == 0x1F)
    return false;
  uint64_t content = bytes[1];
  size_t header = 2;
  if (content >= 0x80) {
    size_t count = content & 0x7F;
    if (count == 0 || count > 4 || length < header + count)
      return false;
    content = 0;
    for (size_t i = 0; i < count; ++i)
      content = content << 8 | bytes[header + i];
    header += count;
  }
  *extent = header + content;
  return true;
}

bool OnlyAlignmentPadding(const unsigned char *bytes, size_t length) {
  if (length >= kWinCertAlignment)
    return false;
  for (size_t i = 0; i < length; ++i)
    if (bytes[i] != 0)
      return false;
  return true;
}
