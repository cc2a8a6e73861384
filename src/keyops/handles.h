// Owners for what is obtained through the CryptoPlatform: stores, certificate contexts, provider
// contexts, hashes, keys and CNG objects. The destructor is the early-exit fallback; a release whose outcome
// matters goes through close(), which empties the owner first, so that a release that reports
// failure (and has released all the same) is never tried twice.
#pragma once

#include <cassert>
#include <utility>

#include "keyops/crypto_platform.h"

namespace keyops {

template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : handle_(handle) {}
    ~UniqueHandle() {
        if (valid()) static_cast<void>(Traits::release(handle_));
    }
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.detach()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.detach());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    Handle get() const { return handle_; }
    bool valid() const { return handle_ != Traits::invalid(); }

    // For an out-parameter: the owner must be empty.
    Handle* put() {
        assert(!valid());
        return &handle_;
    }

    // Releases now; true when the platform reported success.
    [[nodiscard]] bool close() { return Traits::release(detach()); }

    void reset(Handle handle = Traits::invalid()) {
        if (valid()) static_cast<void>(Traits::release(handle_));
        handle_ = handle;
    }

    // Gives the handle up to a call that releases it itself (CertDeleteCertificateFromStore).
    [[nodiscard]] Handle detach() { return std::exchange(handle_, Traits::invalid()); }

private:
    Handle handle_ = Traits::invalid();
};

// The table a handle goes back through. The core's own owners use the current one, so that a
// test's fault-injecting table sees and counts every release; test fixtures that must stay out of
// what a test counts use the default table of the real functions.
struct ThroughCurrentPlatform {
    static const CryptoPlatform& table() { return cryptoPlatform(); }
};
struct ThroughDefaultPlatform {
    static const CryptoPlatform& table() { return defaultCryptoPlatform(); }
};

template <typename Platform>
struct StoreTraits {
    using Handle = HCERTSTORE;
    static Handle invalid() { return nullptr; }
    static bool release(Handle store) { return Platform::table().CertCloseStore(store, 0) != FALSE; }
};

template <typename Platform>
struct CertContextTraits {
    using Handle = PCCERT_CONTEXT;
    static Handle invalid() { return nullptr; }
    static bool release(Handle context) {
        return Platform::table().CertFreeCertificateContext(context) != FALSE;
    }
};

template <typename Platform>
struct ProviderTraits {
    using Handle = HCRYPTPROV;
    static Handle invalid() { return 0; }
    static bool release(Handle provider) {
        return Platform::table().CryptReleaseContext(provider, 0) != FALSE;
    }
};

template <typename Platform>
struct HashTraits {
    using Handle = HCRYPTHASH;
    static Handle invalid() { return 0; }
    static bool release(Handle hash) { return Platform::table().CryptDestroyHash(hash) != FALSE; }
};

template <typename Platform>
struct KeyTraits {
    using Handle = HCRYPTKEY;
    static Handle invalid() { return 0; }
    static bool release(Handle key) { return Platform::table().CryptDestroyKey(key) != FALSE; }
};

template <typename Platform>
struct NcryptTraits {
    using Handle = NCRYPT_HANDLE;
    static Handle invalid() { return 0; }
    static bool release(Handle object) {
        return Platform::table().NCryptFreeObject(object) == ERROR_SUCCESS;
    }
};

template <typename Platform = ThroughCurrentPlatform>
using BasicScopedStore = UniqueHandle<StoreTraits<Platform>>;
template <typename Platform = ThroughCurrentPlatform>
using BasicScopedCertContext = UniqueHandle<CertContextTraits<Platform>>;
template <typename Platform = ThroughCurrentPlatform>
using BasicScopedProvider = UniqueHandle<ProviderTraits<Platform>>;
template <typename Platform = ThroughCurrentPlatform>
using BasicScopedHash = UniqueHandle<HashTraits<Platform>>;
template <typename Platform = ThroughCurrentPlatform>
using BasicScopedKey = UniqueHandle<KeyTraits<Platform>>;

using ScopedStore = BasicScopedStore<>;
using ScopedCertContext = BasicScopedCertContext<>;
using ScopedProvider = BasicScopedProvider<>;
using ScopedHash = BasicScopedHash<>;
using ScopedKey = BasicScopedKey<>;
// A CNG key or storage provider.
using ScopedNcryptObject = UniqueHandle<NcryptTraits<ThroughCurrentPlatform>>;

struct BcryptKeyTraits {
    using Handle = BCRYPT_KEY_HANDLE;
    static Handle invalid() { return nullptr; }
    static bool release(Handle key) { return cryptoPlatform().BCryptDestroyKey(key) == 0; }
};
// A public key imported for BCrypt.
using ScopedBcryptKey = UniqueHandle<BcryptKeyTraits>;

}  // namespace keyops
