#include "dotnet_report.h"

#include <stdio.h>
#include <string.h>

#include "decimal.h"
#include "fact_fields.h"
#include "platform_extra.h"
#include "report.h"
#include "unicode_text.h"

namespace {

struct FlagName {
  uint32_t bit;
  const char *word; // JSON
  const char *text; // the text report
};

const FlagName kCliFlagNames[] = {
    {kCliFlagIlOnly, "il-only", "IL only"},
    {kCliFlag32BitRequired, "32bit-required", "32-bit required"},
    {kCliFlag32BitPreferred, "32bit-preferred", "32-bit preferred"},
    {kCliFlagIlLibrary, "il-library", "IL library"},
    {kCliFlagStrongNameSigned, "strong-name-signed", "strong-name signed"},
    {kCliFlagNativeEntryPoint, "native-entry-point", "native entry point"},
    {kCliFlagTrackDebugData, "track-debug-data", "track debug data"},
};

// AssemblyHashAlgorithm values (II.23.1.1) and the SHA-2 ones .NET adds.
const char *HashAlgorithmName(uint32_t id) {
  switch (id) {
  case 0:
    return "none";
  case 0x8003:
    return "MD5";
  case 0x8004:
    return "SHA1";
  case 0x800C:
    return "SHA256";
  case 0x800D:
    return "SHA384";
  case 0x800E:
    return "SHA512";
  default:
    return nullptr;
  }
}

struct AttributeName {
  const char *key;  // JSON
  const char *text; // the text report
};

// In DotnetAttribute order.
const AttributeName kAttributeNames[kAttrCount] = {
    {"informational_version", "InformationalVersion"},
    {"file_version", "FileVersion"},
    {"title", "Title"},
    {"description", "Description"},
    {"company", "Company"},
    {"product", "Product"},
    {"copyright", "Copyright"},
    {"configuration", "Configuration"},
    {"target_framework", "TargetFramework"},
};

void AppendNumber(unsigned long long value, std::string *out) {
  char digits[kMaxDecimalDigits];
  out->append(digits, FormatDecimal(value, digits));
}

std::string Dotted(const uint16_t *parts, size_t count) {
  std::string text;
  for (size_t i = 0; i < count; ++i) {
    if (i != 0)
      text.push_back('.');
    AppendNumber(parts[i], &text);
  }
  return text;
}

std::string Hex(const unsigned char *bytes, size_t count) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(count * 2);
  for (size_t i = 0; i < count; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 0xF]);
  }
  return text;
}

std::string HexNumber(unsigned long long value) {
  char text[24];
  snprintf(text, sizeof text, "0x%llx", value);
  return text;
}

// The first string of the table under key, compared as the lookup does
// (ASCII case folded).
const std::string *FindString(const VersionFacts &f, const char *key) {
  for (const VersionText &t : f.strings)
    if (t.key.size() == strlen(key) &&
        strncasecmp(t.key.c_str(), key, t.key.size()) == 0)
      return &t.value;
  return nullptr;
}

// The resource's version: the string where the table has it, else the
// fixed record's numbers (ms, ls).
bool Win32Version(const Win32Versions *f, bool product,
                  std::vector<uint64_t> *parts) {
  if (f == nullptr)
    return false;
  if (product ? f->hasProductVersion : f->hasFileVersion)
    return NormaliseVersion(product ? f->productVersion : f->fileVersion,
                            parts);
  if (!f->hasFixed)
    return false;
  DWORD ms = product ? f->fixed.dwProductVersionMS : f->fixed.dwFileVersionMS;
  DWORD ls = product ? f->fixed.dwProductVersionLS : f->fixed.dwFileVersionLS;
  const uint16_t numbers[4] = {
      static_cast<uint16_t>(ms >> 16), static_cast<uint16_t>(ms & 0xFFFFu),
      static_cast<uint16_t>(ls >> 16), static_cast<uint16_t>(ls & 0xFFFFu)};
  return NormaliseVersion(Dotted(numbers, 4), parts);
}

void WritePublicKey(JsonWriter *w, const DotnetIdentity &id, bool isReference) {
  // A reference's blob is a key only when its flags say so.
  bool isKey = !isReference || (id.flags & kAssemblyFlagPublicKey) != 0;
  if (isKey && !id.publicKey.empty())
    JsonString(w, Hex(id.publicKey.data(), id.publicKey.size()));
  else
    JsonNull(w);
}

void WriteToken(JsonWriter *w, const DotnetIdentity &id) {
  if (id.hasToken)
    JsonString(w, Hex(id.token, sizeof id.token));
  else
    JsonNull(w);
}

void WriteHashAlgorithm(JsonWriter *w, const DotnetInfo &info) {
  JsonBeginObject(w);
  JsonKey(w, "id");
  JsonNumber(w, info.hashAlgorithm);
  JsonKey(w, "name");
  JsonStringOrNull(w, HashAlgorithmName(info.hashAlgorithm));
  JsonEndObject(w);
}

void WriteIdentity(JsonWriter *w, const DotnetIdentity &id, bool isReference,
                   const DotnetInfo &info) {
  JsonBeginObject(w);
  JsonKey(w, "name");
  JsonString(w, id.name);
  JsonKey(w, "version");
  JsonString(w, Dotted(id.version, 4));
  JsonKey(w, "culture");
  JsonString(w, id.culture);
  JsonKey(w, "flags");
  JsonNumber(w, id.flags);
  JsonKey(w, "public_key");
  WritePublicKey(w, id, isReference);
  JsonKey(w, "public_key_token");
  WriteToken(w, id);
  if (!isReference) {
    JsonKey(w, "hash_algorithm");
    WriteHashAlgorithm(w, info);
  }
  JsonEndObject(w);
}

void WriteCliVersion(JsonWriter *w, const DotnetInfo &info) {
  if (info.hasCli) {
    const uint16_t v[2] = {info.cliMajor, info.cliMinor};
    JsonString(w, Dotted(v, 2));
  } else {
    JsonNull(w);
  }
}

void WriteCliFlags(JsonWriter *w, const DotnetInfo &info) {
  if (info.hasCli) {
    JsonBeginArray(w);
    for (const FlagName &f : kCliFlagNames)
      if ((info.cliFlags & f.bit) != 0)
        JsonStringOrNull(w, f.word);
    JsonEndArray(w);
  } else {
    JsonNull(w);
  }
}

void WriteStrongNameOffset(JsonWriter *w, const DotnetInfo &info) {
  if (info.strongNameMapped)
    JsonNumber64(w, info.strongNameOffset);
  else
    JsonNull(w);
}

void WriteStrongName(JsonWriter *w, const DotnetInfo &info) {
  if (info.hasStrongName) {
    JsonBeginObject(w);
    JsonKey(w, "rva");
    JsonNumber(w, info.strongNameRva);
    JsonKey(w, "offset");
    WriteStrongNameOffset(w, info);
    JsonKey(w, "size");
    JsonNumber(w, info.strongNameSize);
    JsonEndObject(w);
  } else {
    JsonNull(w);
  }
}

void WriteReadyToRun(JsonWriter *w, const DotnetInfo &info) {
  if (info.readyToRun) {
    const uint16_t v[2] = {info.readyToRunMajor, info.readyToRunMinor};
    JsonString(w, Dotted(v, 2));
  } else {
    JsonNull(w);
  }
}

void WriteCli(JsonWriter *w, const DotnetInfo &info) {
  JsonKey(w, "cli_version");
  WriteCliVersion(w, info);
  JsonKey(w, "cli_flags");
  WriteCliFlags(w, info);
  JsonKey(w, "cli_flags_value");
  if (info.hasCli)
    JsonNumber(w, info.cliFlags);
  else
    JsonNull(w);
  JsonKey(w, "strong_name_signature");
  WriteStrongName(w, info);
  JsonKey(w, "ready_to_run");
  WriteReadyToRun(w, info);
}

void WriteMetadataVersion(JsonWriter *w, const DotnetInfo &info) {
  if (info.hasMetadata) {
    const uint16_t v[2] = {info.metadataMajor, info.metadataMinor};
    JsonString(w, Dotted(v, 2));
  } else {
    JsonNull(w);
  }
}

void WriteStreams(JsonWriter *w, const DotnetInfo &info) {
  if (info.hasMetadata) {
    JsonBeginArray(w);
    for (const DotnetStream &s : info.streams) {
      JsonBeginObject(w);
      JsonKey(w, "name");
      JsonString(w, s.name);
      JsonKey(w, "offset");
      JsonNumber(w, s.offset);
      JsonKey(w, "size");
      JsonNumber(w, s.size);
      JsonEndObject(w);
    }
    JsonEndArray(w);
  } else {
    JsonNull(w);
  }
}

void WriteMetadata(JsonWriter *w, const DotnetInfo &info) {
  JsonKey(w, "runtime_version");
  if (info.hasMetadata)
    JsonString(w, info.runtimeVersion);
  else
    JsonNull(w);
  JsonKey(w, "metadata_version");
  WriteMetadataVersion(w, info);
  JsonKey(w, "streams");
  WriteStreams(w, info);
}

void WriteAttribute(JsonWriter *w, const DotnetInfo &info, int i) {
  const DotnetAttributeValue &v = info.attributes[i];
  if (v.present && !v.isNull)
    JsonString(w, v.value);
  else
    JsonNull(w);
}

void WriteFrameworkDisplayName(JsonWriter *w, const DotnetInfo &info) {
  if (info.hasFrameworkDisplayName)
    JsonString(w, info.frameworkDisplayName);
  else
    JsonNull(w);
}

const char *HostKind(const DotnetHost &host) {
  return host.headerOffset != 0 ? "bundle" : "apphost";
}

std::string BundleVersion(const DotnetHost &host) {
  std::string version;
  AppendNumber(host.bundleMajor, &version);
  version.push_back('.');
  AppendNumber(host.bundleMinor, &version);
  return version;
}

void WriteMainAssembly(JsonWriter *w, const DotnetHost &host) {
  if (host.mainAssembly.empty())
    JsonNull(w);
  else
    JsonString(w, host.mainAssembly);
}

void WriteBundle(JsonWriter *w, const DotnetHost &host) {
  if (host.isBundle) {
    JsonBeginObject(w);
    JsonKey(w, "header_offset");
    JsonNumber64(w, host.headerOffset);
    JsonKey(w, "version");
    JsonString(w, BundleVersion(host));
    JsonKey(w, "id");
    JsonString(w, host.bundleId);
    JsonKey(w, "files");
    JsonNumber(w, host.fileCount);
    JsonKey(w, "main_assembly");
    WriteMainAssembly(w, host);
    JsonEndObject(w);
  } else {
    JsonNull(w);
  }
}

void WriteHostValue(JsonWriter *w, const DotnetHost &host) {
  if (!host.found) {
    JsonNull(w);
    return;
  }
  JsonBeginObject(w);
  JsonKey(w, "kind");
  JsonStringOrNull(w, HostKind(host));
  JsonKey(w, "marker_offset");
  JsonNumber64(w, host.markerOffset);
  JsonKey(w, "bundle");
  WriteBundle(w, host);
  JsonEndObject(w);
}

// Text: one indented line, the label padded as --all pads its keys: a
// colon and spaces up to column 19 of the indented line, two at least.
// Written as it is composed, piece by piece: a file's lines run to a few
// dozen, and a string built for each cost more than the rest of them.
void PrintLabel(const char *label) {
  char head[48];
  size_t length = strlen(label);
  if (length > sizeof head - 8)
    length = sizeof head - 8; // our own labels are all far shorter
  size_t used = length + 1;
  size_t pad = used + 2 <= 19 ? 19 - used : 2;
  head[0] = head[1] = ' ';
  memcpy(head + 2, label, length);
  head[2 + length] = ':';
  fwrite(head, 1, 2 + used, stdout);
  static const char kSpaces[] = "                   ";
  fwrite(kSpaces, 1, pad, stdout);
}

// A value from the file: UTF-8 as it is with utf8 (each control a space);
// otherwise each character outside printable ASCII is a space, as the
// classic report prints the resource's text in the console's code page.
void PrintFileText(const std::string &text) {
  const unsigned char *p = reinterpret_cast<const unsigned char *>(text.data());
  for (size_t i = 0; i < text.size();) {
    // Runs of printable ASCII, most of any name, go whole.
    size_t run = i;
    while (run < text.size() && p[run] >= 0x20 && p[run] <= 0x7E)
      ++run;
    fwrite(p + i, 1, run - i, stdout);
    i = run;
    if (i >= text.size())
      break;
    bool wellFormed;
    i += Utf8SequenceLength(p + i, text.size() - i, &wellFormed);
    putchar(' ');
  }
}

void PrintLine(const char *label, const std::string &value) {
  PrintLabel(label);
  fwrite(value.data(), 1, value.size(), stdout);
  putchar('\n');
}

void PrintFileLine(const char *label, const std::string &value, bool utf8) {
  PrintLabel(label);
  if (!utf8) {
    PrintFileText(value);
  } else {
    std::string clean;
    AppendBytesAsUtf8(value.data(), value.size(), &clean);
    PrintSafeUtf8(clean.data(), clean.size());
  }
  putchar('\n');
}

void PrintHost(const DotnetHost &host, bool utf8) {
  fputs(".NET Host:\n", stdout);
  PrintLine("Kind", host.headerOffset != 0 ? "single-file bundle"
                                           : "apphost, no bundle");
  if (!host.isBundle)
    return;
  std::string version;
  AppendNumber(host.bundleMajor, &version);
  version.push_back('.');
  AppendNumber(host.bundleMinor, &version);
  PrintLine("Bundle Version", version);
  PrintFileLine("Bundle ID", host.bundleId, utf8);
  std::string files;
  AppendNumber(host.fileCount, &files);
  PrintLine("Embedded Files", files);
  if (!host.mainAssembly.empty())
    PrintFileLine("Main Assembly", host.mainAssembly, utf8);
}

void PrintCli(const DotnetInfo &info, bool utf8) {
  if (info.hasMetadata) {
    PrintFileLine("Runtime", info.runtimeVersion, utf8);
    std::string names;
    for (const DotnetStream &stream : info.streams) {
      if (!names.empty())
        names += ' ';
      names += stream.name;
    }
    PrintFileLine("Streams", names, utf8);
  }
  if (info.hasCli) {
    std::string flags;
    for (const FlagName &f : kCliFlagNames)
      if ((info.cliFlags & f.bit) != 0) {
        if (!flags.empty())
          flags += ", ";
        flags += f.text;
      }
    PrintLine("CLI Flags", flags.empty() ? "none" : flags);
  }
  if (info.hasStrongName) {
    std::string text = "signature of ";
    AppendNumber(info.strongNameSize, &text);
    text += " bytes";
    if (info.strongNameMapped)
      text += " at offset " + HexNumber(info.strongNameOffset);
    if ((info.cliFlags & kCliFlagStrongNameSigned) == 0)
      text += " (not signed)";
    PrintLine("Strong Name", text);
  }
  if (info.readyToRun) {
    const uint16_t v[2] = {info.readyToRunMajor, info.readyToRunMinor};
    PrintLine("ReadyToRun", Dotted(v, 2));
  }
}

void PrintIdentity(const DotnetInfo &info, bool utf8) {
  if (!info.hasAssembly) {
    if (info.hasModule)
      PrintFileLine("Module", info.moduleName, utf8);
    if (info.hasTables)
      PrintLine("Assembly", "none (a module without a manifest)");
    return;
  }
  const DotnetIdentity &id = info.assembly;
  PrintFileLine("Name", id.name, utf8);
  PrintLine("Version", Dotted(id.version, 4));
  if (id.culture.empty())
    PrintLine("Culture", "neutral");
  else
    PrintFileLine("Culture", id.culture, utf8);
  PrintLine("Public Key Token", id.hasToken ? Hex(id.token, sizeof id.token)
                                : id.keyTooLong
                                    ? "unknown (its key is too long)"
                                    : "none");
  std::string flags = HexNumber(id.flags);
  const struct {
    uint32_t bit;
    const char *text;
  } kAssemblyFlags[] = {{kAssemblyFlagPublicKey, "public key"},
                        {kAssemblyFlagRetargetable, "retargetable"},
                        {kAssemblyFlagWindowsRuntime, "Windows Runtime"}};
  const char *separator = " (";
  for (const auto &f : kAssemblyFlags)
    if ((id.flags & f.bit) != 0) {
      flags += separator;
      flags += f.text;
      separator = ", ";
    }
  if (*separator == ',')
    flags += ')';
  PrintLine("Assembly Flags", flags);
  const char *hash = HashAlgorithmName(info.hashAlgorithm);
  PrintLine("Hash Algorithm",
            hash != nullptr ? hash : HexNumber(info.hashAlgorithm));
  for (int i = 0; i < kAttrCount; ++i) {
    const DotnetAttributeValue &v = info.attributes[i];
    if (!v.present || v.isNull)
      continue;
    std::string value = v.value;
    if (i == kAttrTargetFramework && info.hasFrameworkDisplayName)
      value += " (" + info.frameworkDisplayName + ")";
    PrintFileLine(kAttributeNames[i].text, value, utf8);
  }
}

} // namespace

bool NormaliseVersion(const std::string &text, std::vector<uint64_t> *parts) {
  parts->clear();
  size_t i = 0, n = text.size();
  while (i < n && text[i] == ' ')
    ++i;
  bool any = false;
  while (parts->size() < 4 && i < n && text[i] >= '0' && text[i] <= '9') {
    any = true;
    uint64_t value = 0;
    for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i)
      if (value < (uint64_t{1} << 40)) // larger is no version part anyway
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    parts->push_back(value);
    // A separator continues the number only when a digit follows it.
    size_t j = i;
    while (j < n && text[j] == ' ')
      ++j;
    if (j >= n || (text[j] != '.' && text[j] != ','))
      break;
    ++j;
    while (j < n && text[j] == ' ')
      ++j;
    i = j;
  }
  while (!parts->empty() && parts->back() == 0)
    parts->pop_back();
  return any;
}

int CompareDotnetVersions(const DotnetInfo &info, const Win32Versions *win32) {
  const struct {
    DotnetAttribute attribute;
    bool product;
  } pairs[] = {{kAttrFileVersion, false}, {kAttrInformationalVersion, true}};
  int result = -1;
  for (const auto &pair : pairs) {
    const DotnetAttributeValue &v = info.attributes[pair.attribute];
    std::vector<uint64_t> ours, theirs;
    if (!v.present || v.isNull || !NormaliseVersion(v.value, &ours) ||
        !Win32Version(win32, pair.product, &theirs))
      continue;
    if (ours != theirs)
      return 1;
    result = 0;
  }
  return result;
}

Win32Versions VersionsOf(const VersionFacts &facts) {
  Win32Versions v = Win32Versions();
  const std::string *text =
      facts.hasTable ? FindString(facts, "FileVersion") : nullptr;
  v.hasFileVersion = text != nullptr;
  if (text != nullptr)
    v.fileVersion = *text;
  text = facts.hasTable ? FindString(facts, "ProductVersion") : nullptr;
  v.hasProductVersion = text != nullptr;
  if (text != nullptr)
    v.productVersion = *text;
  v.hasFixed = facts.hasFixed;
  v.fixed = facts.fixed;
  return v;
}

void GatherDotnetFacts(FileRecord *record, KeyDigester *keys,
                       const VersionFacts *win32, DotnetFacts *facts) {
  facts->found = QueryRecordDotnet(record, keys, &facts->info) == 0;
  facts->versionMismatch = -1;
  if (facts->found && win32 != nullptr) {
    Win32Versions versions = VersionsOf(*win32);
    facts->versionMismatch = CompareDotnetVersions(facts->info, &versions);
  }
}

namespace {

// The paths into "dotnet": the facts of a .NET file examined, each null
// where a member on the way to it is.
const DotnetInfo *Net(const FileFacts &f) {
  return f.examined && f.dotnet && f.dotnet->found ? &f.dotnet->info : nullptr;
}

const DotnetInfo *Assembly(const FileFacts &f) {
  const DotnetInfo *i = Net(f);
  return i != nullptr && i->hasAssembly ? i : nullptr;
}

const DotnetInfo *StrongName(const FileFacts &f) {
  const DotnetInfo *i = Net(f);
  return i != nullptr && i->hasStrongName ? i : nullptr;
}

const DotnetHost *Host(const FileFacts &f) {
  const DotnetInfo *i = Net(f);
  return i != nullptr && i->host.found ? &i->host : nullptr;
}

const DotnetHost *Bundle(const FileFacts &f) {
  const DotnetHost *h = Host(f);
  return h != nullptr && h->isBundle ? h : nullptr;
}

#define QV_NET(get, body)                                                      \
  [](JsonWriter *w, const FileFacts &f) {                                      \
    const auto *i = get(f);                                                    \
    if (i == nullptr)                                                          \
      JsonNull(w);                                                             \
    else                                                                       \
      body;                                                                    \
  }
#define QV_ATTRIBUTE(index) QV_NET(Assembly, WriteAttribute(w, *i, index))

void WriteMalformed(JsonWriter *w, const DotnetInfo &info) {
  if (info.malformed != kDotnetWellFormed)
    JsonStringOrNull(w, DotnetMalformedName(info.malformed));
  else
    JsonNull(w);
}

void WriteRuntimeVersion(JsonWriter *w, const DotnetInfo &info) {
  if (info.hasMetadata)
    JsonString(w, info.runtimeVersion);
  else
    JsonNull(w);
}

void WriteCliFlagsValue(JsonWriter *w, const DotnetInfo &info) {
  if (info.hasCli)
    JsonNumber(w, info.cliFlags);
  else
    JsonNull(w);
}

void WriteAssembly(JsonWriter *w, const DotnetInfo &info) {
  if (info.hasAssembly)
    WriteIdentity(w, info.assembly, false, info);
  else
    JsonNull(w);
}

void WriteModule(JsonWriter *w, const DotnetInfo &info) {
  if (info.hasModule)
    JsonString(w, info.moduleName);
  else
    JsonNull(w);
}

void WriteAttributesValue(JsonWriter *w, const DotnetInfo &info) {
  if (!info.hasAssembly) {
    JsonNull(w);
    return;
  }
  JsonBeginObject(w);
  for (int i = 0; i < kAttrCount; ++i) {
    JsonKey(w, kAttributeNames[i].key, strlen(kAttributeNames[i].key));
    WriteAttribute(w, info, i);
  }
  JsonKey(w, "target_framework_display_name");
  WriteFrameworkDisplayName(w, info);
  JsonEndObject(w);
}

void WriteReferenceCount(JsonWriter *w, const DotnetInfo &info) {
  if (info.hasTables)
    JsonNumber(w, info.referenceCount);
  else
    JsonNull(w);
}

void WriteReferences(JsonWriter *w, const DotnetInfo &info) {
  if (info.hasTables) {
    JsonBeginArray(w);
    for (const DotnetIdentity &id : info.references)
      WriteIdentity(w, id, true, info);
    JsonEndArray(w);
  } else {
    JsonNull(w);
  }
}

void WriteVersionMismatch(JsonWriter *w, const DotnetFacts &facts) {
  if (facts.versionMismatch < 0)
    JsonNull(w);
  else
    JsonBool(w, facts.versionMismatch != 0);
}

} // namespace

const FactsField kDotnetFields[] = {
    {"dotnet.malformed", kFieldWithDotnet, QV_NET(Net, WriteMalformed(w, *i))},
    {"dotnet.runtime_version", kFieldWithDotnet,
     QV_NET(Net, WriteRuntimeVersion(w, *i))},
    {"dotnet.metadata_version", kFieldWithDotnet,
     QV_NET(Net, WriteMetadataVersion(w, *i))},
    {"dotnet.streams", kFieldWithDotnet, QV_NET(Net, WriteStreams(w, *i))},
    {"dotnet.cli_version", kFieldWithDotnet,
     QV_NET(Net, WriteCliVersion(w, *i))},
    {"dotnet.cli_flags", kFieldWithDotnet, QV_NET(Net, WriteCliFlags(w, *i))},
    {"dotnet.cli_flags_value", kFieldWithDotnet,
     QV_NET(Net, WriteCliFlagsValue(w, *i))},
    {"dotnet.strong_name_signature", kFieldWithDotnet,
     QV_NET(Net, WriteStrongName(w, *i))},
    {"dotnet.strong_name_signature.rva", kFieldWithDotnet,
     QV_NET(StrongName, JsonNumber(w, i->strongNameRva))},
    {"dotnet.strong_name_signature.offset", kFieldWithDotnet,
     QV_NET(StrongName, WriteStrongNameOffset(w, *i))},
    {"dotnet.strong_name_signature.size", kFieldWithDotnet,
     QV_NET(StrongName, JsonNumber(w, i->strongNameSize))},
    {"dotnet.ready_to_run", kFieldWithDotnet,
     QV_NET(Net, WriteReadyToRun(w, *i))},
    {"dotnet.assembly", kFieldWithDotnet, QV_NET(Net, WriteAssembly(w, *i))},
    {"dotnet.assembly.name", kFieldWithDotnet,
     QV_NET(Assembly, JsonString(w, i->assembly.name))},
    {"dotnet.assembly.version", kFieldWithDotnet,
     QV_NET(Assembly, JsonString(w, Dotted(i->assembly.version, 4)))},
    {"dotnet.assembly.culture", kFieldWithDotnet,
     QV_NET(Assembly, JsonString(w, i->assembly.culture))},
    {"dotnet.assembly.flags", kFieldWithDotnet,
     QV_NET(Assembly, JsonNumber(w, i->assembly.flags))},
    {"dotnet.assembly.public_key", kFieldWithDotnet,
     QV_NET(Assembly, WritePublicKey(w, i->assembly, false))},
    {"dotnet.assembly.public_key_token", kFieldWithDotnet,
     QV_NET(Assembly, WriteToken(w, i->assembly))},
    {"dotnet.assembly.hash_algorithm", kFieldWithDotnet,
     QV_NET(Assembly, WriteHashAlgorithm(w, *i))},
    {"dotnet.assembly.hash_algorithm.id", kFieldWithDotnet,
     QV_NET(Assembly, JsonNumber(w, i->hashAlgorithm))},
    {"dotnet.assembly.hash_algorithm.name", kFieldWithDotnet,
     QV_NET(Assembly,
            JsonStringOrNull(w, HashAlgorithmName(i->hashAlgorithm)))},
    {"dotnet.module", kFieldWithDotnet, QV_NET(Net, WriteModule(w, *i))},
    {"dotnet.attributes", kFieldWithDotnet,
     QV_NET(Net, WriteAttributesValue(w, *i))},
    {"dotnet.attributes.informational_version", kFieldWithDotnet,
     QV_ATTRIBUTE(kAttrInformationalVersion)},
    {"dotnet.attributes.file_version", kFieldWithDotnet,
     QV_ATTRIBUTE(kAttrFileVersion)},
    {"dotnet.attributes.title", kFieldWithDotnet, QV_ATTRIBUTE(kAttrTitle)},
    {"dotnet.attributes.description", kFieldWithDotnet,
     QV_ATTRIBUTE(kAttrDescription)},
    {"dotnet.attributes.company", kFieldWithDotnet, QV_ATTRIBUTE(kAttrCompany)},
    {"dotnet.attributes.product", kFieldWithDotnet, QV_ATTRIBUTE(kAttrProduct)},
    {"dotnet.attributes.copyright", kFieldWithDotnet,
     QV_ATTRIBUTE(kAttrCopyright)},
    {"dotnet.attributes.configuration", kFieldWithDotnet,
     QV_ATTRIBUTE(kAttrConfiguration)},
    {"dotnet.attributes.target_framework", kFieldWithDotnet,
     QV_ATTRIBUTE(kAttrTargetFramework)},
    {"dotnet.attributes.target_framework_display_name", kFieldWithDotnet,
     QV_NET(Assembly, WriteFrameworkDisplayName(w, *i))},
    {"dotnet.reference_count", kFieldWithDotnet,
     QV_NET(Net, WriteReferenceCount(w, *i))},
    {"dotnet.references", kFieldWithDotnet,
     QV_NET(Net, WriteReferences(w, *i))},
    {"dotnet.version_mismatch", kFieldWithDotnet,
     QV_NET(Net, WriteVersionMismatch(w, *f.dotnet))},
    {"dotnet.host", kFieldWithDotnet, QV_NET(Net, WriteHostValue(w, i->host))},
    {"dotnet.host.kind", kFieldWithDotnet,
     QV_NET(Host, JsonStringOrNull(w, HostKind(*i)))},
    {"dotnet.host.marker_offset", kFieldWithDotnet,
     QV_NET(Host, JsonNumber64(w, i->markerOffset))},
    {"dotnet.host.bundle", kFieldWithDotnet, QV_NET(Host, WriteBundle(w, *i))},
    {"dotnet.host.bundle.header_offset", kFieldWithDotnet,
     QV_NET(Bundle, JsonNumber64(w, i->headerOffset))},
    {"dotnet.host.bundle.version", kFieldWithDotnet,
     QV_NET(Bundle, JsonString(w, BundleVersion(*i)))},
    {"dotnet.host.bundle.id", kFieldWithDotnet,
     QV_NET(Bundle, JsonString(w, i->bundleId))},
    {"dotnet.host.bundle.files", kFieldWithDotnet,
     QV_NET(Bundle, JsonNumber(w, i->fileCount))},
    {"dotnet.host.bundle.main_assembly", kFieldWithDotnet,
     QV_NET(Bundle, WriteMainAssembly(w, *i))},
};
const size_t kDotnetFieldCount = sizeof kDotnetFields / sizeof kDotnetFields[0];

#undef QV_NET
#undef QV_ATTRIBUTE

void WriteDotnetJson(JsonWriter *w, const DotnetFacts *facts) {
  if (facts == nullptr || !facts->found) {
    JsonNull(w);
    return;
  }
  const DotnetInfo &info = facts->info;
  JsonBeginObject(w);
  JsonKey(w, "malformed");
  WriteMalformed(w, info);
  WriteMetadata(w, info);
  WriteCli(w, info);
  JsonKey(w, "assembly");
  WriteAssembly(w, info);
  JsonKey(w, "module");
  WriteModule(w, info);
  JsonKey(w, "attributes");
  WriteAttributesValue(w, info);
  JsonKey(w, "reference_count");
  WriteReferenceCount(w, info);
  JsonKey(w, "references");
  WriteReferences(w, info);
  JsonKey(w, "version_mismatch");
  WriteVersionMismatch(w, *facts);
  JsonKey(w, "host");
  WriteHostValue(w, info.host);
  JsonEndObject(w);
}

void PrintDotnetText(const DotnetFacts &facts, bool utf8) {
  if (!facts.found)
    return;
  const DotnetInfo &info = facts.info;
  if (info.host.found) {
    PrintHost(info.host, utf8);
  } else {
    fputs(info.hasAssembly || !info.hasTables ? ".NET Assembly:\n"
                                              : ".NET Module:\n",
          stdout);
    PrintCli(info, utf8);
    PrintIdentity(info, utf8);
    if (info.hasTables) {
      std::string count;
      AppendNumber(info.referenceCount, &count);
      PrintLine("References", count);
    }
    if (facts.versionMismatch >= 0)
      PrintLine("Version Mismatch", facts.versionMismatch != 0 ? "yes" : "no");
  }
  if (info.malformed != kDotnetWellFormed)
    PrintLine("Malformed", DotnetMalformedName(info.malformed));
}

void ReportRecordDotnet(FileRecord *record, KeyDigester *keys,
                        DotnetFacts *facts, const Win32Versions *win32,
                        bool utf8) {
  facts->found = QueryRecordDotnet(record, keys, &facts->info) == 0;
  facts->versionMismatch = -1;
  if (!facts->found)
    return;
  facts->versionMismatch = CompareDotnetVersions(facts->info, win32);
  PrintDotnetText(*facts, utf8);
}
