// The one door through which the core reaches certificates, keys and the window system: a table
// of CryptoAPI functions with their Windows signatures. The default table holds the real ones
// (CRYPT32/ADVAPI32/USER32 on Windows, the software CryptoAPI elsewhere); tests swap in their own.
#pragma once

#include "keyops/capi.h"
#include "keyops/crypto_platform_functions.h"

namespace keyops {

#define QDIE_PLATFORM_MEMBER(name, result, role, resource, parameters) result(WINAPI* name) parameters;
struct CryptoPlatform {
    QDIE_CRYPTO_PLATFORM_FUNCTIONS(QDIE_PLATFORM_MEMBER)
};
#undef QDIE_PLATFORM_MEMBER

// The table of the real functions of this platform.
const CryptoPlatform& defaultCryptoPlatform();

// The table the core calls through: the default one unless a test has installed another.
const CryptoPlatform& cryptoPlatform();

// Makes `table` the current one and returns the previous; null restores the default. The table
// must outlive its installation. Meant for tests, which install one table at a time.
const CryptoPlatform* installCryptoPlatform(const CryptoPlatform* table);

}  // namespace keyops
