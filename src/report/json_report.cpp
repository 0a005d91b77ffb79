#include "json_report.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string_view>
#include <unordered_set>

#include "check_report.h"
#include "decimal.h"
#include "fact_fields.h"
#include "json_fields.h"
#include "json_writer.h"
#include "literal.h"
#include "platform_extra.h"
#include "report.h"
#include "signature_report.h"
#include "unicode_text.h"
#include "version_text.h"

namespace {

// A table text of the detailed report (code page 1252) as a JSON string,
// or null where the report prints none.
void WriteTableText(JsonWriter *w, const char *text) {
  if (text == nullptr) {
    JsonNull(w);
    return;
  }
  size_t length = strlen(text);
  bool ascii = true;
  for (size_t i = 0; i < length && ascii; ++i)
    ascii = static_cast<unsigned char>(text[i]) < 0x80;
  if (ascii) {
    JsonString(w, text, length);
    return;
  }
  std::string utf8;
  AppendCp1252AsUtf8(text, length, &utf8);
  JsonString(w, utf8);
}

// The number and its four hex digits, as people write language IDs and
// code pages and as a table key spells them.
void WriteIdAndHex(JsonWriter *w, unsigned id) {
  JsonKey(w, "id");
  JsonNumber(w, id);
  JsonKey(w, "hex");
  // Four hex digits need no escaping: written as they stand.
  static const char kDigits[] = "0123456789abcdef";
  const char hex[] = {kDigits[(id >> 12) & 0xFu], kDigits[(id >> 8) & 0xFu],
                      kDigits[(id >> 4) & 0xFu], kDigits[id & 0xFu]};
  JsonPlainString(w, hex, sizeof hex);
}

void WriteLanguage(JsonWriter *w, unsigned id) {
  JsonBeginObject(w);
  WriteIdAndHex(w, id);
  JsonKey(w, "name");
  std::string name;
  if (AppendLanguageName(id, &name))
    JsonString(w, name);
  else
    JsonNull(w);
  JsonEndObject(w);
}

void WriteCharset(JsonWriter *w, unsigned id) {
  JsonBeginObject(w);
  WriteIdAndHex(w, id);
  JsonKey(w, "name");
  WriteTableText(w, CharacterSetText(id));
  JsonEndObject(w);
}

const char *FormatName(int kind) {
  switch (kind) {
  case kKindPe32:
    return "PE32";
  case kKindPe32Plus:
    return "PE32+";
  case kKindNe:
    return "NE";
  case kKindLe:
    return "LE";
  default:
    return nullptr;
  }
}

// IMAGE_FILE_HEADER.Machine: the common names, else the number itself.
void WriteMachine(JsonWriter *w, const ImageInfo &image) {
  if (image.kind != kKindPe32 && image.kind != kKindPe32Plus) {
    JsonNull(w);
    return;
  }
  switch (image.machine) {
  case 0x014C: // IMAGE_FILE_MACHINE_I386
    JsonStringOrNull(w, "x86");
    break;
  case 0x8664: // IMAGE_FILE_MACHINE_AMD64
    JsonStringOrNull(w, "x64");
    break;
  case 0xAA64: // IMAGE_FILE_MACHINE_ARM64
    JsonStringOrNull(w, "arm64");
    break;
  case 0x01C0: // IMAGE_FILE_MACHINE_ARM
  case 0x01C2: // IMAGE_FILE_MACHINE_THUMB
  case 0x01C4: // IMAGE_FILE_MACHINE_ARMNT
    JsonStringOrNull(w, "arm");
    break;
  default:
    JsonNumber(w, image.machine);
  }
}

void WriteDotted(JsonWriter *w, DWORD ms, DWORD ls) {
  // Digits and dots need no escaping: written as they stand.
  const unsigned parts[4] = {ms >> 16, ms & 0xFFFFu, ls >> 16, ls & 0xFFFFu};
  char text[4 * 5 + 3];
  size_t used = 0;
  for (int i = 0; i < 4; ++i) {
    if (i != 0)
      text[used++] = '.';
    used += FormatDecimal(parts[i], text + used);
  }
  JsonPlainString(w, text, used);
}

// A key stored twice keeps its first value, the one a lookup finds: JSON
// readers disagree on which of two equal names they keep.
void WriteStrings(JsonWriter *w, const std::vector<VersionText> &strings) {
  JsonBeginObject(w);
  std::unordered_set<std::string> seen;
  const size_t kLinearLimit = 32;
  for (size_t i = 0; i < strings.size(); ++i) {
    const std::string &key = strings[i].key;
    bool repeated = false;
    if (strings.size() <= kLinearLimit) {
      for (size_t j = 0; j < i && !repeated; ++j)
        repeated = strings[j].key == key;
    } else {
      repeated = !seen.insert(key).second;
    }
    if (repeated)
      continue;
    JsonMemberName(w, key.data(), key.size());
    JsonString(w, strings[i].value);
  }
  JsonEndObject(w);
}

// A member's name from a table, with its length: an object writes some
// twenty such names.
struct KeyedNumber {
  Literal key;
  DWORD value;
};

void WriteFixedRecord(JsonWriter *w, const VS_FIXEDFILEINFO &r) {
  const KeyedNumber fields[] = {
      {"signature", r.dwSignature},
      {"struc_version", r.dwStrucVersion},
      {"file_version_ms", r.dwFileVersionMS},
      {"file_version_ls", r.dwFileVersionLS},
      {"product_version_ms", r.dwProductVersionMS},
      {"product_version_ls", r.dwProductVersionLS},
      {"file_flags_mask", r.dwFileFlagsMask},
      {"file_flags", r.dwFileFlags},
      {"file_os", r.dwFileOS},
      {"file_type", r.dwFileType},
      {"file_subtype", r.dwFileSubtype},
      {"file_date_ms", r.dwFileDateMS},
      {"file_date_ls", r.dwFileDateLS},
  };
  JsonBeginObject(w);
  for (const KeyedNumber &field : fields) {
    JsonKey(w, field.key.text, field.key.length);
    JsonNumber(w, field.value);
  }
  JsonEndObject(w);
}

// The keys that come from the version resource, all null: what a file
// without one (most of a system folder) carries, written at once.
const char kNoVersionData[] =
    "\"language\":null,\"charset\":null,\"strings\":null,"
    "\"string_tables\":null,\"translations\":null,\"languages\":null,"
    "\"file_version\":null,\"product_version\":null,\"flags\":null,"
    "\"os\":null,\"type\":null,\"subtype\":null,\"fixed\":null,"
    "\"version\":null";

// "string_tables": every table of \StringFileInfo, with the language and
// code page its key spells (null for both when it spells none: the key
// is whatever the file stores).
// picked: the text "strings" was written as, which the picked table's
// strings are written as again; empty when it was not written.
void WriteTablesValue(JsonWriter *w, const VersionFacts &f,
                      const std::string &picked) {
  if (!f.hasTables) {
    JsonNull(w);
    return;
  }
  JsonBeginArray(w);
  for (size_t i = 0; i < f.tables.size(); ++i) {
    const VersionTableText &table = f.tables[i];
    JsonBeginObject(w);
    JsonKey(w, "key");
    JsonString(w, table.key);
    unsigned language, codePage;
    bool spelled = ReadTableKey(table.key, &language, &codePage);
    JsonKey(w, "language");
    if (spelled)
      WriteLanguage(w, language);
    else
      JsonNull(w);
    JsonKey(w, "charset");
    if (spelled)
      WriteCharset(w, codePage);
    else
      JsonNull(w);
    JsonKey(w, "strings");
    if (i == f.pickedTable && !picked.empty())
      JsonRawValue(w, picked.data(), picked.size());
    else
      WriteStrings(w, TableStrings(f, i));
    JsonEndObject(w);
  }
  JsonEndArray(w);
}

// "translations", every entry as stored, and "languages", the resource
// directory's, where it holds more than one.
void WriteTranslationsValue(JsonWriter *w, const VersionFacts &f) {
  if (f.hasTranslations) {
    JsonBeginArray(w);
    for (uint32_t t : f.translations) {
      JsonBeginObject(w);
      JsonKey(w, "language");
      WriteLanguage(w, t & 0xFFFFu);
      JsonKey(w, "charset");
      WriteCharset(w, t >> 16);
      JsonEndObject(w);
    }
    JsonEndArray(w);
  } else {
    JsonNull(w);
  }
}

void WriteLanguagesValue(JsonWriter *w, const VersionFacts &f) {
  if (f.languages.size() > 1) {
    JsonBeginArray(w);
    for (uint16_t id : f.languages)
      WriteLanguage(w, id);
    JsonEndArray(w);
  } else {
    JsonNull(w);
  }
}

// The keys decoded from the fixed record, in their order; each null
// without one.
const Literal kFixedKeys[] = {"file_version", "product_version", "flags", "os",
                              "type",         "subtype",         "fixed"};

// The value of kFixedKeys[index].
void WriteFixedValue(JsonWriter *w, const VersionFacts &f, size_t index) {
  const VS_FIXEDFILEINFO &r = f.fixed;
  if (!f.hasFixed) {
    JsonNull(w);
    return;
  }
  switch (index) {
  case 0:
    WriteDotted(w, r.dwFileVersionMS, r.dwFileVersionLS);
    break;
  case 1:
    WriteDotted(w, r.dwProductVersionMS, r.dwProductVersionLS);
    break;
  case 2: {
    const char *words[6];
    size_t lengths[6];
    int count = FileFlagWords(r.dwFileFlags, words, lengths);
    JsonBeginArray(w);
    for (int i = 0; i < count; ++i)
      JsonString(w, words[i], lengths[i]);
    JsonEndArray(w);
    break;
  }
  case 3:
    WriteTableText(w, FileOsText(r.dwFileOS));
    break;
  case 4:
    WriteTableText(w, FileTypeText(r.dwFileType));
    break;
  case 5:
    WriteTableText(w, FileSubtypeText(r.dwFileType, r.dwFileSubtype));
    break;
  default:
    WriteFixedRecord(w, r);
  }
}

void WriteFixedFacts(JsonWriter *w, const VersionFacts &f) {
  for (size_t i = 0; i < sizeof kFixedKeys / sizeof kFixedKeys[0]; ++i) {
    JsonKey(w, kFixedKeys[i].text, kFixedKeys[i].length);
    WriteFixedValue(w, f, i);
  }
}

// The string value of name in the table Windows picks, or null.
const std::string *TableString(const VersionFacts &f, const char *name) {
  const VersionText *text = FindVersionString(f, name);
  return text != nullptr ? &text->value : nullptr;
}

// One normalised version: from the string when it reads as one, else the
// fixed record's numbers. False when there is neither.
bool NormalisedVersion(const VersionFacts &f, const char *name, DWORD ms,
                       DWORD ls, std::string *dotted, std::string *suffix,
                       bool *fromString) {
  const std::string *text = TableString(f, name);
  *fromString = text != nullptr && NormaliseVersion(*text, dotted, suffix);
  if (*fromString)
    return true;
  suffix->clear();
  if (!f.hasFixed)
    return false;
  dotted->clear();
  char digits[kMaxDecimalDigits];
  const unsigned parts[4] = {ms >> 16, ms & 0xFFFFu, ls >> 16, ls & 0xFFFFu};
  for (int i = 0; i < 4; ++i) {
    if (i != 0)
      dotted->push_back('.');
    dotted->append(digits, FormatDecimal(parts[i], digits));
  }
  return true;
}

// "version": the file and product versions for machines to compare, each
// the numeric head of its string, or the fixed record's numbers where the
// string is missing or reads as no version; "source" says which.
struct VersionValue {
  std::string file, fileSuffix, product, productSuffix;
  bool haveFile, haveProduct, fileString, productString;
};

// False when there is no version to write: the value is null.
bool ReadVersionValue(const VersionFacts &f, VersionValue *v) {
  v->haveFile = NormalisedVersion(f, "FileVersion", f.fixed.dwFileVersionMS,
                                  f.fixed.dwFileVersionLS, &v->file,
                                  &v->fileSuffix, &v->fileString);
  v->haveProduct =
      NormalisedVersion(f, "ProductVersion", f.fixed.dwProductVersionMS,
                        f.fixed.dwProductVersionLS, &v->product,
                        &v->productSuffix, &v->productString);
  return v->haveFile || v->haveProduct;
}

// The members of "version" by their place: file, file_suffix, product,
// product_suffix, source.
void WriteVersionMember(JsonWriter *w, const VersionValue &v, size_t index) {
  switch (index) {
  case 0:
    JsonStringOrNull(w, v.haveFile ? v.file.c_str() : nullptr);
    return;
  case 1:
    JsonStringOrNull(w, v.fileSuffix.empty() ? nullptr : v.fileSuffix.c_str());
    return;
  case 2:
    JsonStringOrNull(w, v.haveProduct ? v.product.c_str() : nullptr);
    return;
  case 3:
    JsonStringOrNull(w, v.productSuffix.empty() ? nullptr
                                                : v.productSuffix.c_str());
    return;
  default:
    break;
  }
  bool anyString =
      (v.haveFile && v.fileString) || (v.haveProduct && v.productString);
  bool anyFixed =
      (v.haveFile && !v.fileString) || (v.haveProduct && !v.productString);
  JsonStringOrNull(w, anyString && anyFixed ? "mixed"
                      : anyString           ? "string"
                                            : "fixed");
}

void WriteVersionValue(JsonWriter *w, const VersionFacts &f) {
  VersionValue v;
  if (!ReadVersionValue(f, &v)) {
    JsonNull(w);
    return;
  }
  // The keys as literals, each written inline (kVersionKeys' order).
  JsonBeginObject(w);
  JsonKey(w, "file");
  WriteVersionMember(w, v, 0);
  JsonKey(w, "file_suffix");
  WriteVersionMember(w, v, 1);
  JsonKey(w, "product");
  WriteVersionMember(w, v, 2);
  JsonKey(w, "product_suffix");
  WriteVersionMember(w, v, 3);
  JsonKey(w, "source");
  WriteVersionMember(w, v, 4);
  JsonEndObject(w);
}

// Whether the facts hold nothing of a version resource: every key of
// kNoVersionData is null.
bool HoldsNoVersionData(const VersionFacts &f) {
  return !f.hasTranslations && !f.hasTable && !f.hasTables && !f.hasFixed &&
         f.languages.size() < 2;
}

void WriteLanguageValue(JsonWriter *w, const VersionFacts &f) {
  if (f.hasTranslations)
    WriteLanguage(w, f.translation & 0xFFFFu);
  else
    JsonNull(w);
}

void WriteCharsetValue(JsonWriter *w, const VersionFacts &f) {
  if (f.hasTranslations)
    WriteCharset(w, f.translation >> 16);
  else
    JsonNull(w);
}

void WriteFacts(JsonWriter *w, const VersionFacts &f, const JsonParts &parts) {
  JsonKey(w, "format");
  JsonStringOrNull(w, FormatName(f.image.kind));
  JsonKey(w, "machine");
  WriteMachine(w, f.image);
  if (HoldsNoVersionData(f)) {
    JsonRawMembers(w, kNoVersionData);
    return;
  }
  JsonKey(w, "language");
  WriteLanguageValue(w, f);
  JsonKey(w, "charset");
  WriteCharsetValue(w, f);
  std::string picked;
  if (parts.strings) {
    JsonKey(w, "strings");
    size_t start = w->used;
    if (f.hasTable)
      WriteStrings(w, f.strings);
    else
      JsonNull(w);
    // The same object again in "string_tables": copied, not escaped twice.
    if (f.hasTable && parts.tables)
      picked.assign(w->buffer, start, w->used - start);
  }
  if (parts.tables) {
    JsonKey(w, "string_tables");
    WriteTablesValue(w, f, picked);
  }
  if (parts.translations) {
    JsonKey(w, "translations");
    WriteTranslationsValue(w, f);
    JsonKey(w, "languages");
    WriteLanguagesValue(w, f);
  }
  WriteFixedFacts(w, f);
  if (parts.version) {
    JsonKey(w, "version");
    WriteVersionValue(w, f);
  }
}

} // namespace

namespace {

// A path, or a message that names one, as the platform spells names; null
// when there is none.
void WritePathText(JsonWriter *w, const char *text) {
  if (text == nullptr) {
    JsonNull(w);
    return;
  }
  std::string utf8;
  AppendPathAsUtf8(text, &utf8);
  JsonString(w, utf8);
}

// The members every object has, in their order.
void WriteMembers(JsonWriter *w, const char *path, const char *status,
                  const char *message, const VersionFacts *facts,
                  const JsonParts &parts) {
  JsonKey(w, "path");
  WritePathText(w, path);
  JsonKey(w, "status");
  JsonStringOrNull(w, status);
  JsonKey(w, "message");
  WritePathText(w, message);
  if (facts != nullptr) {
    WriteFacts(w, *facts, parts);
  } else {
    JsonRawMembers(w, "\"format\":null,\"machine\":null");
    JsonRawMembers(w, kNoVersionData);
  }
}

} // namespace

std::string JsonObject(const char *path, const char *status,
                       const char *message, const VersionFacts *facts,
                       const JsonExtras &extras, std::string *room) {
  JsonWriter w = JsonWriter();
  if (room != nullptr)
    w.buffer.swap(*room);
  JsonBeginObject(&w);
  WriteMembers(&w, path, status, message, facts, extras.parts);
  if (extras.withDotnet) {
    JsonKey(&w, "dotnet");
    WriteDotnetJson(&w, extras.dotnet);
  }
  if (extras.withSignature) {
    JsonKey(&w, "signature");
    WriteSignatureJson(&w, extras.signature);
  }
  // Last, so that the keys before it stay where they were without --hash.
  if (extras.digest != nullptr) {
    JsonKey(&w, "sha256");
    if (extras.digest->read)
      JsonString(&w, DigestHex(*extras.digest));
    else
      JsonNull(&w);
  }
  JsonEndObject(&w);
  return JsonFinish(&w);
}

JsonParts PartsForFields(const std::vector<std::string> &fields,
                         bool namesFromFacts) {
  auto reads = [&fields](std::string_view key) {
    for (const std::string &field : fields) {
      std::string_view f = field;
      if (f == key ||
          (f.size() > key.size() && f.compare(0, key.size(), key) == 0 &&
           f[key.size()] == '.'))
        return true;
    }
    return false;
  };
  bool bare = false;
  for (const std::string &field : fields)
    bare = bare || field.find('.') == std::string::npos;
  JsonParts parts;
  parts.strings = namesFromFacts ? std::find(fields.begin(), fields.end(),
                                             "strings") != fields.end()
                                 : bare || reads("strings");
  parts.tables = reads("string_tables");
  parts.translations = reads("translations") || reads("languages");
  parts.version = reads("version");
  return parts;
}

namespace {

// The version facts of a file examined, or null: an object of no file,
// whose every value from the file is null.
const VersionFacts *Facts(const FileFacts &f) {
  return f.examined ? &f.version : nullptr;
}

// The .NET and signature facts of a file examined that were gathered, or
// null.
const DotnetFacts *DotnetOf(const FileFacts &f) {
  return f.examined && f.dotnet ? &*f.dotnet : nullptr;
}

const SignatureFacts *SignatureOf(const FileFacts &f) {
  return f.examined && f.signature ? &*f.signature : nullptr;
}

const char *MessageOf(const FileFacts &f) {
  return f.hasMessage ? f.message.c_str() : nullptr;
}

// language and charset: each with its id, hex and name, from the
// translation entry the report uses.
bool TranslationOf(const FileFacts &f, uint32_t *translation) {
  const VersionFacts *v = Facts(f);
  if (v == nullptr || !v->hasTranslations)
    return false;
  *translation = v->translation;
  return true;
}

void WriteHex4(JsonWriter *w, unsigned id) {
  static const char kDigits[] = "0123456789abcdef";
  const char hex[] = {kDigits[(id >> 12) & 0xFu], kDigits[(id >> 8) & 0xFu],
                      kDigits[(id >> 4) & 0xFu], kDigits[id & 0xFu]};
  JsonPlainString(w, hex, sizeof hex);
}

void WriteLanguageName(JsonWriter *w, unsigned id) {
  std::string name;
  if (AppendLanguageName(id, &name))
    JsonString(w, name);
  else
    JsonNull(w);
}

#define QV_VERSION(body)                                                       \
  [](JsonWriter *w, const FileFacts &f) {                                      \
    const VersionFacts *v = Facts(f);                                          \
    if (v == nullptr)                                                          \
      JsonNull(w);                                                             \
    else                                                                       \
      body;                                                                    \
  }
#define QV_TRANSLATION(body)                                                   \
  [](JsonWriter *w, const FileFacts &f) {                                      \
    uint32_t t;                                                                \
    if (!TranslationOf(f, &t))                                                 \
      JsonNull(w);                                                             \
    else                                                                       \
      body;                                                                    \
  }
#define QV_FIXED(index) QV_VERSION(WriteFixedValue(w, *v, index))
#define QV_RECORD(member)                                                      \
  QV_VERSION(if (!v->hasFixed) JsonNull(w); else JsonNumber(w, v->fixed.member))
#define QV_VERSION_MEMBER(index)                                               \
  [](JsonWriter *w, const FileFacts &f) {                                      \
    const VersionFacts *v = Facts(f);                                          \
    VersionValue value;                                                        \
    if (v == nullptr || !ReadVersionValue(*v, &value))                         \
      JsonNull(w);                                                             \
    else                                                                       \
      WriteVersionMember(w, value, index);                                     \
  }

void WriteStringsValue(JsonWriter *w, const VersionFacts &v) {
  if (v.hasTable)
    WriteStrings(w, v.strings);
  else
    JsonNull(w);
}

void WriteDigestValue(JsonWriter *w, const FileFacts &f) {
  if (f.digest.read)
    JsonString(w, DigestHex(f.digest));
  else
    JsonNull(w);
}

} // namespace

const FactsField kObjectFields[] = {
    {"path", kFieldAlways,
     [](JsonWriter *w, const FileFacts &f) {
       WritePathText(w, f.path.c_str());
     }},
    {"status", kFieldAlways,
     [](JsonWriter *w, const FileFacts &f) { JsonStringOrNull(w, f.status); }},
    {"message", kFieldAlways,
     [](JsonWriter *w, const FileFacts &f) { WritePathText(w, MessageOf(f)); }},
    {"format", kFieldAlways,
     QV_VERSION(JsonStringOrNull(w, FormatName(v->image.kind)))},
    {"machine", kFieldAlways, QV_VERSION(WriteMachine(w, v->image))},
    {"language", kFieldAlways, QV_TRANSLATION(WriteLanguage(w, t & 0xFFFFu))},
    {"language.id", kFieldAlways, QV_TRANSLATION(JsonNumber(w, t & 0xFFFFu))},
    {"language.hex", kFieldAlways, QV_TRANSLATION(WriteHex4(w, t & 0xFFFFu))},
    {"language.name", kFieldAlways,
     QV_TRANSLATION(WriteLanguageName(w, t & 0xFFFFu))},
    {"charset", kFieldAlways, QV_TRANSLATION(WriteCharset(w, t >> 16))},
    {"charset.id", kFieldAlways, QV_TRANSLATION(JsonNumber(w, t >> 16))},
    {"charset.hex", kFieldAlways, QV_TRANSLATION(WriteHex4(w, t >> 16))},
    {"charset.name", kFieldAlways,
     QV_TRANSLATION(WriteTableText(w, CharacterSetText(t >> 16)))},
    {"strings", kFieldAlways, QV_VERSION(WriteStringsValue(w, *v))},
    {"string_tables", kFieldAlways,
     QV_VERSION(WriteTablesValue(w, *v, std::string()))},
    {"translations", kFieldAlways, QV_VERSION(WriteTranslationsValue(w, *v))},
    {"languages", kFieldAlways, QV_VERSION(WriteLanguagesValue(w, *v))},
    {"file_version", kFieldAlways, QV_FIXED(0)},
    {"product_version", kFieldAlways, QV_FIXED(1)},
    {"flags", kFieldAlways, QV_FIXED(2)},
    {"os", kFieldAlways, QV_FIXED(3)},
    {"type", kFieldAlways, QV_FIXED(4)},
    {"subtype", kFieldAlways, QV_FIXED(5)},
    {"fixed", kFieldAlways, QV_FIXED(6)},
    {"fixed.signature", kFieldAlways, QV_RECORD(dwSignature)},
    {"fixed.struc_version", kFieldAlways, QV_RECORD(dwStrucVersion)},
    {"fixed.file_version_ms", kFieldAlways, QV_RECORD(dwFileVersionMS)},
    {"fixed.file_version_ls", kFieldAlways, QV_RECORD(dwFileVersionLS)},
    {"fixed.product_version_ms", kFieldAlways, QV_RECORD(dwProductVersionMS)},
    {"fixed.product_version_ls", kFieldAlways, QV_RECORD(dwProductVersionLS)},
    {"fixed.file_flags_mask", kFieldAlways, QV_RECORD(dwFileFlagsMask)},
    {"fixed.file_flags", kFieldAlways, QV_RECORD(dwFileFlags)},
    {"fixed.file_os", kFieldAlways, QV_RECORD(dwFileOS)},
    {"fixed.file_type", kFieldAlways, QV_RECORD(dwFileType)},
    {"fixed.file_subtype", kFieldAlways, QV_RECORD(dwFileSubtype)},
    {"fixed.file_date_ms", kFieldAlways, QV_RECORD(dwFileDateMS)},
    {"fixed.file_date_ls", kFieldAlways, QV_RECORD(dwFileDateLS)},
    {"version", kFieldAlways, QV_VERSION(WriteVersionValue(w, *v))},
    {"version.file", kFieldAlways, QV_VERSION_MEMBER(0)},
    {"version.file_suffix", kFieldAlways, QV_VERSION_MEMBER(1)},
    {"version.product", kFieldAlways, QV_VERSION_MEMBER(2)},
    {"version.product_suffix", kFieldAlways, QV_VERSION_MEMBER(3)},
    {"version.source", kFieldAlways, QV_VERSION_MEMBER(4)},
    {"dotnet", kFieldWithDotnet,
     [](JsonWriter *w, const FileFacts &f) {
       WriteDotnetJson(w, DotnetOf(f));
     }},
    {"signature", kFieldWithSignature,
     [](JsonWriter *w, const FileFacts &f) {
       WriteSignatureJson(w, SignatureOf(f));
     }},
    {"sha256", kFieldWithDigest, WriteDigestValue},
    {"expect", kFieldWithExpect,
     [](JsonWriter *w, const FileFacts &f) {
       WriteExpectValue(w, *f.expectations,
                        f.checked ? &f.expectResults : nullptr);
     }},
    {"lint", kFieldWithLint,
     [](JsonWriter *w, const FileFacts &f) {
       WriteLintValue(w, f.checked ? &f.lintFindings : nullptr);
     }},
};
const size_t kObjectFieldCount = sizeof kObjectFields / sizeof kObjectFields[0];

#undef QV_VERSION
#undef QV_TRANSLATION
#undef QV_FIXED
#undef QV_RECORD
#undef QV_VERSION_MEMBER

void WriteFileObject(JsonWriter *w, const FileFacts &f) {
  JsonBeginObject(w);
  WriteMembers(w, f.path.c_str(), f.status, MessageOf(f), Facts(f),
               JsonParts());
  if (f.withDotnet) {
    JsonKey(w, "dotnet");
    WriteDotnetJson(w, DotnetOf(f));
  }
  if (f.withSignature) {
    JsonKey(w, "signature");
    WriteSignatureJson(w, SignatureOf(f));
  }
  // Last of the facts, so that the keys before it stay where they were
  // without --hash; the checks' results after them.
  if (f.withDigest) {
    JsonKey(w, "sha256");
    WriteDigestValue(w, f);
  }
  if (f.expectations != nullptr && !f.expectations->empty()) {
    JsonKey(w, "expect");
    WriteExpectValue(w, *f.expectations,
                     f.checked ? &f.expectResults : nullptr);
  }
  if (f.withLint) {
    JsonKey(w, "lint");
    WriteLintValue(w, f.checked ? &f.lintFindings : nullptr);
  }
  JsonEndObject(w);
}
