// The one rule for which keys the key store takes, whether the administration makes or imports
// them or a caller of CryptImportKey, CryptGenKey or CNG does: the keys the provider and the
// library can use, each in the family that holds it.
#pragma once

#include <openssl/evp.h>

#include <string>

#include "softcapi/keystore/keystore_rows.h"

namespace softcapi {

// The fewest and most bits of an RSA key of the family: the CSPs take 1024 to 16384, the key
// storage provider 2048 to 16384.
int leastRsaBits(KeyFamily family);
inline constexpr int kMostRsaBits = 16384;

// Why the family does not take the key, in one line; empty when it does. EC keys are taken on
// the named curves P-256, P-384 and P-521 only, which Java and CNG agree on.
std::string keyRefusal(EVP_PKEY* publicKey, KeyFamily family);

}  // namespace softcapi
