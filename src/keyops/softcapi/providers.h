// The Microsoft providers the software CryptoAPI stands in for: names, types, container
// namespaces and the algorithms each offers.
#pragma once

#include <openssl/evp.h>

#include <vector>

#include "keyops/softcapi/keystore_rows.h"
#include "keyops/softcapi/wintypes.h"

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
    std::vector<AlgorithmInfo> algorithms;  // in PP_ENUMALGS order
};

// By name, compared case-insensitively as Windows' provider registry does; null when unknown.
const ProviderInfo* findProvider(const char* name);
// The provider Windows picks for a type when no name is given; null for an unknown type.
const ProviderInfo* defaultProvider(DWORD type);
// Any provider of the type is known.
bool isKnownProviderType(DWORD type);

bool offersAlgorithm(const ProviderInfo& provider, ALG_ID algorithm);

// The digest behind a hash algorithm; null for SSL3 SHAMD5, which is MD5 and SHA-1 side by side.
const EVP_MD* digestFor(ALG_ID algorithm);
// Digest size in bytes of a hash algorithm, 0 when it is not one.
DWORD digestSize(ALG_ID algorithm);

}  // namespace softcapi
