// The detailed section: the fixed record's numbers, flags, target system,
// type and subtype, and the translation's character set and language,
// each decoded through a table of fixed texts.
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "decimal.h"
#include "literal.h"
#include "report.h"
#include "unicode_text.h"

namespace {

struct Decode {
  DWORD value;
  Literal text;
};

const Decode kFileOs[] = {
    {0x00000, "Unknown OS"},
    {0x00001, "16-bit Windows"},
    {0x00002, "16-bit Presentation Manager"},
    {0x00003, "32-bit Presentation Manager"},
    {0x00004, "Win32 API"},
    {0x10000, "MS-DOS"},
    {0x10001, "16-bit Windows running on MS-DOS"},
    {0x10004, "Win32 API running on MS-DOS"},
    {0x20000, "16-bit OS/2"},
    {0x20002, "16-bit Presentation Manager running on 16-bit OS/2"},
    {0x30000, "32-bit OS/2"},
    {0x30003, "32-bit Presentation Manager running on 32-bit OS/2"},
    {0x40000, "Windows NT"},
    {0x40004, "Win32 API running on Windows NT"},
};

const Decode kFileType[] = {
    {0, "unknown to Windows"},
    {1, "Application"},
    {2, "Dynamic-link library (DLL)"},
    {3, "Device driver"},
    {4, "Font"},
    {5, "Virtual device"},
    {7, "Static-link library"},
};

const DWORD kTypeDriver = 3; // VFT_DRV
const DWORD kTypeFont = 4;   // VFT_FONT

const Decode kDriverSubtype[] = {
    {0, "Unknown by Windows"}, {1, "Printer driver"}, {2, "Keyboard driver"},
    {3, "Language driver"},    {4, "Display driver"}, {5, "Mouse driver"},
    {6, "Network driver"},     {7, "System driver"},  {8, "Installable driver"},
    {9, "Sound driver"},
};

const Decode kFontSubtype[] = {
    {0, "Unknown by Windows"},
    {1, "Raster font"},
    {2, "Vector font"},
    {3, "TrueType font"},
};

const Decode kCharacterSet[] = {
    {0, "7-bit ASCII"},
    {932, "Windows, Japan (Shift - JIS X-0208)"},
    {949, "Windows, Korea (Shift - KSC 5601)"},
    {950, "Windows, Taiwan (GB5)"},
    {1200, "Unicode"},
    {1250, "Windows, Latin-2 (Eastern European)"},
    {1251, "Windows, Cyrillic"},
    {1252, "Windows, Multilingual"},
    {1253, "Windows, Greek"},
    {1254, "Windows, Turkish"},
    {1255, "Windows, Hebrew"},
    {1256, "Windows, Arabic"},
};

constexpr Decode kLanguage[] = {
    {0x0000, "Language-Neutral"},
    {0x0400, "Process Default Language"},
    {0x0401, "Arabic"},
    {0x0402, "Bulgarian"},
    {0x0403, "Catalan"},
    {0x0404, "Traditional Chinese"},
    {0x0405, "Czech"},
    {0x0406, "Danish"},
    {0x0407, "German"},
    {0x0408, "Greek"},
    {0x0409, "U.S. English"},
    {0x040A, "Castilian Spanish"},
    {0x040B, "Finnish"},
    {0x040C, "French"},
    {0x040D, "Hebrew"},
    {0x040E, "Hungarian"},
    {0x040F, "Icelandic"},
    {0x0410, "Italian"},
    {0x0411, "Japanese"},
    {0x0412, "Korean"},
    {0x0413, "Dutch"},
    {0x0414, "Norwegian Bokm\xE5l"}, // code page 1252, as printed
    {0x0415, "Polish"},
    {0x0416, "Brazilian Portuguese"},
    {0x0417, "Rhaeto-Romanic"},
    {0x0418, "Romanian"},
    {0x0419, "Russian"},
    {0x041A, "Croato-Serbian (Latin)"},
    {0x041B, "Slovak"},
    {0x041C, "Albanian"},
    {0x041D, "Swedish"},
    {0x041E, "Thai"},
    {0x041F, "Turkish"},
    {0x0420, "Urdu"},
    {0x0421, "Bahasa"},
    {0x0804, "Simplified Chinese"},
    {0x0807, "Swiss German"},
    {0x0809, "U.K. English"},
    {0x080A, "Mexican Spanish"},
    {0x080C, "Belgian French"},
    {0x0810, "Swiss Italian"},
    {0x0813, "Belgian Dutch"},
    {0x0814, "Norwegian Nynorsk"},
    {0x0816, "Portuguese"},
    {0x081A, "Serbo-Croatian (Cyrillic)"},
    {0x0C09, "Australian English"},
    {0x0C0A, "Modern Spanish"},
    {0x0C0C, "Canadian French"},
    {0x1009, "Canadian English"},
    {0x100C, "Swiss French"},
};

// The flag words in the order they are printed; every word but the last
// carries its own comma.
const Decode kFileFlags[] = {
    {0x01, "DEBUG,"},      {0x10, "INFERRED,"},     {0x04, "PATCHED,"},
    {0x02, "PRERELEASE,"}, {0x08, "PRIVATEBUILD,"}, {0x20, "SPECIALBUILD"},
};

const Decode *LanguageRow(unsigned language) {
  const Decode *end = std::end(kLanguage);
  const Decode *row = std::lower_bound(
      std::begin(kLanguage), end, language,
      [](const Decode &r, unsigned id) { return r.value < id; });
  return row != end && row->value == language ? row : nullptr;
}

unsigned High(DWORD value) { return static_cast<unsigned>(value >> 16); }
unsigned Low(DWORD value) { return static_cast<unsigned>(value & 0xFFFFu); }

// A label and four 16-bit numbers joined by dots, the second with at least
// minSecond digits, as "%u.%02u.%u.%u" would; composed by hand, since
// formatted printing cost more than the rest of the section, and in place
// in the report's text, whose room is made first.
template <size_t N>
void PutNumbers(ReportText *s, const char (&label)[N],
                const unsigned (&parts)[4], int minSecond) {
  // The label and four five-digit numbers with their dots.
  const size_t kLongest = N - 1 + 4 * 5 + 3;
  static_assert(kLongest <= sizeof s->text, "a line fits an empty text");
  if (sizeof s->text - s->used < kLongest)
    FlushReportText(s);
  char *line = s->text + s->used;
  memcpy(line, label, N - 1);
  size_t used = N - 1;
  for (int i = 0; i < 4; ++i) {
    if (i > 0)
      line[used++] = '.';
    // Masked: five digits at most is what makes the room above enough.
    used += FormatDecimal(parts[i] & 0xFFFFu, line + used,
                          i == 1 ? static_cast<size_t>(minSecond) : 1);
  }
  s->used += used;
}

template <size_t N>
void PutDecoded(ReportText *s, const Decode (&table)[N], DWORD value) {
  for (const Decode &row : table)
    if (row.value == value) {
      PutReportText(s, row.text.text, row.text.length);
      return;
    }
}

template <size_t N>
const char *FindText(const Decode (&table)[N], DWORD value) {
  for (const Decode &row : table)
    if (row.value == value)
      return row.text.text;
  return nullptr;
}

// A table text in UTF-8: only "Norwegian Bokm\xE5l" is not plain ASCII.
void PutUtf8Text(ReportText *s, const char *text) {
  if (text == nullptr)
    return;
  std::string utf8;
  AppendCp1252AsUtf8(text, strlen(text), &utf8);
  PutReportText(s, utf8.c_str());
}

} // namespace

StatusCode ReportFixedInfo(const void *block, DWORD blockSize,
                           DWORD translation) {
  return ReportFixedInfo(block, blockSize, translation, false);
}

StatusCode ReportFixedInfo(const void *block, DWORD blockSize,
                           DWORD translation, bool utf8,
                           const VS_FIXEDFILEINFO *known) {
  ReportText s;
  s.used = 0;
  StatusCode status =
      ComposeFixedInfo(&s, block, blockSize, translation, utf8, known);
  FlushReportText(&s);
  return status;
}

StatusCode ComposeFixedInfo(ReportText *out, const void *block, DWORD blockSize,
                            DWORD translation, bool utf8,
                            const VS_FIXEDFILEINFO *known) {
  // Its own lookup, not the short report's record: string lookups between
  // the two write their copies into the block, where a record cut short
  // by the tree's end reads them.
  VS_FIXEDFILEINFO fixed;
  if (known != nullptr) {
    fixed = *known;
  } else if (!QueryFixedRecord(block, blockSize, &fixed)) {
    FlushReportText(out);
    fputs("\nCan't get fileversion", stdout);
    return kStatusNoFixedInfo;
  }
  ReportText &s = *out;
  // Each half is an unsigned 16-bit number: 65535 never prints negative.
  PutNumbers(&s, "\nVersion Number:\t   ",
             {High(fixed.dwFileVersionMS), Low(fixed.dwFileVersionMS),
              High(fixed.dwFileVersionLS), Low(fixed.dwFileVersionLS)},
             2);
  PutNumbers(&s, "\nProduct Number:\t   ",
             {High(fixed.dwProductVersionMS), Low(fixed.dwProductVersionMS),
              High(fixed.dwProductVersionLS), Low(fixed.dwProductVersionLS)},
             1);
  PutReportText(&s, "\nFile Flags:\t   ");
  for (const Decode &flag : kFileFlags)
    if (fixed.dwFileFlags & flag.value)
      PutReportText(&s, flag.text.text, flag.text.length);
  PutReportText(&s, "\nFile OS:\t   ");
  PutDecoded(&s, kFileOs, fixed.dwFileOS);
  PutReportText(&s, "\nFile Type:\t   ");
  PutDecoded(&s, kFileType, fixed.dwFileType);
  if (fixed.dwFileType == kTypeDriver) {
    PutReportText(&s, "\nFile Subtype:\t   ");
    PutDecoded(&s, kDriverSubtype, fixed.dwFileSubtype);
  } else if (fixed.dwFileType == kTypeFont) {
    PutReportText(&s, "\nFile Subtype:\t   ");
    PutDecoded(&s, kFontSubtype, fixed.dwFileSubtype);
  }
  PutReportText(&s, "\nCharacter Set:\t   ");
  PutDecoded(&s, kCharacterSet, translation >> 16);
  PutReportText(&s, "\nLanguage:\t   ");
  const Decode *language = LanguageRow(translation & 0xFFFFu);
  if (language == nullptr)
    return kStatusOk;
  if (utf8)
    PutUtf8Text(&s, language->text.text);
  else
    PutReportText(&s, language->text.text, language->text.length);
  return kStatusOk;
}

const char *FileOsText(DWORD fileOs) { return FindText(kFileOs, fileOs); }

const char *FileTypeText(DWORD fileType) {
  return FindText(kFileType, fileType);
}

const char *FileSubtypeText(DWORD fileType, DWORD fileSubtype) {
  if (fileType == kTypeDriver)
    return FindText(kDriverSubtype, fileSubtype);
  if (fileType == kTypeFont)
    return FindText(kFontSubtype, fileSubtype);
  return nullptr;
}

const char *CharacterSetText(unsigned codePage) {
  return FindText(kCharacterSet, codePage);
}

// The IDs rise strictly: the lookup halves the table, as every JSON object
// looks a language up several times (as language_names.cpp looks up the
// locale names).
constexpr bool LanguagesAscend() {
  for (size_t i = 1; i < std::size(kLanguage); ++i)
    if (kLanguage[i - 1].value >= kLanguage[i].value)
      return false;
  return true;
}
static_assert(LanguagesAscend(), "kLanguage must rise by ID");

const char *LanguageText(unsigned language) {
  const Decode *row = LanguageRow(language);
  return row != nullptr ? row->text.text : nullptr;
}

int FileFlagWords(DWORD fileFlags, const char *words[6], size_t lengths[6]) {
  int count = 0;
  for (const Decode &flag : kFileFlags)
    if ((fileFlags & flag.value) != 0 && count < 6) {
      size_t len = flag.text.length;
      if (len > 0 && flag.text.text[len - 1] == ',')
        --len;
      words[count] = flag.text.text;
      lengths[count] = len;
      ++count;
    }
  return count;
}
