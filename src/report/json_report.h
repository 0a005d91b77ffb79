// One line of --json output: the object for one file, or for an argument
// that matched nothing or could not be examined. The keys are documented
// in the README and in schema/quelvo.schema.json.
#ifndef QUELVO_JSON_REPORT_H
#define QUELVO_JSON_REPORT_H

#include <string>

#include "dotnet_report.h"
#include "version_facts.h"

// Builds the object, without its newline, always valid UTF-8. status is
// "ok" or the failure's word; message is the failure's text (null for
// "ok"); facts is null when the file was not examined, and every key that
// comes from it is then null.
std::string JsonObject(const char *path, const char *status,
                       const char *message, const VersionFacts *facts);

// JsonObject with a last key, "dotnet" (--dotnet): its value null when
// dotnet is null or found no CLI header.
std::string JsonObjectWithDotnet(const char *path, const char *status,
                                 const char *message, const VersionFacts *facts,
                                 const DotnetFacts *dotnet);

#endif
