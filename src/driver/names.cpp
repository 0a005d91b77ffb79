#include "names.h"

#include <string.h>

#include <vector>

#include "ascii_case.h"

const char *const kFieldNames[] = {
    "path",
    "status",
    "message",
    "format",
    "machine",
    "language",
    "language.id",
    "language.hex",
    "language.name",
    "charset",
    "charset.id",
    "charset.hex",
    "charset.name",
    "strings",
    "string_tables",
    "translations",
    "languages",
    "file_version",
    "product_version",
    "flags",
    "os",
    "type",
    "subtype",
    "fixed",
    "fixed.signature",
    "fixed.struc_version",
    "fixed.file_version_ms",
    "fixed.file_version_ls",
    "fixed.product_version_ms",
    "fixed.product_version_ls",
    "fixed.file_flags_mask",
    "fixed.file_flags",
    "fixed.file_os",
    "fixed.file_type",
    "fixed.file_subtype",
    "fixed.file_date_ms",
    "fixed.file_date_ls",
    "version",
    "version.file",
    "version.file_suffix",
    "version.product",
    "version.product_suffix",
    "version.source",
    "sha256",
    "signature",
    "signature.status",
    "signature.problem",
    "signature.integrity",
    "signature.table",
    "signature.table.offset",
    "signature.table.size",
    "signature.table.entries",
    "signature.table.trailing_bytes",
    "signature.unhashed_bytes",
    "signature.checksum",
    "signature.checksum.stored",
    "signature.checksum.computed",
    "signature.signatures",
    "signature.catalog",
    "signature.catalog.name",
    "signature.catalog.digest_algorithm",
    "signature.catalog.hash",
    "signature.catalog.signer",
    "signature.catalog.signer.subject",
    "signature.catalog.signer.subject_cn",
    "signature.catalog.signer.issuer",
    "signature.catalog.signer.issuer_cn",
    "signature.catalog.signer.serial",
    "signature.catalog.signer.sha256",
    "signature.catalog.signer.not_before",
    "signature.catalog.signer.not_after",
    "signature.catalog.trust",
    "signature.catalog.trust.status",
    "signature.catalog.trust.reason",
    "signature.catalog.trust.detail",
    "signature.catalog.trust.checked_at",
    "dotnet",
    "dotnet.malformed",
    "dotnet.runtime_version",
    "dotnet.metadata_version",
    "dotnet.streams",
    "dotnet.cli_version",
    "dotnet.cli_flags",
    "dotnet.cli_flags_value",
    "dotnet.strong_name_signature",
    "dotnet.strong_name_signature.rva",
    "dotnet.strong_name_signature.offset",
    "dotnet.strong_name_signature.size",
    "dotnet.ready_to_run",
    "dotnet.assembly",
    "dotnet.assembly.name",
    "dotnet.assembly.version",
    "dotnet.assembly.culture",
    "dotnet.assembly.flags",
    "dotnet.assembly.public_key",
    "dotnet.assembly.public_key_token",
    "dotnet.assembly.hash_algorithm",
    "dotnet.assembly.hash_algorithm.id",
    "dotnet.assembly.hash_algorithm.name",
    "dotnet.module",
    "dotnet.attributes",
    "dotnet.attributes.informational_version",
    "dotnet.attributes.file_version",
    "dotnet.attributes.title",
    "dotnet.attributes.description",
    "dotnet.attributes.company",
    "dotnet.attributes.product",
    "dotnet.attributes.copyright",
    "dotnet.attributes.configuration",
    "dotnet.attributes.target_framework",
    "dotnet.attributes.target_framework_display_name",
    "dotnet.reference_count",
    "dotnet.references",
    "dotnet.version_mismatch",
    "dotnet.host",
    "dotnet.host.kind",
    "dotnet.host.marker_offset",
    "dotnet.host.bundle",
    "dotnet.host.bundle.header_offset",
    "dotnet.host.bundle.version",
    "dotnet.host.bundle.id",
    "dotnet.host.bundle.files",
    "dotnet.host.bundle.main_assembly",
    "expect",
    "lint",
    // The strings Windows defines; a table may hold others, named alike.
    "Comments",
    "CompanyName",
    "FileDescription",
    "FileVersion",
    "InternalName",
    "LegalCopyright",
    "LegalTrademarks",
    "OriginalFilename",
    "PrivateBuild",
    "ProductName",
    "ProductVersion",
    "SpecialBuild",
};
const size_t kFieldNameCount = sizeof kFieldNames / sizeof kFieldNames[0];

bool IsKnownField(const std::string &field) {
  for (const char *name : kFieldNames)
    if (field == name)
      return true;
  if (field.compare(0, 8, "strings.") == 0 && field.size() > 8)
    return true;
  if (field.find('.') != std::string::npos)
    return false;
  for (char c : field)
    if (c >= 'A' && c <= 'Z')
      return true;
  return false;
}

namespace {

// Levenshtein distance, letter case aside.
size_t EditDistance(const char *a, const char *b) {
  size_t n = strlen(b);
  std::vector<size_t> row(n + 1);
  for (size_t j = 0; j <= n; ++j)
    row[j] = j;
  for (size_t i = 1; *a != '\0'; ++a, ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= n; ++j) {
      size_t above = row[j];
      size_t cost = LowerAscii(*a) == LowerAscii(b[j - 1]) ? 0 : 1;
      size_t best = diagonal + cost;
      if (above + 1 < best)
        best = above + 1;
      if (row[j - 1] + 1 < best)
        best = row[j - 1] + 1;
      row[j] = best;
      diagonal = above;
    }
  }
  return row[n];
}

bool StartsWithFolded(const char *name, const char *word) {
  for (; *word != '\0'; ++word, ++name)
    if (*name == '\0' || LowerAscii(*name) != LowerAscii(*word))
      return false;
  return true;
}

} // namespace

const char *NearestName(const char *word, const char *const *names,
                        size_t count) {
  // A word cut short ("--sig") means the one name it begins.
  const char *begun = nullptr;
  size_t begunCount = 0;
  size_t length = strlen(word);
  for (size_t i = 0; i < count && length >= 3; ++i)
    if (StartsWithFolded(names[i], word) && ++begunCount == 1)
      begun = names[i];
  if (begunCount == 1)
    return begun;
  // Otherwise a slip of a few letters: about one in three at most.
  size_t limit = length / 3 > 2 ? length / 3 : 2;
  const char *best = nullptr;
  size_t bestDistance = limit + 1;
  for (size_t i = 0; i < count; ++i) {
    size_t d = EditDistance(word, names[i]);
    if (d < bestDistance) {
      bestDistance = d;
      best = names[i];
    }
  }
  return best;
}
