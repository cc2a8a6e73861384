// Owners for the handles the CryptoAPI fixture opens. They call Windows directly rather than
// through the CryptoPlatform table, so that a test's fault-injecting table neither sees nor
// counts what the fixture does.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>

#include "keyops/handles.h"

namespace capi {

struct StoreTraits {
    using Handle = HCERTSTORE;
    static Handle invalid() { return nullptr; }
    static bool release(Handle store) { return ::CertCloseStore(store, 0) != FALSE; }
};

struct CertContextTraits {
    using Handle = PCCERT_CONTEXT;
    static Handle invalid() { return nullptr; }
    static bool release(Handle context) { return ::CertFreeCertificateContext(context) != FALSE; }
};

struct ProviderTraits {
    using Handle = HCRYPTPROV;
    static Handle invalid() { return 0; }
    static bool release(Handle provider) { return ::CryptReleaseContext(provider, 0) != FALSE; }
};

struct HashTraits {
    using Handle = HCRYPTHASH;
    static Handle invalid() { return 0; }
    static bool release(Handle hash) { return ::CryptDestroyHash(hash) != FALSE; }
};

struct KeyTraits {
    using Handle = HCRYPTKEY;
    static Handle invalid() { return 0; }
    static bool release(Handle key) { return ::CryptDestroyKey(key) != FALSE; }
};

using Store = UniqueHandle<StoreTraits>;
using CertContext = UniqueHandle<CertContextTraits>;
using Provider = UniqueHandle<ProviderTraits>;
using Hash = UniqueHandle<HashTraits>;
using Key = UniqueHandle<KeyTraits>;

// A fixture step that failed: names the call and carries its error code.
inline std::runtime_error failure(const std::string& call) {
    char code[16];
    std::snprintf(code, sizeof(code), "%lx", static_cast<unsigned long>(::GetLastError()));
    return std::runtime_error("fixture: " + call + " failed with " + code);
}

inline std::wstring widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

}  // namespace capi
