#include "lint.h"

#include <stdio.h>
#include <string.h>

#include <utility>

#include "ascii_case.h"
#include "codepage1252.h"
#include "decimal.h"
#include "json_writer.h"
#include "platform_extra.h"
#include "report.h"
#include "unicode_text.h"
#include "version_text.h"

namespace {

// The one catalogue of rules: the severity of each, by number. An error is
// what makes Windows show something wrong, or a resource contradict itself
// (two answers to one question); what is missing or merely suspicious is a
// warning: a file without a CompanyName is incomplete, not wrong.
const LintSeverity kSeverities[kLintRuleCount + 1] = {
    kLintWarning, // unused
    kLintError,   // QV001 no version resource: installers see no version
    kLintError,   // QV002 no Translation: the strings there are never found
    kLintError,   // QV003 the entry Windows uses names no table
    kLintWarning, // QV004 another entry names no table
    kLintError,   // QV005 neutral against language-specific
    kLintWarning, // QV006 CompanyName
    kLintWarning, // QV007 FileDescription
    kLintWarning, // QV008 FileVersion
    kLintWarning, // QV009 ProductName
    kLintWarning, // QV010 ProductVersion
    kLintError,   // QV011 FileVersion against the fixed record
    kLintError,   // QV012 ProductVersion against the fixed record
    kLintWarning, // QV013 OriginalFilename
    kLintWarning, // QV014 DEBUG
    kLintWarning, // QV015 PRERELEASE
    kLintWarning, // QV016 PATCHED
    kLintWarning, // QV017 PRIVATEBUILD without PrivateBuild
    kLintWarning, // QV018 SPECIALBUILD without SpecialBuild
    kLintWarning, // QV019 PrivateBuild without PRIVATEBUILD
    kLintWarning, // QV020 SpecialBuild without SPECIALBUILD
    kLintError,   // QV021 no fixed record, or a wrong signature
    kLintWarning, // QV022 an unknown structure version
    kLintWarning, // QV023 control characters
    kLintWarning, // QV024 NULs counted in the length
    kLintWarning, // QV025 text the code page cannot hold
    kLintError,   // QV026 languages whose versions differ
};

// VS_FIXEDFILEINFO as winver.h defines it.
const DWORD kFixedSignature = 0xFEEF04BDu;    // VS_FFI_SIGNATURE
const DWORD kFixedStrucVersion = 0x00010000u; // VS_FFI_STRUCVERSION
const DWORD kFlagDebug = 0x01;                // VS_FF_DEBUG
const DWORD kFlagPrerelease = 0x02;           // VS_FF_PRERELEASE
const DWORD kFlagPatched = 0x04;              // VS_FF_PATCHED
const DWORD kFlagPrivateBuild = 0x08;         // VS_FF_PRIVATEBUILD
const DWORD kFlagSpecialBuild = 0x20;         // VS_FF_SPECIALBUILD

// The strings the rules read, each found as the lookup finds it: the
// first key equal to the name without regard to ASCII case.
enum KnownString {
  kCompanyName,
  kFileDescription,
  kFileVersion,
  kProductName,
  kProductVersion,
  kOriginalFilename,
  kPrivateBuild,
  kSpecialBuild,
  kKnownCount
};
const char *const kKnownNames[kKnownCount] = {
    "CompanyName",    "FileDescription",  "FileVersion",  "ProductName",
    "ProductVersion", "OriginalFilename", "PrivateBuild", "SpecialBuild"};

struct Lint {
  const LintOptions &options;
  std::vector<LintFinding> *findings;
  const VersionText *known[kKnownCount]; // null where missing
};

// Finds every known string in one pass over the table.
void FindKnownStrings(const VersionFacts &f, Lint *lint) {
  size_t lengths[kKnownCount];
  for (int i = 0; i < kKnownCount; ++i) {
    lint->known[i] = nullptr;
    lengths[i] = strlen(kKnownNames[i]);
  }
  if (!f.hasTable)
    return;
  for (const VersionText &s : f.strings)
    for (int i = 0; i < kKnownCount; ++i)
      if (lint->known[i] == nullptr && s.key.size() == lengths[i] &&
          EqualNoCaseAscii(s.key.c_str(), kKnownNames[i])) {
        lint->known[i] = &s;
        break;
      }
}

void Add(Lint *lint, int rule, const std::string &message) {
  if (lint->options.ignored[rule])
    return;
  lint->findings->push_back({rule, kSeverities[rule], message});
}

std::string Hex(unsigned value, int digits) {
  char text[16];
  snprintf(text, sizeof text, "%0*x", digits, value);
  return text;
}

std::string Decimal(unsigned long long value) {
  char digits[kMaxDecimalDigits];
  return std::string(digits, FormatDecimal(value, digits));
}

// A value of the file, quoted as a JSON string: quotes, backslashes and
// every control character escaped, so that no value breaks a line.
std::string Quote(const std::string &text) {
  JsonWriter w = JsonWriter();
  JsonString(&w, text);
  return JsonFinish(&w);
}

// The table key a translation entry names, as the lookup composes it:
// language, then code page, four lowercase hexadecimal digits each.
std::string TableKey(uint32_t translation) {
  return Hex(translation & 0xFFFFu, 4) + Hex(translation >> 16, 4);
}

// An entry as a resource script writes it: VALUE "Translation", 0x0409, 1200.
std::string EntryText(uint32_t translation) {
  return "0x" + Hex(translation & 0xFFFFu, 4) + ", " +
         Decimal(translation >> 16);
}

// A table's key read back as the entry that names it; false for a key
// that is not eight hexadecimal digits.
bool EntryOfTable(const std::string &key, uint32_t *entry) {
  if (key.size() != 8)
    return false;
  unsigned long language = 0, codePage = 0;
  for (size_t i = 0; i < 8; ++i) {
    char c = static_cast<char>(LowerAscii(static_cast<unsigned char>(key[i])));
    int digit = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                       : -1;
    if (digit < 0)
      return false;
    unsigned long &part = i < 4 ? language : codePage;
    part = part * 16 + static_cast<unsigned long>(digit);
  }
  *entry = static_cast<uint32_t>(codePage << 16 | language);
  return true;
}

bool HasTable(const VersionFacts &f, uint32_t translation) {
  std::string key = TableKey(translation);
  for (const std::string &table : f.tableKeys)
    if (EqualNoCaseAscii(table.c_str(), key.c_str()))
      return true;
  return false;
}

// Which tables a suggestion prefers.
enum TableKind { kAnyTable, kNeutralTable, kSpecificTable };

// The entry that would name a table the file has: the first table whose
// key reads as one, preferring one of the kind wanted. False when no
// table's key reads as an entry.
bool SuggestEntry(const VersionFacts &f, TableKind kind, uint32_t *entry) {
  bool found = false;
  for (const std::string &table : f.tableKeys) {
    uint32_t candidate;
    if (!EntryOfTable(table, &candidate))
      continue;
    bool neutral = (candidate & 0xFFFFu) == 0;
    if (kind == kAnyTable || neutral == (kind == kNeutralTable)) {
      *entry = candidate;
      return true;
    }
    if (!found)
      *entry = candidate;
    found = true;
  }
  return found;
}

std::string Suggestion(const VersionFacts &f, TableKind kind) {
  uint32_t entry;
  if (!SuggestEntry(f, kind, &entry))
    return f.tableKeys.empty() ? "; the file has no string table at all" : "";
  return "; the table " + TableKey(entry) + " exists: VALUE \"Translation\", " +
         EntryText(entry) + " would name it";
}

// QV002 to QV005: the translation entries against the tables.
void CheckTranslations(Lint *lint, const VersionFacts &f) {
  // A value too short for a whole entry is read as far as it goes, and
  // may still name a table.
  if (!f.hasTranslations || (f.translations.empty() && !f.hasTable)) {
    Add(lint, kLintNoTranslation,
        std::string(f.hasTranslations
                        ? "\\VarFileInfo\\Translation holds no whole entry"
                        : "no \\VarFileInfo\\Translation value") +
            ": Windows looks strings up in the table it names, and finds "
            "none" +
            Suggestion(f, kAnyTable));
    return;
  }
  uint32_t first = f.translation;
  if (!f.hasTable) {
    // Neutral against language-specific: the entry's language kind has no
    // table, the other kind has.
    bool entryNeutral = (first & 0xFFFFu) == 0;
    bool sameKind = false, otherKind = false;
    for (const std::string &table : f.tableKeys) {
      uint32_t entry;
      if (!EntryOfTable(table, &entry))
        continue;
      bool tableNeutral = (entry & 0xFFFFu) == 0;
      (tableNeutral == entryNeutral ? sameKind : otherKind) = true;
    }
    if (otherKind && !sameKind)
      Add(lint, kLintNeutralMismatch,
          std::string("the Translation entry ") + EntryText(first) +
              (entryNeutral ? " is language neutral but the string table is "
                              "language-specific"
                            : " names a language but the string table is "
                              "language neutral") +
              ", so Windows finds no strings" +
              Suggestion(f, entryNeutral ? kSpecificTable : kNeutralTable));
    else
      Add(lint, kLintTranslationWithoutTable,
          "the Translation entry " + EntryText(first) + " names the table " +
              TableKey(first) +
              ", which does not exist: Windows finds no strings" +
              Suggestion(f, entryNeutral ? kNeutralTable : kSpecificTable));
  }
  for (size_t i = 1; i < f.translations.size(); ++i) {
    uint32_t entry = f.translations[i];
    if (entry != first && !HasTable(f, entry))
      Add(lint, kLintOtherTranslationWithoutTable,
          "the Translation entry " + EntryText(entry) + " names the table " +
              TableKey(entry) + ", which does not exist");
  }
}

bool Blank(const std::string &text) {
  return text.find_first_not_of(' ') == std::string::npos;
}

// QV006 to QV010: the strings Windows shows.
void CheckShownStrings(Lint *lint, const VersionFacts &f) {
  const struct {
    int rule;
    KnownString name;
  } shown[] = {
      {kLintNoCompanyName, kCompanyName},
      {kLintNoFileDescription, kFileDescription},
      {kLintNoFileVersion, kFileVersion},
      {kLintNoProductName, kProductName},
      {kLintNoProductVersion, kProductVersion},
  };
  for (const auto &s : shown) {
    const VersionText *text = lint->known[s.name];
    const char *name = kKnownNames[s.name];
    if (text == nullptr)
      Add(lint, s.rule,
          "the string table " + TableKey(f.translation) + " has no " + name +
              ": Windows shows none");
    else if (Blank(text->value))
      Add(lint, s.rule,
          std::string(name) + " is empty: Windows shows nothing for it");
  }
}

// QV011, QV012: a version string whose numbers are not the fixed record's.
// A string of fewer numbers is compared as far as it goes ("5.0" for
// 5.0.2147.1, as Windows' own files write their product versions), and
// three numbers may also be the Windows 9x form, whose third is the build
// ("4.00.950" for 4.0.0.950); what follows the numbers is not compared; a
// string that starts with no number is no version to compare.
void CheckDrift(Lint *lint, const VersionFacts &f, int rule, KnownString which,
                DWORD ms, DWORD ls) {
  const VersionText *text = lint->known[which];
  const char *name = kKnownNames[which];
  std::string dotted, suffix;
  if (text == nullptr || !f.hasFixed ||
      !NormaliseVersion(text->value, &dotted, &suffix))
    return;
  const unsigned long fixed[4] = {ms >> 16, ms & 0xFFFFu, ls >> 16,
                                  ls & 0xFFFFu};
  unsigned long parts[4] = {0, 0, 0, 0};
  size_t count = 1;
  for (char c : dotted) {
    if (c == '.')
      ++count;
    else
      parts[count - 1] =
          parts[count - 1] * 10 + static_cast<unsigned long>(c - '0');
  }
  bool same = true;
  for (size_t i = 0; i < count; ++i)
    same = same && parts[i] == fixed[i];
  bool build = count == 3 && parts[0] == fixed[0] && parts[1] == fixed[1] &&
               fixed[2] == 0 && parts[2] == fixed[3];
  if (same || build)
    return;
  std::string record;
  for (int i = 0; i < 4; ++i)
    record += (i != 0 ? "." : "") + Decimal(fixed[i]);
  Add(lint, rule,
      std::string(name) + " " + Quote(text->value) +
          " is not the fixed record's " + record +
          ": programs that read the string and programs that read the "
          "record show different versions");
}

// The last component of a path, after its last '/' or '\\'.
std::string LastComponent(const char *path) {
  std::string utf8;
  AppendPathAsUtf8(path, &utf8);
  size_t slash = utf8.find_last_of("/\\");
  return slash == std::string::npos ? utf8 : utf8.substr(slash + 1);
}

void CheckOriginalFilename(Lint *lint, const char *path) {
  const VersionText *text = lint->known[kOriginalFilename];
  if (text == nullptr || Blank(text->value))
    return;
  std::string name = LastComponent(path);
  if (EqualNoCaseAscii(text->value.c_str(), name.c_str()))
    return;
  Add(lint, kLintOriginalFilename,
      "OriginalFilename " + Quote(text->value) + " is not the file's name, " +
          Quote(name) +
          ": the file was renamed, or a template's name was "
          "left in");
}

// QV014 to QV020: the fixed record's flags and the build strings.
void CheckFlags(Lint *lint, const VersionFacts &f) {
  DWORD flags = f.fixed.dwFileFlags;
  const struct {
    int rule;
    DWORD flag;
    const char *what;
  } marks[] = {
      {kLintDebugFlag, kFlagDebug, "a debug build (VS_FF_DEBUG)"},
      {kLintPrereleaseFlag, kFlagPrerelease,
       "a prerelease build (VS_FF_PRERELEASE)"},
      {kLintPatchedFlag, kFlagPatched, "a patched build (VS_FF_PATCHED)"},
  };
  for (const auto &m : marks)
    if (flags & m.flag)
      Add(lint, m.rule, std::string("the fixed record marks ") + m.what);
  const struct {
    int flagOnly, stringOnly;
    DWORD flag;
    const char *flagName;
    KnownString which;
  } builds[] = {
      {kLintPrivateBuildFlagOnly, kLintPrivateBuildStringOnly,
       kFlagPrivateBuild, "VS_FF_PRIVATEBUILD", kPrivateBuild},
      {kLintSpecialBuildFlagOnly, kLintSpecialBuildStringOnly,
       kFlagSpecialBuild, "VS_FF_SPECIALBUILD", kSpecialBuild},
  };
  for (const auto &b : builds) {
    const VersionText *text = lint->known[b.which];
    const char *name = kKnownNames[b.which];
    bool hasText = text != nullptr && !Blank(text->value);
    if ((flags & b.flag) && !hasText && f.hasTable)
      Add(lint, b.flagOnly,
          std::string(b.flagName) + " is set but the string table has no " +
              name + " to say what the build is");
    if (!(flags & b.flag) && hasText)
      Add(lint, b.stringOnly,
          std::string(name) + " " + Quote(text->value) + " is there but " +
              b.flagName + " is not set: Windows does not show it");
  }
}

void CheckFixedRecord(Lint *lint, const VersionFacts &f) {
  if (!f.hasFixed) {
    Add(lint, kLintFixedSignature,
        "no fixed version record (VS_FIXEDFILEINFO): Windows shows no "
        "file version");
    return;
  }
  if (f.fixed.dwSignature != kFixedSignature)
    Add(lint, kLintFixedSignature,
        "the fixed record's signature is 0x" + Hex(f.fixed.dwSignature, 8) +
            ", not 0xfeef04bd: readers that check it ignore the record");
  if (f.fixed.dwStrucVersion != kFixedStrucVersion)
    Add(lint, kLintFixedStrucVersion,
        "the fixed record's structure version is 0x" +
            Hex(f.fixed.dwStrucVersion, 8) +
            ", not 0x00010000, the only one Windows defines");
}

// The code point of a well-formed UTF-8 sequence of len bytes.
unsigned long CodePoint(const unsigned char *p, size_t len) {
  if (len == 1)
    return p[0];
  unsigned long cp = p[0] & (0x7Fu >> len);
  for (size_t i = 1; i < len; ++i)
    cp = cp << 6 | (p[i] & 0x3Fu);
  return cp;
}

bool IsControl(unsigned long cp) {
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x2028 ||
         cp == 0x2029;
}

// Whether a character can be written in a code page: what we know of it.
// 0 is 7-bit ASCII; 1252 has its table; 1200 (UTF-16) holds everything
// but a surrogate without its pair, which the UTF-8 holds as U+FFFD and
// VersionText notes; others are not checked.
bool FitsCodePage(unsigned long cp, unsigned codePage) {
  if (codePage == 0)
    return cp < 0x80;
  if (codePage == 1252)
    return cp < 0x10000 &&
           Cp1252ToUnicode(UnicodeToCp1252(static_cast<unsigned short>(cp))) ==
               cp;
  return true;
}

std::string CodePointText(unsigned long cp) {
  char text[16];
  snprintf(text, sizeof text, "U+%04lX", cp);
  return text;
}

// QV023 to QV025: each value of the table, as stored.
void CheckValues(Lint *lint, const VersionFacts &f) {
  unsigned codePage = f.translation >> 16;
  for (size_t i = 0; i < f.strings.size(); ++i) {
    const VersionText &s = f.strings[i];
    const unsigned char *p =
        reinterpret_cast<const unsigned char *>(s.value.data());
    size_t n = s.value.size();
    unsigned long control = 0, misfit = 0;
    bool haveControl = false, haveMisfit = false;
    for (size_t at = 0; at < n;) {
      // ASCII, nearly all there is, fits every code page checked.
      if (p[at] >= 0x20 && p[at] < 0x7F) {
        ++at;
        continue;
      }
      bool wellFormed;
      size_t len = Utf8SequenceLength(p + at, n - at, &wellFormed);
      unsigned long cp = wellFormed ? CodePoint(p + at, len) : 0xFFFD;
      if (!haveControl && IsControl(cp)) {
        haveControl = true;
        control = cp;
      }
      if (!haveMisfit && !FitsCodePage(cp, codePage)) {
        haveMisfit = true;
        misfit = cp;
      }
      at += len;
    }
    if (!haveControl && !haveMisfit && s.zerosPast == 0 && !s.textPastZero &&
        !s.unpairedSurrogate)
      continue;
    std::string name = Quote(s.key);
    if (haveControl)
      Add(lint, kLintControlCharacters,
          name + " holds a control character (" + CodePointText(control) +
              "), which Windows shows as a box or not at all");
    if (s.zerosPast > 0)
      Add(lint, kLintNulsInLength,
          name + " counts " + Decimal(s.zerosPast) + " NUL" +
              (s.zerosPast > 1 ? "s" : "") +
              " past its terminator in its length (\"\\0\" written in the "
              "script)");
    if (s.textPastZero)
      Add(lint, kLintNulsInLength,
          name + " holds text after a NUL within its length, which no "
                 "lookup shows");
    if (s.unpairedSurrogate)
      Add(lint, kLintInvalidInCodePage,
          name + " holds a UTF-16 surrogate without its pair");
    else if (haveMisfit)
      Add(lint, kLintInvalidInCodePage,
          name + " holds " + CodePointText(misfit) + ", which code page " +
              Decimal(codePage) + " of the table " + TableKey(f.translation) +
              " cannot hold");
  }
}

std::string Dotted(DWORD ms, DWORD ls) {
  return Decimal(ms >> 16) + "." + Decimal(ms & 0xFFFFu) + "." +
         Decimal(ls >> 16) + "." + Decimal(ls & 0xFFFFu);
}

// QV026: every language's fixed record against the one Windows picks.
void CheckLanguages(Lint *lint, const VersionFacts &f) {
  if (!f.hasFixed)
    return;
  const VS_FIXEDFILEINFO &r = f.fixed;
  for (const LanguageVersion &v : f.languageVersions) {
    if (!v.hasFixed ||
        (v.fileMs == r.dwFileVersionMS && v.fileLs == r.dwFileVersionLS &&
         v.productMs == r.dwProductVersionMS &&
         v.productLs == r.dwProductVersionLS))
      continue;
    Add(lint, kLintLanguagesDiffer,
        "the version resource in language 0x" + Hex(v.language, 4) +
            " has file version " + Dotted(v.fileMs, v.fileLs) +
            " and product version " + Dotted(v.productMs, v.productLs) +
            "; the one Windows picks has " +
            Dotted(r.dwFileVersionMS, r.dwFileVersionLS) + " and " +
            Dotted(r.dwProductVersionMS, r.dwProductVersionLS) +
            ": users of other languages see another version");
  }
}

// Every check of one file, in the order they build on each other.
void CheckFile(Lint *lint, const char *path, StatusCode status,
               const VersionFacts &f) {
  if (status == kStatusNoVersionInfo) {
    // Only programs and DLLs with code: a file of resources alone, or one
    // that is no executable, has no version to show.
    bool pe = f.image.kind == kKindPe32 || f.image.kind == kKindPe32Plus;
    if (pe && f.image.code)
      Add(lint, kLintNoVersion,
          "no version resource: Windows shows no version, description or "
          "product name for this file");
    return;
  }
  if (status == kStatusReadFailed || status == kStatusOutOfMemory)
    return;
  CheckTranslations(lint, f);
  if (f.hasTable) {
    CheckShownStrings(lint, f);
    CheckDrift(lint, f, kLintFileVersionDrift, kFileVersion,
               f.fixed.dwFileVersionMS, f.fixed.dwFileVersionLS);
    CheckDrift(lint, f, kLintProductVersionDrift, kProductVersion,
               f.fixed.dwProductVersionMS, f.fixed.dwProductVersionLS);
    CheckOriginalFilename(lint, path);
  }
  if (f.hasFixed)
    CheckFlags(lint, f);
  CheckFixedRecord(lint, f);
  if (f.hasTable)
    CheckValues(lint, f);
  CheckLanguages(lint, f);
}

} // namespace

bool IgnoreLintRules(const char *list, LintOptions *options) {
  LintOptions updated = *options;
  const char *p = list;
  for (;;) {
    const char *comma = strchr(p, ',');
    size_t len = comma == nullptr ? strlen(p) : static_cast<size_t>(comma - p);
    int rule = 0;
    bool ok = len == 5 && (p[0] == 'Q' || p[0] == 'q') &&
              (p[1] == 'V' || p[1] == 'v');
    for (size_t i = 2; ok && i < 5; ++i) {
      ok = p[i] >= '0' && p[i] <= '9';
      rule = rule * 10 + (p[i] - '0');
    }
    if (!ok || rule < 1 || rule > kLintRuleCount)
      return false;
    updated.ignored[rule] = true;
    if (comma == nullptr)
      break;
    p = comma + 1;
  }
  *options = updated;
  return true;
}

std::string LintRuleId(int rule) {
  std::string id = "QV000";
  for (size_t i = 4; i >= 2 && rule > 0; --i, rule /= 10)
    id[i] = static_cast<char>('0' + rule % 10);
  return id;
}

const char *LintSeverityWord(LintSeverity severity) {
  return severity == kLintError ? "error" : "warning";
}

LintSeverity LintRuleSeverity(int rule) {
  return rule >= 1 && rule <= kLintRuleCount ? kSeverities[rule] : kLintWarning;
}

void LintVersionFacts(const char *path, StatusCode status,
                      const VersionFacts &f, const LintOptions &options,
                      std::vector<LintFinding> *findings) {
  Lint lint = {options, findings, {}};
  FindKnownStrings(f, &lint);
  size_t first = findings->size();
  CheckFile(&lint, path, status, f);
  // In rule order, whatever order the checks found them in, each rule's in
  // the order found: an insertion sort of the few there are.
  std::vector<LintFinding> &v = *findings;
  for (size_t i = first + 1; i < v.size(); ++i)
    for (size_t j = i; j > first && v[j - 1].rule > v[j].rule; --j)
      std::swap(v[j - 1], v[j]);
}
