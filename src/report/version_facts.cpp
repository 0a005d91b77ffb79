#include "version_facts.h"

#include <stdlib.h>
#include <string.h>

#include "ascii_case.h"
#include "little_endian.h"
#include "platform_extra.h"
#include "report.h"
#include "status.h"
#include "unicode_text.h"

namespace {

// Whether the text report's lookup of an ASCII name finds a string of the
// table. The lookup takes the first key equal to the name without regard
// to case, and only ASCII letters can fold onto an ASCII name (so a key
// equal to one is ASCII, a byte a unit in UTF-8); the walk that listed the
// table follows the lookup's rules, so the list answers without a second
// walk from the root.
bool TableHas(const std::vector<VersionText> &strings, const char *name) {
  size_t length = strlen(name);
  for (const VersionText &s : strings)
    if (s.key.size() == length && EqualNoCaseAscii(s.key.c_str(), name))
      return true;
  return false;
}

// Where the listed tables go: every table's key and strings into tables,
// or, without everyTable, only the keys, into tableKeys; the picked
// table's strings into strings, when a translation entry picks it.
struct TableGather {
  VersionFacts *f;
  bool everyTable;
  std::vector<VersionText> *into; // the current table's strings, or null
};

void GatherTable(void *context, const char16_t *key, size_t length,
                 bool picked) {
  TableGather *g = static_cast<TableGather *>(context);
  VersionFacts *f = g->f;
  std::string *text;
  if (g->everyTable) {
    f->tables.emplace_back();
    text = &f->tables.back().key;
  } else {
    f->tableKeys.emplace_back();
    text = &f->tableKeys.back();
  }
  AppendUnitsAsUtf8(key, length, text);
  if (picked && f->hasTranslations) {
    g->into = &f->strings;
    // A table holds a dozen strings or so: room for them at once rather
    // than a move of every string gathered at each doubling.
    f->strings.reserve(16);
  } else
    g->into = g->everyTable ? &f->tables.back().strings : nullptr;
}

// One string, keys and values alike, in UTF-8.
void GatherString(void *context, const VersionStringUnits &s) {
  TableGather *g = static_cast<TableGather *>(context);
  if (g->into == nullptr)
    return;
  g->into->emplace_back();
  VersionText &t = g->into->back();
  AppendUnitsAsUtf8(s.key, s.keyLength, &t.key);
  AppendUnitsAsUtf8(s.value, s.valueLength, &t.value);
  t.zerosPast = s.zerosPast;
  t.textPastZero = s.textPastZero;
  // A value of ASCII units alone (a byte each in UTF-8, where any other
  // unit takes two or more) holds no surrogate: most need no second look.
  t.unpairedSurrogate = t.value.size() != s.valueLength &&
                        HasUnpairedSurrogate(s.value, s.valueLength);
}

// Every table of the block, whether or not a translation names it; and the
// one the report's translation entry finds, as "strings", when there is an
// entry, its own strings in tables left empty (pickedTable). Without
// everyTable only the keys of the tables, in tableKeys: what --lint reads
// of them, for a run that writes no "string_tables". Converted as the walk
// lists them, with no UTF-16 copy kept.
void GatherTables(void *block, DWORD size, VersionFacts *f, bool everyTable) {
  TableGather g = {f, everyTable, nullptr};
  VersionTableSink sink = {&g, GatherTable, GatherString};
  size_t chosen;
  f->hasTables = VisitStringTables(block, size, f->translation, sink, &chosen);
  size_t count = everyTable ? f->tables.size() : f->tableKeys.size();
  f->hasTable = f->hasTranslations && chosen < count;
  if (f->hasTable && everyTable)
    f->pickedTable = chosen;
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
  if (!VerQueryValueA(block, "\\VarFileInfo\\Translation", &pointer, &length)) {
    GatherTables(block, size, f, everyTable);
    return kStatusNoTranslation;
  }
  f->hasTranslations = true;
  // The value's own length says how many entries it holds; the block's end
  // bounds it all the same.
  // Nearly always a single entry: copied on the stack, else on the heap.
  unsigned char local[64];
  std::vector<unsigned char> heap;
  unsigned char *raw = local;
  if (length > sizeof local) {
    heap.resize(length);
    raw = heap.data();
  }
  if (length > 0)
    CopyInsideBlock(block, size, pointer, raw, length);
  for (size_t i = 0; i + 4 <= length; i += 4)
    f->translations.push_back(Le32(raw + i));
  // The report reads the first entry as far as the value goes.
  unsigned char entry[4] = {0, 0, 0, 0};
  CopyInsideBlock(block, size, pointer, entry,
                  length < sizeof entry ? length : sizeof entry);
  f->translation = Le32(entry);

  GatherTables(block, size, f, everyTable);

  // The stages of the text report, in its order.
  if (!TableHas(f->strings, "CompanyName"))
    return kStatusNoCompanyName;
  if (!TableHas(f->strings, "FileDescription"))
    return kStatusNoDescription;
  if (!TableHas(f->strings, "FileVersion"))
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

// The description and the size query, as both gatherings start: the
// description first, so that the size query finds the headers and the
// resource directory it walks in the windows the description read.
DWORD StartGathering(FileRecord *record, VersionFacts *f, DWORD *handle) {
  *f = VersionFacts();
  *handle = 0;
  QueryRecordDescription(record, &f->image, &f->languages);
  return GetRecordVersionInfoSize(record, handle);
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
                            const VersionPlan &plan) {
  StatusCode result = GatherLoaded(block, size, f, plan.everyTable);
  if (plan.lintExtras && plan.everyTable)
    GatherTableKeys(f);
  return result;
}

StatusCode GatherVersionFacts(FileRecord *record, VersionFacts *f,
                              const VersionPlan &plan) {
  DWORD handle;
  DWORD size = StartGathering(record, f, &handle);
  if (size == 0)
    return kStatusNoVersionInfo;
  VersionBlock block;
  StatusCode result = LoadVersionBlock(record, handle, size, &block);
  if (result != kStatusOk)
    return result;
  result = GatherBlockFacts(block.data, size, f, plan);
  FreeVersionBlock(&block);
  if (plan.lintExtras)
    GatherLanguageVersions(record, f);
  return result;
}

StatusCode ReportAndGatherFacts(FileRecord *record, const TextOptions &options,
                                VersionFacts *f, StatusCode *factsCode,
                                Win32Versions *versions,
                                const VersionPlan &plan) {
  if (versions != nullptr)
    *versions = Win32Versions();
  DWORD handle;
  DWORD size = StartGathering(record, f, &handle);
  *factsCode = kStatusNoVersionInfo;
  if (size == 0)
    return kStatusNoVersionInfo;
  VersionBlock block;
  StatusCode result = LoadVersionBlock(record, handle, size, &block);
  *factsCode = result;
  if (result != kStatusOk)
    return result;
  // The facts first: the report's lookups write their code page copies
  // into the block's spare area, which the walks here never read.
  *factsCode = GatherBlockFacts(block.data, size, f, plan);
  result =
      ReportLoadedVersion(record->path, block.data, size, options, versions);
  FreeVersionBlock(&block);
  if (plan.lintExtras)
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
