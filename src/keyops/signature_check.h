// A signature is checked against the certificate it was made for before anyone sees it: a
// container re-keyed, a binding that names another container's key, or a damaged key would
// otherwise hand out a signature that nobody can verify.
#pragma once

#include "keyops/crypto_platform.h"

namespace keyops {

// True when `signature`, as the provider wrote it (least significant byte first), verifies over
// the hash with the certificate's public key, imported into `provider` for the check and
// destroyed after it. False with the Windows error of the import or of the verification.
bool signatureVerifies(const CryptoPlatform& platform, HCRYPTPROV provider, HCRYPTHASH hash,
                       PCCERT_CONTEXT certificate, const BYTE* signature, DWORD length,
                       DWORD& error);

// The same for a signature as CNG wrote it (RSA most significant byte first, ECDSA r then s),
// with its padding (`paddingInfo` and `flags` as BCryptVerifySignature takes them), through a
// BCrypt key of the certificate's public key. The import's last error or the verification's
// status on failure.
bool cngSignatureVerifies(const CryptoPlatform& platform, PCCERT_CONTEXT certificate,
                          void* paddingInfo, DWORD flags, const BYTE* hash, DWORD hashLength,
                          const BYTE* signature, DWORD length, DWORD& error);

}  // namespace keyops
