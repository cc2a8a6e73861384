#include "keyops/crypto_platform.h"

#include <atomic>

namespace keyops {

namespace {

#ifdef _WIN32
// Wine lists NCryptTranslateHandle among ncrypt.dll's exports but leaves it unimplemented, and a
// call of such a stub ends the process: there the table answers as CNG answers for a key it
// cannot translate.
SECURITY_STATUS WINAPI translateHandleWhereImplemented(NCRYPT_PROV_HANDLE* provider,
                                                       NCRYPT_KEY_HANDLE* key, HCRYPTPROV legacyProvider,
                                                       HCRYPTKEY legacyKey, DWORD keySpec, DWORD flags) {
    static const bool wine =
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    if (wine) return NTE_NOT_SUPPORTED;
    return ::NCryptTranslateHandle(provider, key, legacyProvider, legacyKey, keySpec, flags);
}
#endif

constexpr CryptoPlatform makeDefaultPlatform() {
#define QDIE_DEFAULT_FUNCTION(name, result, role, resource, parameters) &::name,
    CryptoPlatform table = {QDIE_CRYPTO_PLATFORM_FUNCTIONS(QDIE_DEFAULT_FUNCTION)};
#undef QDIE_DEFAULT_FUNCTION
#ifdef _WIN32
    table.NCryptTranslateHandle = translateHandleWhereImplemented;
#endif
    return table;
}

const CryptoPlatform kDefaultPlatform = makeDefaultPlatform();

std::atomic<const CryptoPlatform*> gCurrent{&kDefaultPlatform};

}  // namespace

const CryptoPlatform& defaultCryptoPlatform() {
    return kDefaultPlatform;
}

const CryptoPlatform& cryptoPlatform() {
    return *gCurrent.load(std::memory_order_acquire);
}

const CryptoPlatform* installCryptoPlatform(const CryptoPlatform* table) {
    return gCurrent.exchange(table != nullptr ? table : &kDefaultPlatform,
                             std::memory_order_acq_rel);
}

}  // namespace keyops
