#include "keyops/crypto_platform.h"

#include <atomic>

namespace keyops {

namespace {

#define QDIE_DEFAULT_FUNCTION(name, result, role, resource, parameters) &::name,
const CryptoPlatform kDefaultPlatform = {QDIE_CRYPTO_PLATFORM_FUNCTIONS(QDIE_DEFAULT_FUNCTION)};
#undef QDIE_DEFAULT_FUNCTION

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
