// --signature for a whole run: the service (on Linux a module loaded now,
// so that a run without it never loads libcrypto), the CAs and CRLs the
// options name, and the catalogs' index, opened once; then one file's
// facts from its bytes.
#ifndef QUELVO_SIGNATURE_SERVICE_H
#define QUELVO_SIGNATURE_SERVICE_H

#include <string>
#include <vector>

#include "signature_facts.h"

struct ByteSource;

// Reads the CA file or folder and CRL file the options name, and every
// catalog (a name ending in .cat, in any case) in the catalog folder and
// its subfolders, each once. Null, with the reason in error, when one of
// them cannot be read.
struct SignatureChecks;
SignatureChecks *PrepareSignatureChecks(const SignatureOptions &options,
                                        std::string *error);
void ReleaseSignatureChecks(SignatureChecks *checks);
// What preparing them met that the user should hear of, one line each
// without the program's name: a certificate left out of the CRL file,
// catalogs rejected or unreadable, and why.
void SignatureCheckNotes(const SignatureChecks *checks,
                         std::vector<std::string> *lines);

// The Authenticode facts of one file, read through src in one pass from
// its start to its end besides its headers and its signature.
void CheckSignature(const SignatureChecks *checks, ByteSource *src,
                    SignatureFacts *facts);

#endif
