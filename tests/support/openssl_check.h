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

// The digest of `message` for a CryptoAPI hash algorithm.
std::vector<BYTE> opensslDigest(ALG_ID hashAlgorithm, const std::vector<BYTE>& message);

// `plainText` encrypted for the certificate's RSA key, most significant byte first.
std::vector<BYTE> opensslEncrypt(const std::vector<BYTE>& certificate,
                                 const std::vector<BYTE>& plainText, bool oaep);
