// The per-file services that are the reader's work alone, the same on
// every system: each reads the byte source it is given, a record's own
// (RecordSource, with its headers read once) or bytes in memory, and
// opens nothing itself.
#ifndef _WIN32
#include <fcntl.h>
#endif

#include "byte_source.h"
#include "dotnet_meta.h"
#include "dotnet_tokens.h"
#include "exe_locate.h"
#include "pe_image.h"
#include "platform_extra.h"
#include "record_source.h"
#include "signature_service.h"

namespace {

int Describe(ByteSource *source, const PeImage &image, ImageInfo *info,
             std::vector<uint16_t> *languages) {
  DescribeImage(source, image, info, languages);
  return info->kind == kKindUnknown ? -1 : 0;
}

int Dotnet(ByteSource *source, const PeImage &image, KeyDigester *keys,
           DotnetInfo *info) {
  if (!ReadDotnetInfo(source, image, info))
    return -1;
  FillDotnetTokens(keys, info);
  return 0;
}

} // namespace

int QueryRecordDescription(ByteSource *source, ImageInfo *info,
                           std::vector<uint16_t> *languages) {
  *info = ImageInfo();
  languages->clear();
  if (source == nullptr)
    return -1;
  PeImage image;
  ReadPeImage(source, &image);
  return Describe(source, image, info, languages);
}

int QueryRecordDescription(FileRecord *record, ImageInfo *info,
                           std::vector<uint16_t> *languages) {
  *info = ImageInfo();
  languages->clear();
  const PeImage *image = nullptr;
  ByteSource *source = RecordSourceAndImage(record, &image);
  if (source == nullptr)
    return -1;
  return Describe(source, *image, info, languages);
}

int QueryRecordDotnet(ByteSource *source, KeyDigester *keys, DotnetInfo *info) {
  *info = DotnetInfo();
  if (source == nullptr)
    return -1;
  PeImage image;
  ReadPeImage(source, &image);
  return Dotnet(source, image, keys, info);
}

int QueryRecordDotnet(FileRecord *record, KeyDigester *keys, DotnetInfo *info) {
  *info = DotnetInfo();
  const PeImage *image = nullptr;
  ByteSource *source = RecordSourceAndImage(record, &image);
  if (source == nullptr)
    return -1;
  return Dotnet(source, *image, keys, info);
}

int QueryRecordLanguageVersions(ByteSource *source,
                                std::vector<LanguageVersion> *versions) {
  versions->clear();
  if (source == nullptr)
    return -1;
  return ListLanguageVersions(source, versions) == kReasonNone ? 0 : -1;
}

int QueryRecordLanguageVersions(FileRecord *record,
                                std::vector<LanguageVersion> *versions) {
  versions->clear();
  const PeImage *image = nullptr;
  ByteSource *source = RecordSourceAndImage(record, &image);
  if (source == nullptr)
    return -1;
  return ListLanguageVersions(source, *image, versions) == kReasonNone ? 0 : -1;
}

int QueryRecordSignature(ByteSource *source, const SignatureChecks *checks,
                         SignatureFacts *facts) {
  *facts = SignatureFacts();
  facts->status = kSignatureUnreadable;
  facts->problem = "read-failed";
  if (source == nullptr)
    return -1;
#ifndef _WIN32
  // Read from start to end, as --hash reads.
  if (source->fd >= 0)
    posix_fadvise(source->fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  CheckSignature(checks, source, facts);
  return 0;
}

int QueryRecordSignature(FileRecord *record, const SignatureChecks *checks,
                         SignatureFacts *facts) {
  return QueryRecordSignature(RecordSource(record), checks, facts);
}
