// The entry of the signature module: the service's functions, in a table.
#include "signature_module.h"

extern "C" __attribute__((visibility("default"))) const SignatureModule *
QuelvoSignatureModule() {
  static const SignatureModule kModule = {
      kSignatureModuleVersion,
      OpenSignatureSetup,
      CloseSignatureSetup,
      AddCatalog,
      SkipCatalog,
      CountCatalogs,
      SetupNotes,
      ExamineSignature,
  };
  return &kModule;
}
