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
  // A reference's blob is a key only when its flags say so; without the
  // flag it is the token as stored (the reader took it when it has 8
  // bytes), and a blob of any other length is no token at all: hashing it
  // would report a token the file never stated.
  for (DotnetIdentity &reference : info->references)
    if ((reference.flags & kAssemblyFlagPublicKey) != 0)
      FillToken(keys, &reference);
}
