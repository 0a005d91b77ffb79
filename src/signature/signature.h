// Authenticode signatures beside the version resource: the service that
// --signature, --ca-file, --ca-path, --crl-file and --catalog-dir ask of
// one file, over the reader's bounded cursor. The cryptography is the
// system's: libcrypto on Linux, CryptoAPI on Windows.
#ifndef QUELVO_SIGNATURE_H
#define QUELVO_SIGNATURE_H

#include <stddef.h>

#include <string>

#include "byte_source.h"
#include "signature_facts.h"

// What every file's check shares in a run: the trust store, when a CA is
// given, and the index of the catalogs' member hashes.
struct SignatureSetup;

// Loads the CAs and CRLs the options name (catalogDir is the caller's to
// walk, with AddCatalog). Null, with the reason in error, when one of them
// cannot be read.
SignatureSetup *OpenSignatureSetup(const SignatureOptions &options,
                                   std::string *error);
void CloseSignatureSetup(SignatureSetup *setup);

// Reads one catalog file, of any size up to kMaxCatalogSize, verifies its
// signature and indexes its member hashes; name is how reports name it.
// A file that is no signed catalog, or whose signature does not verify,
// is counted as rejected.
void AddCatalog(SignatureSetup *setup, const char *name, ByteSource *src);
const uint64_t kMaxCatalogSize = 256u << 20;

// What the catalog folder held: catalogs read, catalogs passed over (not
// a signed catalog, or a signature that does not verify), member hashes
// indexed.
struct CatalogCounts {
  size_t read;
  size_t rejected;
  size_t members;
};
CatalogCounts CountCatalogs(const SignatureSetup *setup);

// Examines one file: its certificate table, checksum, signatures and, for
// a file without one, the catalogs. The file is read once, from start to
// end, besides its headers and its signature. setup may be null: no trust
// and no catalogs.
void ExamineSignature(ByteSource *src, const SignatureSetup *setup,
                      SignatureFacts *facts);

#endif
