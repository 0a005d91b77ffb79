// Bytes in as an executable image: walk its certificate table, read its
// signatures and stream its digest; the same bytes as a catalog, and as a
// bare PKCS#7 blob. The first byte chooses which, so that the fuzzer can
// grow catalogs and blobs of their own.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <vector>

#include "byte_source.h"
#include "cert_table.h"
#include "crypto.h"
#include "signature.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  ByteSource src;
  InitMemorySource(&src, data, size);
  SignatureFacts facts;
  ExamineSignature(&src, nullptr, &facts);
  // What the table walk promised: entries inside the file, ranges inside
  // what the digest reads.
  PeSignatureLayout layout;
  ReadSignatureLayout(&src, &layout);
  for (const CertEntry &e : layout.entries)
    if (e.offset > size || size - e.offset < 8)
      abort();
  for (const HashRange &r : layout.hashed)
    if (r.offset > size || r.length > size - r.offset)
      abort();
  if (size > 0 && data[0] % 2 == 0) {
    SignatureOptions none = {nullptr, nullptr, nullptr, nullptr};
    std::string error;
    SignatureSetup *setup = OpenSignatureSetup(none, &error);
    AddCatalog(setup, "fuzz.cat", &src);
    ExamineSignature(&src, setup, &facts);
    CloseSignatureSetup(setup);
  } else {
    std::vector<SignatureInfo> signatures;
    ReadSignatures(data, size, nullptr, &signatures);
  }
  return 0;
}
