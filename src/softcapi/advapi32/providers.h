// The Microsoft providers the software CryptoAPI stands in for: names, types, container
// namespaces and the algorithms each offers.
#pragma once

#include <openssl/evp.h>

#include <string>
#include <vector>

#include "softcapi/keystore/keystore_rows.h"
#include "softcapi/wintypes.h"

namespace softcapi {

struct AlgorithmInfo {
    ALG_ID id;
    DWORD defaultBits;
    const char* name;
};

struct ProviderInfo {
    const char* name;
    DWORD type;
    KeyFamily family;
    bool typeDefault;  // the one Windows picks for its type when no name is given
    std::vector<AlgorithmInfo> algorithms;  // in PP_ENUMALGS order
    // CryptDecrypt takes CRYPT_DECRYPT_RSA_NO_PADDING_CHECK: the raw private-key operation, which
    // Windows documents for the Enhanced RSA and AES provider alone.
    bool rawRsaDecryption = false;
};

// The key storage provider of the software CryptoAPI: not a CSP, so CryptAcquireContext knows
// nothing of it; its keys are opened through NCrypt.
inline constexpr char kKeyStorageProviderName[] = "Microsoft Software Key Storage Provider";
bool isKeyStorageProvider(const std::string& name);

// By name, compared case-insensitively as Windows' provider registry does; null when unknown.
const ProviderInfo* findProvider(const char* name);
// The provider Windows picks for a type when no name is given; null for an unknown type.
const ProviderInfo* defaultProvider(DWORD type);
// The provider a new key of the family is bound to when none is named: the AES provider for RSA,
// the DSS and Diffie-Hellman one for DSA, the newest of each family.
const ProviderInfo& familyDefaultProvider(KeyFamily family);

bool offersAlgorithm(const ProviderInfo& provider, ALG_ID algorithm);

// The digest behind a hash algorithm; null for SSL3 SHAMD5, which is MD5 and SHA-1 side by side.
const EVP_MD* digestFor(ALG_ID algorithm);
// Digest size in bytes of a hash algorithm, 0 when it is not one.
DWORD digestSize(ALG_ID algorithm);

}  // namespace softcapi
