// A public key as the blobs CryptExportKey and CNG's exports write: CryptoAPI's PUBLICKEYBLOB
// (RSA or DSS, least significant byte first) and CNG's BCRYPT_RSAKEY_BLOB or BCRYPT_ECCKEY_BLOB
// (most significant byte first).
#pragma once

#include <vector>

#include "softcapi/crypto/openssl_util.h"

namespace softcapi {

// The PUBLICKEYBLOB of an RSA or a DSA key (its seed unknown), its header naming `algorithm`;
// empty when OpenSSL fails or the key has no such blob (an RSA exponent beyond 32 bits, a DSA q
// beyond 160).
std::vector<BYTE> capiPublicKeyBlob(EVP_PKEY* key, ALG_ID algorithm);

// Whether CNG's blob type names a public blob of this key: BCRYPT_PUBLIC_KEY_BLOB for any,
// BCRYPT_RSAPUBLIC_BLOB for RSA, BCRYPT_ECCPUBLIC_BLOB for EC.
bool cngPublicBlobFits(EVP_PKEY* key, LPCWSTR blobType);

// The key's CNG public blob (RSA, or EC on P-256, P-384 or P-521); empty when OpenSSL fails.
std::vector<BYTE> cngPublicKeyBlob(EVP_PKEY* key);

}  // namespace softcapi
