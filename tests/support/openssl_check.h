// An independent judge for the tests: OpenSSL checks signatures against a certificate's public
// key and makes ciphertexts for it.
#pragma once

#include <vector>

#include "keyops/capi.h"

// Whether `signature`, as a CryptoAPI provider writes it (RSA least significant byte first; DSS
// r then s, 20 bytes each, least significant first), signs `message` hashed with
// `hashAlgorithm`. With `isHash` (and always for CALG_SSL3_SHAMD5) the message is the hash value
// itself.
bool opensslVerifies(const std::vector<BYTE>& certificate, ALG_ID hashAlgorithm,
                     const std::vector<BYTE>& message, const std::vector<BYTE>& signature,
                     bool isHash = false);

// Whether `signature`, as CNG writes it (RSA most significant byte first, ECDSA r then s), signs
// the hash: RSA with BCRYPT_PAD_PKCS1 or BCRYPT_PAD_PSS (and `saltLength`), ECDSA with scheme 0.
bool opensslVerifiesCng(const std::vector<BYTE>& certificate, ALG_ID hashAlgorithm,
                        const std::vector<BYTE>& hash, const std::vector<BYTE>& signature,
                        DWORD scheme, DWORD saltLength = 0);

// The digest of `message` for a CryptoAPI hash algorithm.
std::vector<BYTE> opensslDigest(ALG_ID hashAlgorithm, const std::vector<BYTE>& message);

// `plainText` encrypted for the certificate's RSA key, most significant byte first.
std::vector<BYTE> opensslEncrypt(const std::vector<BYTE>& certificate,
                                 const std::vector<BYTE>& plainText, bool oaep);
