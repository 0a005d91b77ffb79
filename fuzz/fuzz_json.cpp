// Bytes in as an executable image, as the version fuzzer takes them: every
// block it makes has its strings walked and written as a JSON object, which
// must parse (with an independent parser, as valid UTF-8, on one line) and
// carry the same strings, keys and values, each key once, first value kept.
#include <stdlib.h>
#include <string.h>

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "byte_source.h"
#include "fuzz_block.h"
#include "json_report.h"
#include "platform.h"
#include "platform_extra.h"
#include "unicode_text.h"
#include "version_block.h"
#include "version_facts.h"
#include "version_strings.h"

namespace {

uint32_t FirstTranslation(unsigned char *block, size_t length) {
  LPVOID value = nullptr;
  UINT size = 0;
  if (!VerQueryValueA(block, "\\VarFileInfo\\Translation", &value, &size))
    return 0x04B00409u;
  unsigned char entry[4] = {0, 0, 0, 0};
  const unsigned char *at = static_cast<const unsigned char *>(value);
  for (size_t i = 0; i < 4 && i < size && at + i < block + length; ++i)
    entry[i] = at[i];
  return Le32(entry);
}

void Check(bool ok) {
  if (!ok)
    abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  unsigned long length;
  unsigned char *block = PreparedBlock(data, size, &length);
  if (block == nullptr)
    return 0;
  VersionFacts facts = VersionFacts();
  facts.translation = FirstTranslation(block, length);
  std::vector<VersionString> strings;
  facts.hasTable =
      ListVersionStrings(block, length, facts.translation, &strings);
  for (const VersionString &s : strings) {
    VersionText text;
    AppendUnitsAsUtf8(s.key.data(), s.key.size(), &text.key);
    AppendUnitsAsUtf8(s.value.data(), s.value.size(), &text.value);
    facts.strings.push_back(text);
  }
  // The first bytes of the input make an unlikely path, too.
  std::string path(reinterpret_cast<const char *>(data), size < 24 ? size : 24);
  path = path.substr(0, path.find('\0'));
  std::string line = JsonObject(path.c_str(), "ok", nullptr, &facts);
  Check(line.find('\n') == std::string::npos);
  nlohmann::json parsed = nlohmann::json::parse(line, nullptr, false);
  Check(!parsed.is_discarded() && parsed.is_object());
  std::string safePath;
  AppendBytesAsUtf8(path.data(), path.size(), &safePath);
  Check(parsed["path"] == safePath);
  if (!facts.hasTable) {
    Check(parsed["strings"].is_null());
  } else {
    std::map<std::string, std::string> want;
    for (const VersionText &t : facts.strings)
      want.insert({t.key, t.value}); // keeps the first of equal keys
    const nlohmann::json &got = parsed["strings"];
    Check(got.is_object() && got.size() == want.size());
    for (const auto &kv : want)
      Check(got.contains(kv.first) && got[kv.first] == kv.second);
  }
  // The lossless lookup of any value the walk listed finds text.
  if (!strings.empty()) {
    char subBlock[64];
    snprintf(subBlock, sizeof subBlock, "\\StringFileInfo\\%04x%04x\\%s",
             static_cast<unsigned>(facts.translation & 0xFFFFu),
             static_cast<unsigned>(facts.translation >> 16), "CompanyName");
    std::string text;
    QueryVersionTextUtf8(block, length, subBlock, &text);
  }
  free(block);
  return 0;
}
