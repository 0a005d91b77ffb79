#include "report.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "little_endian.h"
#include "platform_extra.h"
#include "terminal_text.h"
#include "unicode_text.h"

namespace {

// The length of text when every byte of it is printable ASCII, which every
// map here leaves as it is; else 0.
size_t PrintableLength(const char *text) {
  const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
  size_t length = strlen(text);
  size_t i = 0;
#ifdef __SSE2__
  // Sixteen bytes at a time (every x86-64), the last sixteen of the text
  // taken whole where fewer are left. Signed, bytes of 0x80 and more
  // compare below the space, as the controls do.
  if (length >= 16) {
    const __m128i kSpace = _mm_set1_epi8(0x20), kDel = _mm_set1_epi8(0x7F);
    for (;; i += 16) {
      if (length - i < 16)
        i = length - 16;
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
      __m128i odd =
          _mm_or_si128(_mm_cmplt_epi8(v, kSpace), _mm_cmpeq_epi8(v, kDel));
      if (_mm_movemask_epi8(odd) != 0)
        return 0;
      if (length - i == 16)
        return length;
    }
  }
#endif
  for (; i < length; ++i)
    if (p[i] < 0x20 || p[i] > 0x7E)
      return 0;
  return length;
}

// Writes text with every byte mapped, a chunk at a time rather than a
// call per byte. The map leaves printable ASCII as it is: text of nothing
// else (nearly every name and value) goes as it stands.
template <typename Map>
void PrintMapped(const char *text, Map map, FILE *stream = stdout) {
  if (size_t plain = PrintableLength(text)) {
    fwrite(text, 1, plain, stream);
    return;
  }
  char chunk[256];
  size_t used = 0;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
       *p != '\0'; ++p) {
    chunk[used++] = map(*p);
    if (used == sizeof chunk) {
      fwrite(chunk, 1, used, stream);
      used = 0;
    }
  }
  if (used != 0)
    fwrite(chunk, 1, used, stream);
}

const DWORD kPrivateBuildFlag = 0x08; // VS_FF_PRIVATEBUILD
const DWORD kSpecialBuildFlag = 0x20; // VS_FF_SPECIALBUILD

// "\StringFileInfo\", the language and the code page as four lowercase hex
// digits each: the table of a translation. Composed by hand: formatted
// printing cost more than the lookups it prepares.
const size_t kTablePrefixLength = 16; // "\\StringFileInfo\\"
void TablePath(DWORD translation, char (&path)[32]) {
  static const char kPrefix[] = "\\StringFileInfo\\";
  static_assert(sizeof kPrefix - 1 == kTablePrefixLength, "the table's key");
  static const char kHexDigits[] = "0123456789abcdef";
  size_t used = sizeof kPrefix - 1;
  memcpy(path, kPrefix, used);
  DWORD languageFirst = (translation << 16) | (translation >> 16);
  for (int shift = 28; shift >= 0; shift -= 4)
    path[used++] = kHexDigits[(languageFirst >> shift) & 0xFu];
  path[used] = '\0';
}

// The loaded block and how its values are printed.
struct Values {
  void *block;
  DWORD size;
  DWORD translation;
  bool utf8;
};

// Looks a value up and prints it; false, printing nothing, if absent.
bool PrintValue(const Values &v, const char *name) {
  char table[32];
  TablePath(v.translation, table);
  if (v.utf8) {
    std::string subBlock = table;
    subBlock += '\\';
    subBlock += name;
    std::string text;
    if (!QueryVersionTextUtf8(v.block, v.size, subBlock.c_str(), &text))
      return false;
    PrintSafeUtf8(text.data(), text.size());
    return true;
  }
  const char *value;
  QueryVersionValuesA(v.block, v.size, table, &name, 1, &value);
  if (value == nullptr)
    return false;
  PrintSafeString(value);
  return true;
}

// The three strings every report shows, looked up together where the
// values print in the ANSI code page; in UTF-8 each has its own lookup.
const char *const kRequiredNames[] = {"CompanyName", "FileDescription",
                                      "FileVersion"};
const size_t kRequiredCount = sizeof kRequiredNames / sizeof kRequiredNames[0];

struct Required {
  bool known;
  const char *values[kRequiredCount];
};

// A labelled string that must be there: the label is printed before the
// value, so a missing value leaves the label at the end of the output.
template <size_t N>
bool PrintRequired(ReportText *out, const Values &v, const Required &r,
                   const char (&label)[N], size_t index) {
  PutReportText(out, label, N - 1);
  if (!r.known) {
    FlushReportText(out);
    return PrintValue(v, kRequiredNames[index]);
  }
  if (r.values[index] == nullptr)
    return false;
  PutSafeString(out, r.values[index]);
  return true;
}

void PrintOptional(const Values &v, const char *label, const char *name) {
  printf(label, "   ");
  PrintValue(v, name);
}

// The path as PutSafePath composes it, but for each bidirectional control
// (in UTF-8), given as its escape: with --utf8 the line is read as UTF-8,
// and a name holding one ("setup<U+202E>gpj.exe") would show as another.
// (Windows names are in the ANSI code page: there the path is as ever.)
void PutPathShowingBidi(ReportText *out, const char *path) {
#ifdef _WIN32
  PutSafePath(out, path);
#else
  const unsigned char *p = reinterpret_cast<const unsigned char *>(path);
  size_t length = strlen(path);
  std::string part;
  for (size_t i = 0; i < length;) {
    size_t len = WellFormedUtf8Length(p + i, length - i);
    if (len != 0 && IsBidiControl(Utf8CodePoint(p + i, len))) {
      PutSafePath(out, part.c_str());
      part.clear();
      std::string escape;
      AppendCodePointEscape(Utf8CodePoint(p + i, len), &escape);
      PutReportText(out, escape.data(), escape.size());
      i += len;
      continue;
    }
    if (len == 0)
      len = 1;
    part.append(path + i, len);
    i += len;
  }
  PutSafePath(out, part.c_str());
#endif
}

// The strings and fixed record --dotnet compares, from the loaded block.
void NoteVersions(void *block, DWORD size, DWORD translation,
                  Win32Versions *versions) {
  char table[32];
  TablePath(translation, table);
  const char *const names[] = {"FileVersion", "ProductVersion"};
  const char *values[2];
  QueryVersionValuesA(block, size, table, names, 2, values);
  versions->hasFileVersion = values[0] != nullptr;
  versions->fileVersion = values[0] != nullptr ? values[0] : "";
  versions->hasProductVersion = values[1] != nullptr;
  versions->productVersion = values[1] != nullptr ? values[1] : "";
  versions->hasFixed = QueryFixedRecord(block, size, &versions->fixed);
}

} // namespace

StatusCode ReportLoadedVersion(const char *path, void *block, DWORD size,
                               const TextOptions &options,
                               Win32Versions *versions) {
  LPVOID pointer = nullptr;
  UINT length = 0;
  ReportLookup lookup;
  if (!StartReportLookup(block, size, &lookup, &pointer, &length))
    return kStatusNoTranslation;
  // Only the first entry counts. A value shorter than one entry is read as
  // far as it goes and the rest taken as zero, never past the value or the
  // block.
  unsigned char entry[4] = {0, 0, 0, 0};
  CopyInsideBlock(block, size, pointer, entry,
                  length < sizeof entry ? length : sizeof entry);
  DWORD translation = Le32(entry);
  if (versions != nullptr)
    NoteVersions(block, size, translation, versions);

  Values values = {block, size, translation, options.utf8};
  Required required = {!options.utf8, {nullptr, nullptr, nullptr}};
  if (required.known) {
    char table[32];
    TablePath(translation, table);
    QueryReportStringsA(&lookup, table + kTablePrefixLength, kRequiredNames,
                        kRequiredCount, required.values);
  }
  ReportText out;
  out.used = 0;
  PutReportText(&out, "\n\nProgram Name:      ");
  if (options.utf8)
    PutPathShowingBidi(&out, path);
  else
    PutSafePath(&out, path);
  StatusCode stage = kStatusOk;
  if (!PrintRequired(&out, values, required, "\nCompany Name:      ", 0))
    stage = kStatusNoCompanyName;
  else if (!PrintRequired(&out, values, required, "\nFile Description:  ", 1))
    stage = kStatusNoDescription;
  else if (!PrintRequired(&out, values, required, "\nVersion String:    ", 2))
    stage = kStatusNoVersionString;
  // The file's lines go out in one piece where nothing is printed between
  // them: whatever prints for itself has what was composed before it
  // written out first.
  VS_FIXEDFILEINFO fixed;
  const void *record = stage == kStatusOk ? ReportFixedValue(&lookup) : nullptr;
  if (record == nullptr) {
    FlushReportText(&out);
    return stage != kStatusOk ? stage : kStatusNoFixedInfo;
  }
  // Not bounded by the reported length, as QueryFixedRecord copies it.
  CopyInsideBlock(block, size, record, &fixed, sizeof fixed);
  // Whether a lookup since the record's wrote a code page copy into the
  // block: then the detailed section's own lookup may read another record.
  bool written = false;
  if (fixed.dwFileFlags & kPrivateBuildFlag) {
    FlushReportText(&out);
    PrintOptional(values, "\nPrivate Build:  %s", "PrivateBuild");
    written = true;
  }
  if (fixed.dwFileFlags & kSpecialBuildFlag) {
    FlushReportText(&out);
    PrintOptional(values, "\nSpecial Build:  %s", "SpecialBuild");
    written = true;
  }
  if (options.allStrings) {
    FlushReportText(&out);
    PrintOtherStrings(block, size, translation, fixed.dwFileFlags,
                      options.utf8);
    PrintOtherTables(block, size, translation, options.utf8);
    written = true;
  }
  if (options.detailed) {
    StatusCode status =
        ComposeFixedInfo(&out, block, size, translation, options.utf8,
                         written ? nullptr : &fixed);
    if (status != 0)
      return status;
  }
  PutReportText(&out, "\n", 1);
  FlushReportText(&out);
  return kStatusOk;
}

StatusCode ReportVersion(const char *path, bool detailed) {
  // The record may shorten its path in place; the caller's is const.
  char copy[4096];
  size_t len = strlen(path);
  if (len >= sizeof copy)
    return kStatusNoVersionInfo; // longer than any path the system opens
  memcpy(copy, path, len + 1);
  TextOptions options = {detailed, false, false};
  FileRecord record;
  OpenFileRecord(&record, copy, nullptr, nullptr);
  StatusCode result = ReportRecordVersion(&record, options);
  CloseFileRecord(&record);
  return result;
}

StatusCode ReportRecordVersion(FileRecord *record, const TextOptions &options) {
  return ReportRecordVersion(record, options, nullptr);
}

StatusCode ReportRecordVersion(FileRecord *record, const TextOptions &options,
                               Win32Versions *versions) {
  if (versions != nullptr)
    *versions = Win32Versions();
  DWORD handle = 0;
  DWORD size = GetRecordVersionInfoSize(record, &handle);
  if (size == 0)
    return kStatusNoVersionInfo;
  VersionBlock block;
  StatusCode result = LoadVersionBlock(record, handle, size, &block);
  if (result != kStatusOk)
    return result;
  result =
      ReportLoadedVersion(record->path, block.data, size, options, versions);
  FreeVersionBlock(&block);
  return result;
}

void ReportRecordTables(FileRecord *record, bool utf8) {
  DWORD handle = 0;
  DWORD size = GetRecordVersionInfoSize(record, &handle);
  VersionBlock block;
  if (size == 0 || LoadVersionBlock(record, handle, size, &block) != kStatusOk)
    return;
  PrintEveryTable(block.data, size, utf8);
  FreeVersionBlock(&block);
}

StatusCode LoadVersionBlock(FileRecord *record, DWORD handle, DWORD size,
                            VersionBlock *block) {
  block->data = size <= sizeof block->local ? block->local : malloc(size);
  if (block->data == nullptr)
    return kStatusOutOfMemory;
  if (GetRecordVersionInfo(record, handle, size, block->data))
    return kStatusOk;
  FreeVersionBlock(block);
  return kStatusReadFailed;
}

void FreeVersionBlock(VersionBlock *block) {
  if (block->data != block->local)
    free(block->data);
  block->data = nullptr;
}

void CopyInsideBlock(const void *block, DWORD blockSize, const void *value,
                     void *out, size_t len) {
  memset(out, 0, len);
  // Compared as addresses: a pointer outside the block is no error here.
  uintptr_t start = reinterpret_cast<uintptr_t>(block);
  uintptr_t at = reinterpret_cast<uintptr_t>(value);
  if (at < start || at - start >= blockSize)
    return;
  size_t inside = blockSize - (at - start);
  memcpy(out, value, len < inside ? len : inside);
}

bool QueryFixedRecord(const void *block, DWORD blockSize,
                      VS_FIXEDFILEINFO *fixed) {
  LPVOID pointer = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(block, "\\", &pointer, &length))
    return false;
  // Not bounded by the reported length: a root whose value length is
  // short of a whole record still carries the record's bytes.
  CopyInsideBlock(block, blockSize, pointer, fixed, sizeof *fixed);
  return true;
}

void PrintSafeString(const char *text) {
  PrintMapped(text, [](unsigned char c) {
    return static_cast<char>(c >= 0x20 && c <= 0x7E ? c : ' ');
  });
}

void PrintSafePath(const char *path) { PrintSafePathTo(stdout, path); }

void PutReportTextFlushing(ReportText *out, const char *text, size_t length) {
  FlushReportText(out);
  if (length > sizeof out->text) {
    fwrite(text, 1, length, stdout);
    return;
  }
  memcpy(out->text, text, length);
  out->used = length;
}

void FlushReportText(ReportText *out) {
  if (out->used != 0)
    fwrite(out->text, 1, out->used, stdout);
  out->used = 0;
}

namespace {

// Printable ASCII is composed as it is; anything else goes the printer's
// way, after what was composed before it.
void PutPrintable(ReportText *out, const char *text,
                  void (*print)(const char *)) {
  if (size_t plain = PrintableLength(text)) {
    PutReportText(out, text, plain);
    return;
  }
  FlushReportText(out);
  print(text);
}

} // namespace

void PutSafeString(ReportText *out, const char *text) {
  PutPrintable(out, text, PrintSafeString);
}

void PutSafePath(ReportText *out, const char *path) {
  PutPrintable(out, path, PrintSafePath);
}

#ifdef _WIN32
void PrintSafePathTo(FILE *stream, const char *path) {
  // Names come in the ANSI code page, where bytes 0x80 to 0x9F are letters
  // and signs (the euro sign, ellipsis and trademark sign in 1252): only
  // the ASCII controls are hidden.
  PrintMapped(
      path,
      [](unsigned char c) {
        return static_cast<char>(c < 0x20 || c == 0x7F ? '?' : c);
      },
      stream);
}
#else
void PrintSafePathTo(FILE *stream, const char *path) {
  // Names are bytes, read by a terminal as UTF-8 or, in older set-ups, one
  // byte per character. A C1 control encoded in UTF-8 (CSI, NEL among
  // them) or U+2028, U+2029 is one '?' for the whole sequence, since it is
  // one character that the name holds and the name should keep its length
  // on screen; a byte 0x80 to 0x9F that is no part of a well-formed
  // sequence is a C1 control of its own to a one-byte terminal, and is one
  // '?' too. Other bytes, well-formed or not, print as they are.
  if (size_t plain = PrintableLength(path)) {
    fwrite(path, 1, plain, stream);
    return;
  }
  const unsigned char *p = reinterpret_cast<const unsigned char *>(path);
  size_t length = strlen(path);
  char chunk[256];
  size_t used = 0;
  size_t i = 0;
  while (i < length) {
    if (sizeof chunk - used < 4) {
      fwrite(chunk, 1, used, stream);
      used = 0;
    }
    unsigned char c = p[i];
    size_t len = c < 0x80 ? 0 : WellFormedUtf8Length(p + i, length - i);
    if (len == 0) {
      bool control = c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F);
      chunk[used++] = static_cast<char>(control ? '?' : c);
      ++i;
    } else if (IsC1OrLineSeparator(p + i, len)) {
      chunk[used++] = '?';
      i += len;
    } else {
      memcpy(chunk + used, p + i, len);
      used += len;
      i += len;
    }
  }
  if (used != 0)
    fwrite(chunk, 1, used, stream);
}
#endif
