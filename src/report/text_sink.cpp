// The text report: the banner, each file's lines and what follows them, a
// line for an argument that names no file, and the blank line that ends
// the report. A file's version lines are printed as the version services
// read its resource, so this form reads the file itself, through the
// record the facts carry, rather than a copy of its facts.
#include <stdio.h>

#include "dotnet_report.h"
#include "output_sink.h"
#include "report.h"
#include "signature_report.h"
#include "version_facts.h"

namespace {

const char kMaker[] = "Korvane ";
const char kVersion[] = "4.02";
const char kBuildStamp[] = "11/17/95 14:59";
const char kNotice[] = "Copyright (C) Korvane 1995. All rights reserved.";

struct TextState {
  TextSinkSettings settings;
};

void Begin(void *state) {
  if (!static_cast<TextState *>(state)->settings.quiet)
    PrintBanner();
}

// The text report's --hash line, after whatever it printed of the file:
// labelled and aligned as the string lines are, starting in the first
// column like every line of the report's own.
void PrintDigestLine(const FileDigest &digest) {
  fputs("SHA-256:           ", stdout);
  fputs(digest.read ? DigestHex(digest).c_str() : "unreadable", stdout);
  fputs("\n", stdout);
}

// What follows a file's version lines: the line of a file they could not
// report in full, and the --all, --hash and --signature lines.
void FinishFile(const TextSinkSettings &s, FileRecord *record, StatusCode code,
                const FileFacts &facts) {
  if (code != kStatusOk) {
    fputs("\n", stdout);
    PrintSafePath(record->path);
    fputs(" does not contain version information.\n", stdout);
  }
  // --all: a resource whose lookups failed still holds its strings; they
  // follow the line that says so. A resource that is not there or could
  // not be read has none to show.
  if (s.text.allStrings && code != kStatusOk && code != kStatusNoVersionInfo &&
      code != kStatusReadFailed && code != kStatusOutOfMemory)
    ReportRecordTables(record, s.text.utf8);
  if (facts.withDigest)
    PrintDigestLine(facts.digest);
  if (facts.signature)
    PrintSignatureFacts(*facts.signature, s.text.utf8);
}

// A file's report. With the checks, the facts they read come from the
// block the report reads; with --dotnet, the versions it compares with
// the assembly's are the ones the report read.
void WriteFile(void *state, FileFacts *facts) {
  const TextSinkSettings &s = static_cast<TextState *>(state)->settings;
  if (s.quiet)
    return;
  FileRecord *record = facts->record;
  Win32Versions versions; // the report fills it, when asked to
  Win32Versions *noted = s.dotnet ? &versions : nullptr;
  StatusCode code = s.checks
                        ? ReportAndGatherFacts(record, s.text, &facts->version,
                                               &facts->code, noted, s.checkPlan)
                        : ReportRecordVersion(record, s.text, noted);
  FinishFile(s, record, code, *facts);
  if (s.dotnet) {
    // The .NET facts are read after the report, from the file it read.
    facts->withDotnet = true;
    ReportRecordDotnet(record, s.keys, &facts->dotnet.emplace(), &versions,
                       s.text.utf8);
  }
}

// Each failure a line: after a blank one, or, with --quiet, a line of its
// own with nothing around it.
void WriteFailure(void *state, const FileFacts &facts) {
  const TextSinkSettings &s = static_cast<TextState *>(state)->settings;
  s.printFailure(facts, s.quiet);
}

void End(void *state) {
  if (!static_cast<TextState *>(state)->settings.quiet)
    fputs("\n", stdout);
}

void Free(void *state) { delete static_cast<TextState *>(state); }

} // namespace

OutputSink TextSink(const TextSinkSettings &settings) {
  TextState *s = new TextState();
  s->settings = settings;
  return {s, Begin, WriteFile, WriteFailure, End, Free};
}

void PrintBanner() {
  printf("\n");
  printf("%s Win32 Executable Version Checker %s %s\n", kMaker, kVersion,
         kBuildStamp);
  printf("%s\n", kNotice);
}
