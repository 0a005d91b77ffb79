#include "version_facts.h"

#include <stdlib.h>
#include <string.h>

#include "ascii_case.h"
#include "byte_source.h"
#include "platform_extra.h"
#include "report.h"
#include "status.h"
#include "unicode_text.h"
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
    (*to)[i].zerosPast = from[i].zerosPast;
    (*to)[i].textPastZero = from[i].textPastZero;
    // A value of ASCII units alone (a byte each in UTF-8, where any other
    // unit takes two or more) holds no surrogate: most need no second look.
    (*to)[i].unpairedSurrogate =
        (*to)[i].value.size() != from[i].value.size() &&
        HasUnpairedSurrogate(from[i].value.data(), from[i].value.size());
  }
}

// Every table of the block, whether or not a translation names it; and the
// one the report's translation entry finds, as "strings" and, as stored,
// in *strings for the report's stages, when there is an entry. Without
// everyTable only the keys of the others, in tableKeys: what --lint reads
// of them, for a run that writes no "string_tables".
void GatherTables(void *block, DWORD size, VersionFacts *f,
                  std::vector<VersionString> *strings, bool everyTable) {
  std::vector<VersionTable> tables;
  size_t chosen;
  f->hasTables =
      ListVersionTables(block, size, f->translation, &tables, &chosen);
  if (!everyTable) {
    f->tableKeys.resize(tables.size());
    for (size_t i = 0; i < tables.size(); ++i)
      AppendUnitsAsUtf8(tables[i].key.data(), tables[i].key.size(),
                        &f->tableKeys[i]);
    f->hasTable = f->hasTranslations && chosen < tables.size();
    if (f->hasTable) {
      ConvertStrings(tables[chosen].strings, &f->strings);
      strings->swap(tables[chosen].strings);
    }
    return;
  }
  f->hasTable = f->hasTranslations && chosen < tables.size();
  f->tables.resize(tables.size());
  for (size_t i = 0; i < tables.size(); ++i) {
    AppendUnitsAsUtf8(tables[i].key.data(), tables[i].key.size(),
                      &f->tables[i].key);
    if (!f->hasTable || i != chosen)
      ConvertStrings(tables[i].strings, &f->tables[i].strings);
  }
  if (f->hasTable) {
    ConvertStrings(tables[chosen].strings, &f->strings);
    f->pickedTable = chosen;
    strings->swap(tables[chosen].strings);
  }
}

// What --lint reads besides: the key of every table, which its rules read
// where the table Windows picks is missing or other translation entries
// name tables of their own.
void GatherTableKeys(VersionFacts *f) {
  f->tableKeys.clear();
  for (const VersionTableText &table : f->tables)
    f->tableKeys.push_back(table.key);
}

StatusCode GatherLoaded(void *block, DWORD size, VersionFacts *f,
                        bool everyTable) {
  LPVOID pointer = nullptr;
  UINT length = 0;
  f->hasFixed = QueryFixedRecord(block, size, &f->fixed);
  std::vector<VersionString> strings;
  if (!VerQueryValueA(block, "\\VarFileInfo\\Translation", &pointer, &length)) {
    GatherTables(block, size, f, &strings, everyTable);
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

  GatherTables(block, size, f, &strings, everyTable);

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

// The languages' fixed records, where the directory holds several.
void GatherLanguageVersions(FileRecord *record, VersionFacts *f) {
  if (f->languages.size() > 1)
    QueryRecordLanguageVersions(record, &f->languageVersions);
}

// The size query and the description, as both gatherings start: the size
// query notes the description from the reads it makes anyway.
DWORD StartGathering(FileRecord *record, VersionFacts *f, DWORD *handle) {
  *f = VersionFacts();
  record->describe = true;
  *handle = 0;
  DWORD size = GetRecordVersionInfoSize(record, handle);
  QueryRecordDescription(record, &f->image, &f->languages);
  return size;
}

} // namespace

const std::vector<VersionText> &TableStrings(const VersionFacts &f,
                                             size_t index) {
  return index == f.pickedTable ? f.strings : f.tables[index].strings;
}

const VersionText *FindVersionString(const VersionFacts &f, const char *name) {
  if (!f.hasTable)
    return nullptr;
  size_t length = strlen(name);
  for (const VersionText &s : f.strings)
    if (s.key.size() == length && EqualNoCaseAscii(s.key.c_str(), name))
      return &s;
  return nullptr;
}

StatusCode GatherBlockFacts(void *block, DWORD size, VersionFacts *f,
                            bool forLint, bool everyTable) {
  StatusCode result = GatherLoaded(block, size, f, everyTable);
  if (forLint && everyTable)
    GatherTableKeys(f);
  return result;
}

StatusCode GatherVersionFacts(FileRecord *record, VersionFacts *f, bool forLint,
                              bool everyTable) {
  DWORD handle;
  DWORD size = StartGathering(record, f, &handle);
  if (size == 0)
    return kStatusNoVersionInfo;
  void *block;
  StatusCode result = LoadVersionBlock(record, handle, size, &block);
  if (result != kStatusOk)
    return result;
  result = GatherBlockFacts(block, size, f, forLint, everyTable);
  free(block);
  if (forLint)
    GatherLanguageVersions(record, f);
  return result;
}

StatusCode ReportAndGatherFacts(FileRecord *record, const TextOptions &options,
                                VersionFacts *f, StatusCode *factsCode,
                                Win32Versions *versions, bool everyTable) {
  if (versions != nullptr)
    *versions = Win32Versions();
  DWORD handle;
  DWORD size = StartGathering(record, f, &handle);
  *factsCode = kStatusNoVersionInfo;
  if (size == 0)
    return kStatusNoVersionInfo;
  void *block;
  StatusCode result = LoadVersionBlock(record, handle, size, &block);
  *factsCode = result;
  if (result != kStatusOk)
    return result;
  // The facts first: the report's lookups write their code page copies
  // into the block's spare area, which the walks here never read.
  *factsCode = GatherBlockFacts(block, size, f, true, everyTable);
  result = ReportLoadedVersion(record->path, block, size, options, versions);
  free(block);
  GatherLanguageVersions(record, f);
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
