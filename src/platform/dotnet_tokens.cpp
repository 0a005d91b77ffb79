#include "dotnet_tokens.h"

#include "dotnet_meta.h"
#include "platform_extra.h"

namespace {

void FillToken(DotnetIdentity *id) {
  if (id->hasToken || id->publicKey.empty())
    return;
  unsigned char digest[20];
  if (!Sha1Digest(id->publicKey.data(), id->publicKey.size(), digest))
    return;
  TokenFromDigest(digest, id->token);
  id->hasToken = true;
}

} // namespace

void FillDotnetTokens(DotnetInfo *info) {
  if (info->hasAssembly)
    FillToken(&info->assembly);
  for (DotnetIdentity &reference : info->references)
    FillToken(&reference);
}
