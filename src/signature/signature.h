// Authenticode signatures beside the version resource: the service that
// --signature, --ca-file, --ca-path, --crl-file and --catalog-dir ask of
// one file, over the reader's bounded cursor. The cryptography is the
// system's: libcrypto on Linux, CryptoAPI on Windows.
#ifndef QUELVO_SIGNATURE_H
#define QUELVO_SIGNATURE_H

#include <stddef.h>

#include <string>
#include <vector>

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

// Reads one catalog file: its outer DER length first, which must lie in
// the file and under kMaxCatalogSize, then that many bytes; verifies its
// signature and indexes its member hashes; name is how reports name it.
// A file that is no signed catalog, or whose signature does not verify,
// is counted as rejected, with the reason.
void AddCatalog(SignatureSetup *setup, const char *name, ByteSource *src);
const uint64_t kMaxCatalogSize = 256u << 20;

// Why a catalog file was not read: the walk's own reasons.
enum CatalogSkip {
  kCatalogNotRegular = 0, // a FIFO, device or socket: never opened
  kCatalogCannotOpen = 1,
};
void SkipCatalog(SignatureSetup *setup, const char *name, CatalogSkip why);

// What the catalog folder held: catalogs read, catalogs rejected (and
// why), catalogs that could not be read (and why), member hashes indexed.
struct CatalogCounts {
  size_t read;
  size_t rejected; // notCatalog + tooLarge + badSignature
  size_t members;
  size_t notCatalog;   // no signed catalog, or cut short
  size_t tooLarge;     // an outer length over kMaxCatalogSize
  size_t badSignature; // a signature that does not verify
  size_t unreadable;   // cannotOpen + readFailed + notRegular
  size_t cannotOpen;
  size_t readFailed;
  size_t notRegular;
};
CatalogCounts CountCatalogs(const SignatureSetup *setup);

// What the user should hear of the setup, one line each, without the
// program's name: a certificate left out of the CRL file, and the
// catalogs rejected or unreadable.
void SetupNotes(const SignatureSetup *setup, std::vector<std::string> *lines);

// Examines one file: its certificate table, checksum, signatures and, for
// a file without one, the catalogs. The file is read once, from start to
// end, besides its headers and its signature. setup may be null: no trust
// and no catalogs.
void ExamineSignature(ByteSource *src, const SignatureSetup *setup,
                      SignatureFacts *facts);

#endif
