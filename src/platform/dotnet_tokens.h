// The public key tokens of a .NET file's identities, from the platform's
// own SHA-1 digest: shared by the POSIX and Windows services.
#ifndef QUELVO_DOTNET_TOKENS_H
#define QUELVO_DOTNET_TOKENS_H

#include "dotnet_info.h"

struct KeyDigester;

// Fills the token of the assembly and of every reference that carries a
// whole public key; a key of no bytes has no token, and without a digest
// (a build without one, or no digester) none is filled.
void FillDotnetTokens(KeyDigester *keys, DotnetInfo *info);

#endif
