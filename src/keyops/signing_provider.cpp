#include "keyops/signing_provider.h"

#include <cstring>
#include <string>

#include "diagnostics/log.h"

namespace keyops {

using diagnostics::kStatusNoKeyContainer;
using diagnostics::writeLog;
using diagnostics::writeLogFormatted;

namespace {

const char* const kLegacyProviders[] = {
    "Microsoft Base Cryptographic Provider v1.0",
    "Microsoft Base DSS Cryptographic Provider",
    "Microsoft Enhanced Cryptographic Provider v1.0",
    "Microsoft RSA SChannel Cryptographic Provider",
    "Microsoft Strong Cryptographic Provider",
};

struct SubstituteProvider {
    const char* keyAlgorithm;
    DWORD type;
    const char* name;
};

const SubstituteProvider kSubstitutes[] = {
    {"RSA", PROV_RSA_AES, "Microsoft Enhanced RSA and AES Cryptographic Provider"},
    {"DSA", PROV_DSS_DH, "Microsoft Base DSS and Diffie-Hellman Cryptographic Provider"},
};

const char kPrototypeProvider[] = "Microsoft Enhanced RSA and AES Cryptographic Provider (Prototype)";
const char kStandardProvider[] = "Microsoft Enhanced Cryptographic Provider v1.0";

const char kSetPopupParent[] = "Set CSP popup parent";
const char kTryingPrototype[] = "Attempting to using prototype provider (XP?).";
const char kTryingStandard[] = "Attempting to using standard provider (support SHA-1 only).";
const char kAcquireError[] = "CryptAcquire Context error: %x";
const char kEnumerating[] = "Enumerate algorithm";
const char kAlgorithmLine[] = "    %8.8xh    %-4d    %s          %s";
const char kPinSet[] = "CryptSetProvParam success";
const char kAcquireContext[] = "CryptAcquireContextA";

// The algorithm list is read into a buffer this large, whatever a PROV_ENUMALGS needs.
const DWORD kAlgorithmBufferSize = 1024;

const char* classLabel(ALG_ID algorithm) {
    switch (GET_ALG_CLASS(algorithm)) {
        case ALG_CLASS_SIGNATURE: return "Signature";
        case ALG_CLASS_DATA_ENCRYPT: return "Encrypt  ";
        case ALG_CLASS_HASH: return "Hash     ";
        case ALG_CLASS_KEY_EXCHANGE: return "Exchange ";
        default: return "Unknown  ";
    }
}

bool acquire(const CryptoPlatform& platform, const KeyBinding& binding, const char* providerName,
             ScopedProvider& provider) {
    return platform.CryptAcquireContextA(provider.put(), binding.containerName.c_str(),
                                         providerName, binding.providerType,
                                         binding.keysetFlags) != FALSE;
}

}  // namespace

Substitution substituteLegacyProvider(const char* keyAlgorithm, KeyBinding& binding) {
    bool legacy = false;
    for (const char* name : kLegacyProviders) legacy = legacy || binding.providerName == name;
    if (!legacy) return Substitution::Kept;
    for (const SubstituteProvider& substitute : kSubstitutes) {
        if (keyAlgorithm != nullptr && std::strcmp(keyAlgorithm, substitute.keyAlgorithm) == 0) {
            binding.providerType = substitute.type;
            binding.providerName = substitute.name;
            return Substitution::Replaced;
        }
    }
    return Substitution::Refused;
}

void setPopupParent(CallContext& context) {
    writeLog(kSetPopupParent, context.log);
    const CryptoPlatform& platform = context.platform;
    HWND window = platform.GetForegroundWindow();
    if (window != nullptr)
        platform.CryptSetProvParam(0, PP_CLIENT_HWND, reinterpret_cast<const BYTE*>(&window), 0);
}

bool acquireSigningContainer(CallContext& context, const KeyBinding& binding,
                             ScopedProvider& provider) {
    const CryptoPlatform& platform = context.platform;
    if (acquire(platform, binding, binding.providerName.c_str(), provider)) return true;
    DWORD error = platform.GetLastError();
    if (error == static_cast<DWORD>(NTE_KEYSET_NOT_DEF) || error == static_cast<DWORD>(NTE_BAD_KEYSET)) {
        writeLog(kTryingPrototype, context.log);
        if (acquire(platform, binding, kPrototypeProvider, provider)) return true;
        writeLog(kTryingStandard, context.log);
        if (acquire(platform, binding, kStandardProvider, provider)) return true;
        error = platform.GetLastError();
    }
    return finishStep(context, {kAcquireContext, nullptr, kAcquireError, kStatusNoKeyContainer},
                      false, error);
}

void logAlgorithms(CallContext& context, HCRYPTPROV provider) {
    // The enumeration is there only to be logged: a call whose log is off skips it.
    if (!context.log.logs()) return;
    writeLog(kEnumerating, context.log);
    const CryptoPlatform& platform = context.platform;
    union {
        PROV_ENUMALGS algorithm;
        BYTE bytes[kAlgorithmBufferSize];
    } buffer;
    DWORD length = kAlgorithmBufferSize;
    DWORD flags = CRYPT_FIRST;
    while (platform.CryptGetProvParam(provider, PP_ENUMALGS, buffer.bytes, &length, flags)) {
        flags = 0;
        const PROV_ENUMALGS& algorithm = buffer.algorithm;
        size_t reported = std::min<size_t>(algorithm.dwNameLen, sizeof(algorithm.szName));
        std::string name(algorithm.szName, strnlen(algorithm.szName, reported));
        writeLogFormatted(kAlgorithmLine, context.log, static_cast<unsigned>(algorithm.aiAlgid),
                          static_cast<int>(algorithm.dwBitLen), classLabel(algorithm.aiAlgid),
                          name.c_str());
    }
}

void applyPin(CallContext& context, HCRYPTPROV provider, DWORD pinParameter, const char* pin) {
    if (context.platform.CryptSetProvParam(provider, pinParameter,
                                           reinterpret_cast<const BYTE*>(pin), 0))
        writeLog(kPinSet, context.log);
}

}  // namespace keyops
