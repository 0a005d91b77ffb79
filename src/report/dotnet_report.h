// --dotnet: a .NET file's own identity beside its Win32 version resource,
// as lines after the text report or as the "dotnet" value of its JSON
// object; and whether the two versions agree.
#ifndef QUELVO_DOTNET_REPORT_H
#define QUELVO_DOTNET_REPORT_H

#include <stdint.h>

#include <string>
#include <vector>

#include "dotnet_info.h"
#include "json_writer.h"
#include "platform.h"
#include "platform_extra.h"
#include "report.h"
#include "version_facts.h"

struct DotnetFacts {
  bool found; // a CLI header (or a host): the rest is filled in
  DotnetInfo info;
  // Whether the version attributes disagree with the version resource:
  // -1 when nothing could be compared, 0 when they agree, 1 when not.
  int versionMismatch;
};

// Reads the file's .NET facts through the platform, from the record's
// source, and compares them with the version resource's facts (win32;
// null when the file has none).
void GatherDotnetFacts(FileRecord *record, KeyDigester *keys,
                       const VersionFacts *win32, DotnetFacts *facts);

// The versions the comparison reads, from the JSON report's facts.
Win32Versions VersionsOf(const VersionFacts &facts);

// The numbers a version text starts with, as inventory tools compare
// them: up to four decimal parts separated by '.' or ',' (and spaces, as
// old resource scripts write "1, 2, 3, 4"), up to the first other
// character ("10.0.7+sha.abc" is 10.0.7), with trailing zero parts
// dropped. False when the text does not start with a number.
bool NormaliseVersion(const std::string &text, std::vector<uint64_t> *parts);

// AssemblyFileVersion against the resource's FileVersion, and
// AssemblyInformationalVersion against its ProductVersion: each the string
// where the table has it, else the fixed record's numbers. -1, 0 or 1 as
// DotnetFacts::versionMismatch.
int CompareDotnetVersions(const DotnetInfo &info, const Win32Versions *win32);

// The "dotnet" value: null unless facts->found.
void WriteDotnetJson(JsonWriter *w, const DotnetFacts *facts);

// The text report's lines for a file with a CLI header or a host (none for
// any other): a heading, then one indented line per fact. Values print in
// UTF-8 with utf8, else with every character outside printable ASCII as a
// space, as the report prints the resource's text.
void PrintDotnetText(const DotnetFacts &facts, bool utf8);

// The text report's lines for a record, after its version report: the
// facts read now from the record's source, compared with the versions the
// report noted (null when it read none).
void ReportRecordDotnet(FileRecord *record, KeyDigester *keys,
                        DotnetFacts *facts, const Win32Versions *win32,
                        bool utf8);

#endif
