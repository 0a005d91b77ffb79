#include "version_facts.h"

#include <stdlib.h>
#include <string.h>

#include "ascii_case.h"
#include "byte_source.h"
#include "platform_extra.h"
#include "report.h"
#include "status.h"
#include "version_strings.h"

namespace {

// Whether the text report's lookup of an ASCII name finds a string of the
// table. The lookup takes the first key equal to the name without regard
// to case, and only ASCII letters can fold onto an ASCII name; the walk
// that listed the table follows the lookup's rules, so the list answers
// without a second walk from the root.
bool TableHas(const std::vector<VersionString> &strings, const char *name) {
  for (const VersionString &s : strings)
    if (KeyEqualsAscii(s.key.data(), s.key.size(), name))
      return true;
  return false;
}

// A table's strings, keys and values alike, in UTF-8.
void ConvertStrings(const std::vector<VersionString> &from,
                    std::vector<VersionText> *to) {
  to->resize(from.size());
  for (size_t i = 0; i < from.size(); ++i) {
    AppendUnitsAsUtf8(from[i].key.data(), from[i].key.size(), &(*to)[i].key);
    AppendUnitsAsUtf8(from[i].value.data(), from[i].value.size(),
                      &(*to)[i].value);
  }
}

// Every table of the block, whether or not a translation names it; and the
// one the report's translation entry finds, as "strings" and, as stored,
// in *strings for the report's stages, when there is an entry.
void GatherTables(void *block, DWORD size, VersionFacts *f,
                  std::vector<VersionString> *strings) {
  std::vector<VersionTable> tables;
  size_t chosen;
  f->hasTables =
      ListVersionTables(block, size, f->translation, &tables, &chosen);
  f->tables.resize(tables.size());
  for (size_t i = 0; i < tables.size(); ++i) {
    AppendUnitsAsUtf8(tables[i].key.data(), tables[i].key.size(),
                      &f->tables[i].key);
    ConvertStrings(tables[i].strings, &f->tables[i].strings);
  }
  f->hasTable = f->hasTranslations && chosen < tables.size();
  if (f->hasTable) {
    f->strings = f->tables[chosen].strings;
    strings->swap(tables[chosen].strings);
  }
}

StatusCode GatherLoaded(void *block, DWORD size, VersionFacts *f) {
  LPVOID pointer = nullptr;
  UINT length = 0;
  f->hasFixed = QueryFixedRecord(block, size, &f->fixed);
  std::vector<VersionString> strings;
  if (!VerQueryValueA(block, "\\VarFileInfo\\Translation", &pointer, &length)) {
    GatherTables(block, size, f, &strings);
    return kStatusNoTranslation;
  }
  f->hasTranslations = true;
  // The value's own length says how many entries it holds; the block's end
  // bounds it all the same.
  std::vector<unsigned char> raw(length);
  if (length > 0)
    CopyInsideBlock(block, size, pointer, raw.data(), length);
  for (size_t i = 0; i + 4 <= raw.size(); i += 4)
    f->translations.push_back(Le32(&raw[i]));
  // The report reads the first entry as far as the value goes.
  unsigned char entry[4] = {0, 0, 0, 0};
  CopyInsideBlock(block, size, pointer, entry,
                  length < sizeof entry ? length : sizeof entry);
  f->translation = Le32(entry);

  GatherTables(block, size, f, &strings);

  // The stages of the text report, in its order.
  if (!TableHas(strings, "CompanyName"))
    return kStatusNoCompanyName;
  if (!TableHas(strings, "FileDescription"))
    return kStatusNoDescription;
  if (!TableHas(strings, "FileVersion"))
    return kStatusNoVersionString;
  if (!f->hasFixed)
    return kStatusNoFixedInfo;
  return kStatusOk;
}

} // namespace

StatusCode GatherVersionFacts(FileRecord *record, VersionFacts *f) {
  *f = VersionFacts();
  // The size query notes the description from the reads it makes anyway.
  record->describe = true;
  DWORD handle = 0;
  DWORD size = GetRecordVersionInfoSize(record, &handle);
  QueryRecordDescription(record, &f->image, &f->languages);
  if (size == 0)
    return kStatusNoVersionInfo;
  void *block;
  StatusCode result = LoadVersionBlock(record, handle, size, &block);
  if (result != kStatusOk)
    return result;
  result = GatherLoaded(block, size, f);
  free(block);
  return result;
}

std::string DigestHex(const FileDigest &digest) {
  std::string hex;
  if (!digest.read)
    return hex;
  const char kDigits[] = "0123456789abcdef";
  hex.reserve(2 * kSha256Size);
  for (unsigned char octet : digest.sha256) {
    hex.push_back(kDigits[octet >> 4]);
    hex.push_back(kDigits[octet & 0x0F]);
  }
  return hex;
}
