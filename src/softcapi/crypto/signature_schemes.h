// How CryptoAPI's signatures map onto OpenSSL's: RSA is PKCS#1 v1.5 over the hash's DigestInfo
// (none for SSL3 SHAMD5 or with CRYPT_NOHASHOID), DSS is r then s, 20 bytes each, each least
// significant byte first. Signing and verification share these.
#pragma once

#include <vector>

#include "softcapi/crypto/openssl_util.h"

namespace softcapi {

const DWORD kDssSignatureSize = 40;

// A context set up to sign (or verify) a hash of `algorithm` with an RSA key; null on failure.
PkeyCtxPtr rsaSignatureContext(EVP_PKEY* key, ALG_ID algorithm, DWORD flags, bool signing);
// The same for a DSS key, which signs SHA-1 hashes only.
PkeyCtxPtr dssSignatureContext(EVP_PKEY* key, bool signing);

// A DER DSA-Sig as CryptoAPI writes it; false when r or s does not fit 20 bytes.
bool dssSignatureFromDer(const BYTE* der, size_t length, BYTE (&out)[kDssSignatureSize]);
// CryptoAPI's r and s as a DER DSA-Sig; empty when OpenSSL fails.
std::vector<BYTE> dssSignatureToDer(const BYTE* signature);

}  // namespace softcapi
