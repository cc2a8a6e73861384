// Owners for what the core obtains through the CryptoPlatform: stores, certificate contexts,
// provider contexts, hashes and keys. The destructor is the early-exit fallback; a release whose
// outcome matters goes through close(), which empties the owner first, so that a release that
// reports failure (and has released all the same) is never tried twice.
#pragma once

#include <cassert>
#include <utility>

#include "keyops/crypto_platform.h"

template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : handle_(handle) {}
    ~UniqueHandle() {
        if (valid()) static_cast<void>(Traits::release(handle_));
    }
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.take()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.take());
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
    [[nodiscard]] bool close() { return Traits::release(take()); }

    void reset(Handle handle = Traits::invalid()) {
        if (valid()) static_cast<void>(Traits::release(handle_));
        handle_ = handle;
    }

private:
    Handle take() { return std::exchange(handle_, Traits::invalid()); }

    Handle handle_ = Traits::invalid();
};

struct StoreTraits {
    using Handle = HCERTSTORE;
    static Handle invalid() { return nullptr; }
    static bool release(Handle store) { return cryptoPlatform().CertCloseStore(store, 0) != FALSE; }
};

struct CertContextTraits {
    using Handle = PCCERT_CONTEXT;
    static Handle invalid() { return nullptr; }
    static bool release(Handle context) {
        return cryptoPlatform().CertFreeCertificateContext(context) != FALSE;
    }
};

struct ProviderTraits {
    using Handle = HCRYPTPROV;
    static Handle invalid() { return 0; }
    static bool release(Handle provider) {
        return cryptoPlatform().CryptReleaseContext(provider, 0) != FALSE;
    }
};

struct HashTraits {
    using Handle = HCRYPTHASH;
    static Handle invalid() { return 0; }
    static bool release(Handle hash) { return cryptoPlatform().CryptDestroyHash(hash) != FALSE; }
};

struct KeyTraits {
    using Handle = HCRYPTKEY;
    static Handle invalid() { return 0; }
    static bool release(Handle key) { return cryptoPlatform().CryptDestroyKey(key) != FALSE; }
};

using ScopedStore = UniqueHandle<StoreTraits>;
using ScopedCertContext = UniqueHandle<CertContextTraits>;
using ScopedProvider = UniqueHandle<ProviderTraits>;
using ScopedHash = UniqueHandle<HashTraits>;
using ScopedKey = UniqueHandle<KeyTraits>;
