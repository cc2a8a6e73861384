#include "keyops/cng_operations.h"

#include <algorithm>
#include <cstdint>
#include <new>

#include "diagnostics/log.h"
#include "keyops/container_key.h"
#include "keyops/signing_provider.h"

namespace keyops {

using common::SecureBytes;
using diagnostics::kStatusDecryptionFailed;
using diagnostics::kStatusNoCngKey;
using diagnostics::kStatusNoKeyContainer;
using diagnostics::kStatusSignatureFailed;
using diagnostics::kStatusSuccess;
using diagnostics::writeLog;
using diagnostics::writeLogFormatted;

namespace {

const char kAcquired[] = "CryptAcquireCertificatePrivateKey success";
const char kAcquireError[] = "CryptAcquireCertificatePrivateKey error: %x";
const char kTranslated[] = "NCryptTranslateHandle success";
const char kTranslateError[] = "NCryptTranslateHandle error: %x";
const char kSigned[] = "NCryptSignHash success";
const char kSignError[] = "NCryptSignHash error: %x";
const char kDecrypted[] = "NCryptDecrypt success";
const char kDecryptError[] = "NCryptDecrypt error: %x";
const char kPinSet[] = "NCryptSetProperty (SmartCardPin) success";
const char kPinError[] = "NCryptSetProperty (SmartCardPin) error: %x";
const char kDuplicated[] = "CertDuplicateCertificateContext success";
const char kDuplicateError[] = "CertDuplicateCertificateContext error: %x";
const char kStorageOpened[] = "NCryptOpenStorageProvider success";
const char kStorageOpenError[] = "NCryptOpenStorageProvider error: %x";
const char kKeyOpened[] = "NCryptOpenKey success";
const char kKeyOpenError[] = "NCryptOpenKey error: %x";
const char kContextAcquired[] = "CryptAcquireContext success";
const char kContextError[] = "CryptAcquireContext error: %x";

const char kAcquireCertificateKey[] = "CryptAcquireCertificatePrivateKey";
const char kTranslateHandle[] = "NCryptTranslateHandle";
const char kSignHash[] = "NCryptSignHash";
const char kDecrypt[] = "NCryptDecrypt";
const char kDuplicate[] = "CertDuplicateCertificateContext";
const char kOpenStorageProvider[] = "NCryptOpenStorageProvider";
const char kOpenKey[] = "NCryptOpenKey";
const char kAcquireContext[] = "CryptAcquireContextA";

LPCWSTR cngHashName(ALG_ID algorithm) {
    switch (algorithm) {
        case CALG_SHA1: return BCRYPT_SHA1_ALGORITHM;
        case CALG_SHA_256: return BCRYPT_SHA256_ALGORITHM;
        case CALG_SHA_384: return BCRYPT_SHA384_ALGORITHM;
        case CALG_SHA_512: return BCRYPT_SHA512_ALGORITHM;
        case CALG_MD5: return BCRYPT_MD5_ALGORITHM;
        default: return nullptr;
    }
}

// CNG's padding information for a padding, as NCryptSignHash and NCryptDecrypt take it.
class PaddingInfo {
public:
    explicit PaddingInfo(const CngPadding& padding)
        : scheme_(padding.scheme),
          pkcs1_{cngHashName(padding.hashAlgorithm)},
          pss_{cngHashName(padding.hashAlgorithm), padding.saltLength},
          // CNG reads the label and never writes it.
          oaep_{cngHashName(padding.hashAlgorithm), const_cast<PUCHAR>(padding.label),
                padding.labelLength} {}

    void* get() {
        switch (scheme_) {
            case BCRYPT_PAD_PKCS1: return &pkcs1_;
            case BCRYPT_PAD_PSS: return &pss_;
            case BCRYPT_PAD_OAEP: return &oaep_;
            default: return nullptr;
        }
    }

private:
    DWORD scheme_;
    BCRYPT_PKCS1_PADDING_INFO pkcs1_;
    BCRYPT_PSS_PADDING_INFO pss_;
    BCRYPT_OAEP_PADDING_INFO oaep_;
};

}  // namespace

bool signWithCngKey(CallContext& context, NCRYPT_KEY_HANDLE key, const CngPadding& padding,
                    const BYTE* hash, DWORD hashLength, std::vector<BYTE>& signature) {
    PaddingInfo paddingInfo(padding);
    void* info = paddingInfo.get();
    // CNG's hash parameter is not const; it is only read.
    PBYTE hashValue = const_cast<PBYTE>(hash);
    const Step step = {kSignHash, kSigned, kSignError, kStatusSignatureFailed};
    DWORD size = 0;
    SECURITY_STATUS status = context.platform.NCryptSignHash(key, info, hashValue, hashLength,
                                                             nullptr, 0, &size, padding.scheme);
    std::vector<BYTE> result;
    if (status == ERROR_SUCCESS) {
        try {
            result.resize(size);
        } catch (const std::bad_alloc&) {
            status = static_cast<SECURITY_STATUS>(NTE_NO_MEMORY);
        }
    }
    if (status == ERROR_SUCCESS)
        status = context.platform.NCryptSignHash(key, info, hashValue, hashLength, result.data(),
                                                 size, &size, padding.scheme);
    if (!finishCngStep(context, step, status)) return false;
    result.resize(size);
    signature = std::move(result);
    context.outcome.record(kStatusSuccess);
    return true;
}

void decryptWithCngKey(CallContext& context, NCRYPT_KEY_HANDLE key, const CngPadding& padding,
                       const BYTE* cipherText, DWORD cipherTextLength, SecureBytes& plainText) {
    PaddingInfo paddingInfo(padding);
    void* info = paddingInfo.get();
    SECURITY_STATUS status = ERROR_SUCCESS;
    SecureBytes input;
    SecureBytes output;
    try {
        input = SecureBytes(cipherText, cipherTextLength);
        output = SecureBytes(cipherTextLength);
    } catch (const std::bad_alloc&) {
        status = static_cast<SECURITY_STATUS>(NTE_NO_MEMORY);
    }
    DWORD size = 0;
    if (status == ERROR_SUCCESS)
        status = context.platform.NCryptDecrypt(key, input.data(), cipherTextLength, info,
                                                output.data(), cipherTextLength, &size,
                                                padding.scheme);
    if (!finishCngStep(context, {kDecrypt, kDecrypted, kDecryptError, kStatusDecryptionFailed},
                       status))
        return;
    output.truncate(size);
    plainText = std::move(output);
    context.outcome.record(kStatusSuccess);
}

namespace {

// UTF-8 (as Java hands a PIN over) to UTF-16 with its terminator; a byte that starts no valid
// sequence becomes U+FFFD.
std::vector<WCHAR> utf8ToWide(const char* text) {
    std::vector<WCHAR> wide;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; bytes[i] != 0;) {
        unsigned char lead = bytes[i];
        size_t extra = lead < 0x80 ? 0 : (lead >> 5) == 0x6 ? 1 : (lead >> 4) == 0xE ? 2
                                       : (lead >> 3) == 0x1E ? 3 : 4;
        uint32_t point = extra == 0 ? lead : lead & (0x3F >> extra);
        size_t taken = 1;
        while (extra != 4 && taken <= extra && (bytes[i + taken] & 0xC0) == 0x80)
            point = (point << 6) | (bytes[i + taken++] & 0x3F);
        if (extra == 4 || taken != extra + 1 || point > 0x10FFFF) {
            point = 0xFFFD;
            taken = 1;
        }
        i += taken;
        if (point >= 0x10000) {
            point -= 0x10000;
            wide.push_back(static_cast<WCHAR>(0xD800 + (point >> 10)));
            wide.push_back(static_cast<WCHAR>(0xDC00 + (point & 0x3FF)));
        } else {
            wide.push_back(static_cast<WCHAR>(point));
        }
    }
    wide.push_back(0);
    return wide;
}

}  // namespace

SECURITY_STATUS setCngPin(const CryptoPlatform& platform, NCRYPT_KEY_HANDLE key, const char* pin) {
    std::vector<WCHAR> wide;
    try {
        wide = utf8ToWide(pin);
    } catch (const std::bad_alloc&) {
        return static_cast<SECURITY_STATUS>(NTE_NO_MEMORY);
    }
    SECURITY_STATUS status = platform.NCryptSetProperty(
        key, NCRYPT_PIN_PROPERTY, reinterpret_cast<PBYTE>(wide.data()),
        static_cast<DWORD>(wide.size() * sizeof(WCHAR)), NCRYPT_SILENT_FLAG);
    std::fill(wide.begin(), wide.end(), WCHAR{0});
    return status;
}

void applyCngPin(CallContext& context, NCRYPT_KEY_HANDLE key, const char* pin) {
    SECURITY_STATUS status = setCngPin(context.platform, key, pin);
    if (status == ERROR_SUCCESS)
        writeLog(kPinSet, context.log);
    else
        writeLogFormatted(kPinError, context.log, static_cast<unsigned>(status));
}

namespace {

// CNG's view of a CSP's key, the PIN given to the CSP first; the view's objects go in `hold`.
bool takeCngView(CallContext& context, HCRYPTPROV provider, DWORD keySpec, const char* pin,
                 CngKeyHold& hold) {
    if (pin != nullptr)
        applyPin(context, provider, keySpec == AT_SIGNATURE ? PP_SIGNATURE_PIN : PP_KEYEXCHANGE_PIN,
                 pin);
    SECURITY_STATUS status = context.platform.NCryptTranslateHandle(
        hold.storage.put(), hold.owned.put(), provider, 0, keySpec, 0);
    if (!finishCngStep(context, {kTranslateHandle, kTranslated, kTranslateError, kStatusNoCngKey},
                       status))
        return false;
    hold.key = hold.owned.get();
    return true;
}

}  // namespace

bool acquireCngKey(CallContext& context, PCCERT_CONTEXT certificate, const char* pin,
                   CngKeyHold& hold) {
    const CryptoPlatform& platform = context.platform;
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE handle = 0;
    DWORD keySpec = 0;
    BOOL callerFrees = FALSE;
    if (!runStep(context, {kAcquireCertificateKey, kAcquired, kAcquireError, kStatusNoKeyContainer},
                 [&] {
                     return platform.CryptAcquireCertificatePrivateKey(
                                certificate,
                                CRYPT_ACQUIRE_ALLOW_NCRYPT_KEY_FLAG | CRYPT_ACQUIRE_SILENT_FLAG,
                                nullptr, &handle, &keySpec, &callerFrees) != FALSE;
                 }))
        return false;
    const bool cngKey = keySpec == CERT_NCRYPT_KEY_SPEC;
    if (callerFrees) {
        if (cngKey)
            hold.owned.reset(handle);
        else
            hold.csp.reset(handle);
    } else if (!runStep(context, {kDuplicate, kDuplicated, kDuplicateError, kStatusNoKeyContainer},
                        [&] {
                            // The certificate's context keeps the key: a copy of it keeps both.
                            hold.owner.reset(platform.CertDuplicateCertificateContext(certificate));
                            return hold.owner.valid();
                        })) {
        return false;
    }
    if (cngKey) {
        hold.key = static_cast<NCRYPT_KEY_HANDLE>(handle);
        if (pin != nullptr) applyCngPin(context, hold.key, pin);
        return true;
    }
    return takeCngView(context, static_cast<HCRYPTPROV>(handle), keySpec, pin, hold);
}

bool openStorageProvider(CallContext& context, const std::string& providerName, uint32_t status,
                         ScopedNcryptObject& storage) {
    NCRYPT_PROV_HANDLE provider = 0;
    SECURITY_STATUS answer =
        context.platform.NCryptOpenStorageProvider(&provider, toWide(providerName).c_str(), 0);
    storage.reset(provider);
    return finishCngStep(context, {kOpenStorageProvider, kStorageOpened, kStorageOpenError, status},
                         answer);
}

bool openStorageKey(CallContext& context, const KeyBinding& binding, uint32_t status,
                    ScopedNcryptObject& storage, ScopedNcryptObject& key) {
    if (!openStorageProvider(context, binding.providerName, status, storage)) return false;
    NCRYPT_KEY_HANDLE opened = 0;
    SECURITY_STATUS answer = context.platform.NCryptOpenKey(
        storage.get(), &opened, toWide(binding.containerName).c_str(), 0,
        ncryptKeysetFlags(binding) | NCRYPT_SILENT_FLAG);
    key.reset(opened);
    return finishCngStep(context, {kOpenKey, kKeyOpened, kKeyOpenError, status}, answer);
}

bool acquireContainerCngKey(CallContext& context, const KeyBinding& binding, DWORD keySpec,
                            const char* pin, CngKeyHold& hold) {
    if (binding.providerType == 0) {
        if (!openStorageKey(context, binding, kStatusNoKeyContainer, hold.storage, hold.owned))
            return false;
        hold.key = hold.owned.get();
        if (pin != nullptr) applyCngPin(context, hold.key, pin);
        return true;
    }
    const CryptoPlatform& platform = context.platform;
    if (!runStep(context, {kAcquireContext, kContextAcquired, kContextError, kStatusNoKeyContainer},
                 [&] {
                     return platform.CryptAcquireContextA(
                                hold.csp.put(), binding.containerName.c_str(),
                                binding.providerName.c_str(), binding.providerType,
                                binding.keysetFlags | CRYPT_SILENT) != FALSE;
                 }))
        return false;
    return takeCngView(context, hold.csp.get(), keySpec, pin, hold);
}

}  // namespace keyops
