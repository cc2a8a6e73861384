#include "softcapi/advapi32/providers.h"

#include <strings.h>

namespace softcapi {

namespace {

const AlgorithmInfo kSha1 = {CALG_SHA1, 160, "SHA-1"};
const AlgorithmInfo kMd5 = {CALG_MD5, 128, "MD5"};
const AlgorithmInfo kShaMd5 = {CALG_SSL3_SHAMD5, 288, "SSL3 SHAMD5"};
const AlgorithmInfo kSha256 = {CALG_SHA_256, 256, "SHA-256"};
const AlgorithmInfo kSha384 = {CALG_SHA_384, 384, "SHA-384"};
const AlgorithmInfo kSha512 = {CALG_SHA_512, 512, "SHA-512"};

std::vector<AlgorithmInfo> rsaAlgorithms(DWORD keyBits, bool sha2) {
    std::vector<AlgorithmInfo> algorithms = {kSha1, kMd5, kShaMd5};
    if (sha2) algorithms.insert(algorithms.end(), {kSha256, kSha384, kSha512});
    algorithms.push_back({CALG_RSA_SIGN, keyBits, "RSA_SIGN"});
    algorithms.push_back({CALG_RSA_KEYX, keyBits, "RSA_KEYX"});
    return algorithms;
}

std::vector<AlgorithmInfo> dssAlgorithms() {
    return {kSha1, kMd5, {CALG_DSS_SIGN, 1024, "DSA_SIGN"}};
}

const std::vector<ProviderInfo>& providers() {
    static const std::vector<ProviderInfo> kProviders = {
        {"Microsoft Base Cryptographic Provider v1.0", PROV_RSA_FULL, KeyFamily::Rsa, false,
         rsaAlgorithms(512, false)},
        {"Microsoft Strong Cryptographic Provider", PROV_RSA_FULL, KeyFamily::Rsa, true,
         rsaAlgorithms(1024, false)},
        {"Microsoft Enhanced Cryptographic Provider v1.0", PROV_RSA_FULL, KeyFamily::Rsa, false,
         rsaAlgorithms(1024, false)},
        {"Microsoft RSA SChannel Cryptographic Provider", PROV_RSA_SCHANNEL, KeyFamily::Rsa, true,
         rsaAlgorithms(1024, false)},
        {"Microsoft Enhanced RSA and AES Cryptographic Provider", PROV_RSA_AES, KeyFamily::Rsa,
         true, rsaAlgorithms(1024, true), true},
        {"Microsoft Base DSS Cryptographic Provider", PROV_DSS, KeyFamily::Dss, true,
         dssAlgorithms()},
        {"Microsoft Base DSS and Diffie-Hellman Cryptographic Provider", PROV_DSS_DH,
         KeyFamily::Dss, true, dssAlgorithms()},
    };
    return kProviders;
}

}  // namespace

bool isKeyStorageProvider(const std::string& name) {
    return strcasecmp(name.c_str(), kKeyStorageProviderName) == 0;
}

const ProviderInfo* findProvider(const char* name) {
    for (const ProviderInfo& provider : providers()) {
        if (strcasecmp(provider.name, name) == 0) return &provider;
    }
    return nullptr;
}

const ProviderInfo* defaultProvider(DWORD type) {
    for (const ProviderInfo& provider : providers()) {
        if (provider.type == type && provider.typeDefault) return &provider;
    }
    return nullptr;
}

const ProviderInfo& familyDefaultProvider(KeyFamily family) {
    return *defaultProvider(family == KeyFamily::Rsa ? PROV_RSA_AES : PROV_DSS_DH);
}

bool offersAlgorithm(const ProviderInfo& provider, ALG_ID algorithm) {
    for (const AlgorithmInfo& info : provider.algorithms) {
        if (info.id == algorithm) return true;
    }
    return false;
}

// Fetched once: OpenSSL 3 looks a digest up by name, under locks, each time one of its
// EVP_sha256()-style constants is used, and every hash would pay for that search.
const EVP_MD* fetchedDigest(const char* name) {
    return EVP_MD_fetch(nullptr, name, nullptr);
}

const EVP_MD* digestFor(ALG_ID algorithm) {
    static const EVP_MD* const kMd5 = fetchedDigest("MD5");
    static const EVP_MD* const kSha1 = fetchedDigest("SHA1");
    static const EVP_MD* const kSha256 = fetchedDigest("SHA2-256");
    static const EVP_MD* const kSha384 = fetchedDigest("SHA2-384");
    static const EVP_MD* const kSha512 = fetchedDigest("SHA2-512");
    switch (algorithm) {
        case CALG_MD5: return kMd5;
        case CALG_SHA1: return kSha1;
        case CALG_SHA_256: return kSha256;
        case CALG_SHA_384: return kSha384;
        case CALG_SHA_512: return kSha512;
        default: return nullptr;
    }
}

DWORD digestSize(ALG_ID algorithm) {
    if (algorithm == CALG_SSL3_SHAMD5) return 36;
    const EVP_MD* digest = digestFor(algorithm);
    return digest != nullptr ? static_cast<DWORD>(EVP_MD_get_size(digest)) : 0;
}

}  // namespace softcapi
