// Reads a .NET file's CLI header and metadata (ECMA-335) for --dotnet: the
// runtime version, flags and streams, the assembly's identity and the
// attributes applied to it, the assemblies it refers to; or, for a native
// program, whether it is an apphost and the single-file bundle it carries.
//
// Only the headers, the metadata root, the table rows it needs and the
// heap entries they name are read, each through the bounded cursor; every
// row size, index width, coded index and blob length is checked against
// the stream it lies in. A malformed file yields what could be read and
// the first thing found wrong.
#ifndef QUELVO_DOTNET_META_H
#define QUELVO_DOTNET_META_H

#include <stddef.h>
#include <stdint.h>

#include "byte_source.h"
#include "dotnet_info.h"
#include "pe_image.h"

// Fills info and returns true when the file has a CLI header or is a host
// (info->hasCli or info->host.found), or names a CLI header that cannot be
// read (info->malformed says why); false for any other file, info then
// empty. The public key tokens are left to the caller (hasToken is set
// only for a reference that stores its token).
bool ReadDotnetInfo(ByteSource *src, DotnetInfo *info);
// The same, from headers already read from src.
bool ReadDotnetInfo(ByteSource *src, const PeImage &image, DotnetInfo *info);

// Limits on what is taken from a file, far beyond what compilers write:
// a longer name, key or attribute value is malformed; references past the
// first kDotnetMaxReferences are counted, not listed; no more than
// kDotnetMaxHostScan bytes of a native program's data are searched for the
// bundle marker. The identities' names, cultures and keys together take
// at most kDotnetMaxIdentityBytes from the heaps, looked at or kept, each
// row's own copy counted (rows may share one heap entry): the references
// past that are counted, not listed, and the file is kDotnetTooLarge. A
// key longer than kDotnetMaxKey (a 16384-bit RSA key takes 2 KiB) is not
// kept: its identity is listed with its key and token unknown, and the
// file is kDotnetTooLarge, so one huge key shared by every row neither
// costs its size per row nor hides the rows after it.
const uint32_t kDotnetMaxString = 0x10000;
const uint32_t kDotnetMaxKey = 0x1000;
const uint32_t kDotnetMaxBlob = 0x100000;
const uint32_t kDotnetMaxReferences = 0x10000;
const uint32_t kDotnetMaxIdentityBytes = 2u << 20;
const uint64_t kDotnetMaxHostScan = 16u << 20;

// Metadata up to this size is read from a file in one piece (one read
// instead of one for each place the rows and heaps are read from); larger
// metadata a page at a time.
const uint32_t kDotnetBufferedMetadata = 32u << 10;
const size_t kDotnetMetadataWindows = 16;

// A packed length (II.23.2) from the count bytes at p: 1, 2 or 4 bytes by
// the first byte's top bits. False when the bytes do not hold one whole
// (or its first byte is 0xFF or another form no length takes).
bool DecodePackedLength(const unsigned char *p, size_t count, uint32_t *value,
                        size_t *used);

// The last 8 bytes of a public key's SHA-1 digest, reversed: its token.
void TokenFromDigest(const unsigned char digest[20], unsigned char token[8]);

#endif
