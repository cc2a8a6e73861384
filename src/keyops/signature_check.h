// A signature of the ten natives, which open the key anew for each, is checked against the
// certificate it was made for before anyone sees it: a container re-keyed, a binding that names
// another container's key, or a damaged key would otherwise hand out a signature that nobody can
// verify. (The provider's held keys are checked once, when opened: public_key_match.h.)
#pragma once

#include "keyops/crypto_platform.h"

namespace keyops {

// True when `signature`, as the provider wrote it (least significant byte first), verifies over
// the hash with the certificate's public key, imported into `provider` for the check and
// destroyed after it. False with the Windows error of the import or of the verification.
bool signatureVerifies(const CryptoPlatform& platform, HCRYPTPROV provider, HCRYPTHASH hash,
                       PCCERT_CONTEXT certificate, const BYTE* signature, DWORD length,
                       DWORD& error);

}  // namespace keyops
