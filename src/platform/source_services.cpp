// The per-file services that are the reader's work alone, the same on
// every system: each reads the byte source it is given, a record's own
// (RecordSource) or bytes in memory, and opens nothing itself.
#include "byte_source.h"
#include "dotnet_meta.h"
#include "dotnet_tokens.h"
#include "exe_locate.h"
#include "platform_extra.h"

int QueryRecordDescription(ByteSource *source, ImageInfo *info,
                           std::vector<uint16_t> *languages) {
  *info = ImageInfo();
  languages->clear();
  if (source == nullptr)
    return -1;
  return DescribeImage(source, info, languages) == kStatusOk ? 0 : -1;
}

int QueryRecordDescription(FileRecord *record, ImageInfo *info,
                           std::vector<uint16_t> *languages) {
  return QueryRecordDescription(RecordSource(record), info, languages);
}

int QueryRecordDotnet(ByteSource *source, KeyDigester *keys, DotnetInfo *info) {
  *info = DotnetInfo();
  if (source == nullptr || !ReadDotnetInfo(source, info))
    return -1;
  FillDotnetTokens(keys, info);
  return 0;
}

int QueryRecordDotnet(FileRecord *record, KeyDigester *keys, DotnetInfo *info) {
  return QueryRecordDotnet(RecordSource(record), keys, info);
}

int QueryRecordLanguageVersions(ByteSource *source,
                                std::vector<LanguageVersion> *versions) {
  versions->clear();
  if (source == nullptr)
    return -1;
  return ListLanguageVersions(source, versions) == kStatusOk ? 0 : -1;
}

int QueryRecordLanguageVersions(FileRecord *record,
                                std::vector<LanguageVersion> *versions) {
  return QueryRecordLanguageVersions(RecordSource(record), versions);
}
