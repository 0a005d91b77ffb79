// What the signature service needs of the system's cryptography, one
// implementation per platform: libcrypto (crypto_openssl.cpp) or
// CryptoAPI (crypto_win.cpp). Digests, PKCS#7 and X.509 are theirs; the
// bytes they are given come from the reader.
#ifndef QUELVO_SIGNATURE_CRYPTO_H
#define QUELVO_SIGNATURE_CRYPTO_H

#include <stddef.h>

#include <string>
#include <vector>

#include "signature_facts.h"

// A running digest of one algorithm.
struct Digester;
Digester *StartDigester(DigestKind kind); // null when the kind is unknown
void FeedDigester(Digester *digester, const unsigned char *bytes,
                  size_t length);
// The digest, and the digester freed.
void FinishDigester(Digester *digester, std::vector<unsigned char> *digest);

// The CAs (and CRLs) a chain is built to. What the files hold that is
// left out (a certificate in the CRL file) is told in notes, one line
// each; a file that cannot be read, or holds nothing of its kind, is an
// error.
struct TrustStore;
TrustStore *OpenTrustStore(const char *caFile, const char *caPath,
                           const char *crlFile, std::vector<std::string> *notes,
                           std::string *error);
void CloseTrustStore(TrustStore *store);

// Reads an Authenticode PKCS#7 SignedData: its signature, then every
// nested one, depth first, each verified (signer, timestamp) and, with a
// store, its chain built. Appends at least one entry, whose problem says
// what could not be read.
void ReadSignatures(const unsigned char *der, size_t length,
                    const TrustStore *store,
                    std::vector<SignatureInfo> *signatures);

// One member hash of a catalog: the digest its SpcIndirectDataContent
// gives, and the algorithm.
struct CatalogMember {
  DigestKind kind;
  std::vector<unsigned char> digest;
};

// Reads a catalog (a PKCS#7 SignedData over a certificate trust list):
// its signer, verified as a signature's, and its members' hashes. False
// when the bytes are no signed catalog.
bool ReadCatalog(const unsigned char *der, size_t length,
                 const TrustStore *store, SignatureInfo *signer,
                 std::vector<CatalogMember> *members);

#endif
