// Owners for the handles the CryptoAPI fixture opens. They release through the default table of
// Windows' own functions rather than the current one, so that a test's fault-injecting table
// neither sees nor counts what the fixture does.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>

#include "keyops/handles.h"

namespace capi {

using Store = keyops::BasicScopedStore<keyops::ThroughDefaultPlatform>;
using CertContext = keyops::BasicScopedCertContext<keyops::ThroughDefaultPlatform>;
using Provider = keyops::BasicScopedProvider<keyops::ThroughDefaultPlatform>;
using Hash = keyops::BasicScopedHash<keyops::ThroughDefaultPlatform>;
using Key = keyops::BasicScopedKey<keyops::ThroughDefaultPlatform>;

// A fixture step that failed: names the call and carries its error code.
inline std::runtime_error failure(const std::string& call) {
    char code[16];
    std::snprintf(code, sizeof(code), "%lx", static_cast<unsigned long>(::GetLastError()));
    return std::runtime_error("fixture: " + call + " failed with " + code);
}

inline std::wstring widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

}  // namespace capi
