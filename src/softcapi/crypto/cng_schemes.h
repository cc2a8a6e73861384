// How CNG's signatures map onto OpenSSL's, for signing (NCryptSignHash) and verification
// (BCryptVerifySignature) alike: RSA PKCS #1 v1.5 (over the hash's DigestInfo, or the bare hash
// when no algorithm is named) or PSS, most significant byte first; ECDSA as r then s, each as
// long as the field.
#pragma once

#include <vector>

#include "softcapi/crypto/openssl_util.h"

namespace softcapi {

bool isEcKey(EVP_PKEY* key);
// The digest a CNG algorithm name stands for; null for a name it does not know.
const EVP_MD* digestNamed(LPCWSTR name);
// What a signature of the key is long: the modulus, or r and s.
DWORD cngSignatureSize(EVP_PKEY* key);

// A context set up to sign or verify a hash of `hashSize` bytes with an RSA key, by the padding
// flag (BCRYPT_PAD_PKCS1 or BCRYPT_PAD_PSS) and its padding information. ERROR_SUCCESS, or the
// error CNG answers: NTE_INVALID_PARAMETER for a padding it cannot take, NTE_NOT_SUPPORTED for a
// hash algorithm it does not know.
DWORD cngRsaContext(EVP_PKEY* key, const void* paddingInfo, DWORD padding, DWORD hashSize,
                    bool signing, PkeyCtxPtr& context);

// CNG's r and s as a DER ECDSA-Sig, and back; empty, or false, when they do not fit.
std::vector<BYTE> ecdsaToDer(const BYTE* signature, DWORD size);
bool ecdsaFromDer(const BYTE* der, size_t length, BYTE* out, DWORD size);

}  // namespace softcapi
