// The signature service as a module loaded on demand: libcrypto costs every
// start of the program half a millisecond of relocations and page faults,
// which a run without --signature should not pay. The program and the
// module are built together, by the same compiler from the same headers,
// so the records pass between them as they are.
#ifndef QUELVO_SIGNATURE_MODULE_H
#define QUELVO_SIGNATURE_MODULE_H

#include "signature.h"

// Raised whenever an entry or a record the entries pass changes.
const int kSignatureModuleVersion = 2;

struct SignatureModule {
  int version;
  SignatureSetup *(*openSetup)(const SignatureOptions &options,
                               std::string *error);
  void (*closeSetup)(SignatureSetup *setup);
  void (*addCatalog)(SignatureSetup *setup, const char *name, ByteSource *src);
  void (*skipCatalog)(SignatureSetup *setup, const char *name, CatalogSkip why);
  CatalogCounts (*countCatalogs)(const SignatureSetup *setup);
  void (*setupNotes)(const SignatureSetup *setup,
                     std::vector<std::string> *lines);
  void (*examine)(ByteSource *src, const SignatureSetup *setup,
                  SignatureFacts *facts);
};

// The one name the module exports.
#define QUELVO_SIGNATURE_MODULE_ENTRY "QuelvoSignatureModule"
extern "C" const SignatureModule *QuelvoSignatureModule();

// The module's file name, beside the program in a build tree and in
// QUELVO_MODULE_DIR once installed.
#define QUELVO_SIGNATURE_MODULE_FILE "quelvo-signature.so"

#endif
