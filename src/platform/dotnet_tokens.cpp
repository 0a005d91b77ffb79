#include "dotnet_tokens.h"

#include "dotnet_meta.h"
#include "platform_extra.h"

namespace {

void FillToken(KeyDigester *keys, DotnetIdentity *id) {
  if (keys == nullptr || id->hasToken || id->publicKey.empty())
    return;
  unsigned char digest[20];
  if (!Sha1Digest(keys, id->publicKey.data(), id->publicKey.size(), digest))
    return;
  TokenFromDigest(digest, id->token);
  id->hasToken = true;
}

} // namespace

void FillDotnetTokens(KeyDigester *keys, DotnetInfo *info) {
  if (info->hasAssembly)
    FillToken(keys, &info->assembly);
  for (DotnetIdentity &reference : info->references)
    FillToken(keys, &reference);
}
