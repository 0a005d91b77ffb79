#include "json_report.h"

#include <stdio.h>
#include <string.h>

#include <nlohmann/json.hpp>

#include "platform_extra.h"
#include "report.h"
#include "unicode_text.h"

namespace {

typedef nlohmann::ordered_json Json;

// A table text of the detailed report (code page 1252) as a JSON string,
// or null where the report prints none.
Json TableText(const char *text) {
  if (text == nullptr)
    return nullptr;
  std::string utf8;
  AppendCp1252AsUtf8(text, strlen(text), &utf8);
  return utf8;
}

Json Language(unsigned id) {
  Json j;
  j["id"] = id;
  j["name"] = TableText(LanguageText(id));
  return j;
}

Json Charset(unsigned id) {
  Json j;
  j["id"] = id;
  j["name"] = TableText(CharacterSetText(id));
  return j;
}

Json Format(int kind) {
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
Json Machine(const ImageInfo &image) {
  if (image.kind != kKindPe32 && image.kind != kKindPe32Plus)
    return nullptr;
  switch (image.machine) {
  case 0x014C: // IMAGE_FILE_MACHINE_I386
    return "x86";
  case 0x8664: // IMAGE_FILE_MACHINE_AMD64
    return "x64";
  case 0xAA64: // IMAGE_FILE_MACHINE_ARM64
    return "arm64";
  case 0x01C0: // IMAGE_FILE_MACHINE_ARM
  case 0x01C2: // IMAGE_FILE_MACHINE_THUMB
  case 0x01C4: // IMAGE_FILE_MACHINE_ARMNT
    return "arm";
  default:
    return image.machine;
  }
}

std::string Dotted(DWORD ms, DWORD ls) {
  char text[32];
  snprintf(text, sizeof text, "%u.%u.%u.%u", static_cast<unsigned>(ms >> 16),
           static_cast<unsigned>(ms & 0xFFFFu), static_cast<unsigned>(ls >> 16),
           static_cast<unsigned>(ls & 0xFFFFu));
  return text;
}

void AddFacts(const VersionFacts &f, Json *j) {
  Json &o = *j;
  o["format"] = Format(f.image.kind);
  o["machine"] = Machine(f.image);
  if (f.hasTranslations) {
    o["language"] = Language(f.translation & 0xFFFFu);
    o["charset"] = Charset(f.translation >> 16);
  } else {
    o["language"] = nullptr;
    o["charset"] = nullptr;
  }
  if (f.hasTable) {
    Json strings = Json::object();
    // A key stored twice keeps its first value, the one a lookup finds.
    for (const VersionText &s : f.strings)
      if (!strings.contains(s.key))
        strings[s.key] = s.value;
    o["strings"] = strings;
  } else {
    o["strings"] = nullptr;
  }
  if (f.hasTranslations) {
    Json list = Json::array();
    for (uint32_t t : f.translations) {
      Json entry;
      entry["language"] = Language(t & 0xFFFFu);
      entry["charset"] = Charset(t >> 16);
      list.push_back(entry);
    }
    o["translations"] = list;
  } else {
    o["translations"] = nullptr;
  }
  if (f.languages.size() > 1) {
    Json list = Json::array();
    for (uint16_t id : f.languages)
      list.push_back(Language(id));
    o["languages"] = list;
  } else {
    o["languages"] = nullptr;
  }
  if (!f.hasFixed) {
    for (const char *key : {"file_version", "product_version", "flags", "os",
                            "type", "subtype", "fixed"})
      o[key] = nullptr;
    return;
  }
  const VS_FIXEDFILEINFO &r = f.fixed;
  o["file_version"] = Dotted(r.dwFileVersionMS, r.dwFileVersionLS);
  o["product_version"] = Dotted(r.dwProductVersionMS, r.dwProductVersionLS);
  const char *words[6];
  size_t lengths[6];
  int count = FileFlagWords(r.dwFileFlags, words, lengths);
  Json flags = Json::array();
  for (int i = 0; i < count; ++i)
    flags.push_back(std::string(words[i], lengths[i]));
  o["flags"] = flags;
  o["os"] = TableText(FileOsText(r.dwFileOS));
  o["type"] = TableText(FileTypeText(r.dwFileType));
  o["subtype"] = TableText(FileSubtypeText(r.dwFileType, r.dwFileSubtype));
  Json fixed;
  fixed["signature"] = r.dwSignature;
  fixed["struc_version"] = r.dwStrucVersion;
  fixed["file_version_ms"] = r.dwFileVersionMS;
  fixed["file_version_ls"] = r.dwFileVersionLS;
  fixed["product_version_ms"] = r.dwProductVersionMS;
  fixed["product_version_ls"] = r.dwProductVersionLS;
  fixed["file_flags_mask"] = r.dwFileFlagsMask;
  fixed["file_flags"] = r.dwFileFlags;
  fixed["file_os"] = r.dwFileOS;
  fixed["file_type"] = r.dwFileType;
  fixed["file_subtype"] = r.dwFileSubtype;
  fixed["file_date_ms"] = r.dwFileDateMS;
  fixed["file_date_ls"] = r.dwFileDateLS;
  o["fixed"] = fixed;
}

} // namespace

std::string JsonObject(const char *path, const char *status,
                       const char *message, const VersionFacts *facts) {
  Json o;
  std::string utf8Path;
  AppendPathAsUtf8(path, &utf8Path);
  o["path"] = utf8Path;
  o["status"] = status;
  if (message != nullptr) {
    std::string utf8Message;
    AppendPathAsUtf8(message, &utf8Message);
    o["message"] = utf8Message;
  } else {
    o["message"] = nullptr;
  }
  if (facts != nullptr) {
    AddFacts(*facts, &o);
  } else {
    for (const char *key :
         {"format", "machine", "language", "charset", "strings", "translations",
          "languages", "file_version", "product_version", "flags", "os", "type",
          "subtype", "fixed"})
      o[key] = nullptr;
  }
  // Every text is UTF-8 already; the replacing handler is a second line of
  // defence, so that dump() can never throw on a stray byte.
  return o.dump(-1, ' ', false, Json::error_handler_t::replace);
}
