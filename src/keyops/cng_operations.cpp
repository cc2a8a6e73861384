#include "keyops/cng_operations.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "diagnostics/log.h"
#include "keyops/certificate_lookup.h"
#include "keyops/signature_check.h"
#include "keyops/signing_provider.h"

namespace keyops {

using common::SecureBytes;
using diagnostics::kStatusContextNotReleased;
using diagnostics::kStatusDecryptionFailed;
using diagnostics::kStatusNoCngKey;
using diagnostics::kStatusNoKeyContainer;
using diagnostics::kStatusSignatureFailed;
using diagnostics::kStatusSuccess;
using diagnostics::trimLogFile;
using diagnostics::writeLog;
using diagnostics::writeLogFormatted;

namespace {

const char kSignBanner[] = "########## Sign (CNG) ##########";
const char kSignFinished[] = "Sign (CNG) finished";
const char kDecryptBanner[] = "########## Decrypt (CNG) ##########";
const char kDecryptFinished[] = "Decrypt (CNG) finished";
const char kAcquired[] = "CryptAcquireCertificatePrivateKey success";
const char kAcquireError[] = "CryptAcquireCertificatePrivateKey error: %x";
const char kTranslated[] = "NCryptTranslateHandle success";
const char kTranslateError[] = "NCryptTranslateHandle error: %x";
const char kGroupRead[] = "NCryptGetProperty (Algorithm Group) success";
const char kGroupError[] = "NCryptGetProperty (Algorithm Group) error: %x";
const char kGroupMismatch[] = "NCryptGetProperty (Algorithm Group): not a key for this signature: %x";
const char kSigned[] = "NCryptSignHash success";
const char kSignError[] = "NCryptSignHash error: %x";
const char kVerifyError[] = "BCryptVerifySignature error: %x";
const char kDecrypted[] = "NCryptDecrypt success";
const char kDecryptError[] = "NCryptDecrypt error: %x";
const char kFreed[] = "NCryptFreeObject success";
const char kPinSet[] = "NCryptSetProperty (SmartCardPin) success";
const char kPinError[] = "NCryptSetProperty (SmartCardPin) error: %x";
const char kReleased[] = "CryptReleaseContext success";

const char kAcquireCertificateKey[] = "CryptAcquireCertificatePrivateKey";
const char kTranslateHandle[] = "NCryptTranslateHandle";
const char kGetProperty[] = "NCryptGetProperty";
const char kSignHash[] = "NCryptSignHash";
const char kVerify[] = "BCryptVerifySignature";
const char kDecrypt[] = "NCryptDecrypt";
const char kFreeObject[] = "NCryptFreeObject";
const char kReleaseContext[] = "CryptReleaseContext";

// Longer than any group's name, "ECDSA" with its terminator the longest CNG gives.
const DWORD kGroupBufferSize = 64;

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

// CNG's padding information for a padding, as NCryptSignHash, BCryptVerifySignature and
// NCryptDecrypt take it.
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

bool sameWide(const BYTE* text, DWORD size, LPCWSTR expected) {
    size_t units = 0;
    while (expected[units] != 0) ++units;
    return size == (units + 1) * sizeof(WCHAR) && std::memcmp(text, expected, size) == 0;
}

// ECDSA keys sign without padding, RSA keys with: the key's group must fit the signature.
bool keyFitsSignature(CallContext& context, NCRYPT_KEY_HANDLE key, const CngPadding& padding) {
    BYTE group[kGroupBufferSize] = {};
    DWORD size = 0;
    SECURITY_STATUS status = context.platform.NCryptGetProperty(
        key, NCRYPT_ALGORITHM_GROUP_PROPERTY, group, sizeof(group), &size, 0);
    if (!finishCngStep(context, {kGetProperty, kGroupRead, kGroupError, kStatusNoCngKey}, status))
        return false;
    bool ecdsa = sameWide(group, size, NCRYPT_ECDSA_ALGORITHM_GROUP);
    bool rsa = sameWide(group, size, NCRYPT_RSA_ALGORITHM_GROUP);
    bool fits = padding.scheme == 0 ? ecdsa : rsa;
    return finishStep(context, {kGetProperty, nullptr, kGroupMismatch, kStatusNoCngKey}, fits,
                      static_cast<DWORD>(NTE_BAD_KEY));
}

}  // namespace

bool signWithCngKey(CallContext& context, NCRYPT_KEY_HANDLE key, const CngPadding& padding,
                    const BYTE* hash, DWORD hashLength, std::vector<BYTE>& signature) {
    if (!keyFitsSignature(context, key, padding)) return false;
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

namespace {

void decryptWithKey(CallContext& context, NCRYPT_KEY_HANDLE key, const CngPadding& padding,
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

// Every signature is checked against the certificate's public key before it is handed out.
void checkAgainstCertificate(CallContext& context, PCCERT_CONTEXT certificate,
                             const CngPadding& padding, const BYTE* hash, DWORD hashLength,
                             std::vector<BYTE>& signature) {
    PaddingInfo info(padding);
    DWORD error = ERROR_SUCCESS;
    bool verified = cngSignatureVerifies(context.platform, certificate, info.get(), padding.scheme,
                                         hash, hashLength, signature.data(),
                                         static_cast<DWORD>(signature.size()), error);
    if (!finishStep(context, {kVerify, nullptr, kVerifyError, kStatusSignatureFailed}, verified,
                    error))
        signature.clear();
}

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

// The PIN goes to the key as a smart card's takes it, UTF-16 with its terminator. As with a CSP's
// PIN, a key that refuses it (one without a PIN) is used as it is; one that needs it and did not
// get it fails at its operation, with the smart card's error.
void applyCngPin(CallContext& context, NCRYPT_KEY_HANDLE key, const char* pin) {
    std::vector<WCHAR> wide;
    try {
        wide = utf8ToWide(pin);
    } catch (const std::bad_alloc&) {
        writeLogFormatted(kPinError, context.log, static_cast<unsigned>(NTE_NO_MEMORY));
        return;
    }
    SECURITY_STATUS status = context.platform.NCryptSetProperty(
        key, NCRYPT_PIN_PROPERTY, reinterpret_cast<PBYTE>(wide.data()),
        static_cast<DWORD>(wide.size() * sizeof(WCHAR)), NCRYPT_SILENT_FLAG);
    std::fill(wide.begin(), wide.end(), WCHAR{0});
    if (status == ERROR_SUCCESS)
        writeLog(kPinSet, context.log);
    else
        writeLogFormatted(kPinError, context.log, static_cast<unsigned>(status));
}

void freeObject(CallContext& context, ScopedNcryptObject& object) {
    runStep(context, {kFreeObject, kFreed, nullptr, kStatusContextNotReleased},
            [&] { return object.close(); });
}

// A CSP's key as CNG sees it, handed to `use`; the PIN, if any, given to the CSP first.
template <typename UseKey>
void throughCngView(CallContext& context, HCRYPTPROV csp, DWORD keySpec, PCCERT_CONTEXT certificate,
                    const char* pin, UseKey use) {
    if (pin != nullptr)
        applyPin(context, csp, keySpec == AT_SIGNATURE ? PP_SIGNATURE_PIN : PP_KEYEXCHANGE_PIN, pin);
    ScopedNcryptObject storage;
    ScopedNcryptObject key;
    SECURITY_STATUS status =
        context.platform.NCryptTranslateHandle(storage.put(), key.put(), csp, 0, keySpec, 0);
    if (!finishCngStep(context, {kTranslateHandle, kTranslated, kTranslateError, kStatusNoCngKey},
                       status))
        return;
    use(key.get(), certificate);
    freeObject(context, key);
    freeObject(context, storage);
}

// Looks the certificate up, opens its key and runs `use` with the CNG key, between the banner
// and the closing line.
template <typename UseKey>
bool withCngKey(CallContext& context, const BYTE* encoding, DWORD encodingLength,
                const char* banner, const char* found, const char* finished, const char* pin,
                UseKey use) {
    trimLogFile(context.log);
    writeLog(banner, context.log);
    CertificateKey lookup;
    if (findCertificateKey(context, encoding, encodingLength, found, lookup)) {
        HCRYPTPROV_OR_NCRYPT_KEY_HANDLE handle = 0;
        DWORD keySpec = 0;
        BOOL callerFrees = FALSE;
        if (runStep(context, {kAcquireCertificateKey, kAcquired, kAcquireError, kStatusNoKeyContainer},
                    [&] {
                        return context.platform.CryptAcquireCertificatePrivateKey(
                                   lookup.certificate.get(),
                                   CRYPT_ACQUIRE_ALLOW_NCRYPT_KEY_FLAG | CRYPT_ACQUIRE_SILENT_FLAG,
                                   nullptr, &handle, &keySpec, &callerFrees) != FALSE;
                    })) {
            if (keySpec == CERT_NCRYPT_KEY_SPEC) {
                // A key the certificate's context keeps (callerFrees false) is not ours to free.
                ScopedNcryptObject key(callerFrees ? handle : 0);
                if (pin != nullptr) applyCngPin(context, static_cast<NCRYPT_KEY_HANDLE>(handle), pin);
                use(static_cast<NCRYPT_KEY_HANDLE>(handle), lookup.certificate.get());
                if (key.valid()) freeObject(context, key);
            } else {
                ScopedProvider csp(callerFrees ? handle : 0);
                throughCngView(context, static_cast<HCRYPTPROV>(handle), keySpec,
                               lookup.certificate.get(), pin, use);
                if (csp.valid())
                    runStep(context, {kReleaseContext, kReleased, nullptr, kStatusContextNotReleased},
                            [&] { return csp.close(); });
            }
        }
    }
    lookup.certificate.reset();
    if (lookup.store.valid()) static_cast<void>(lookup.store.close());
    writeLog(finished, context.log);
    return context.outcome.succeeded();
}

}  // namespace

bool signThroughCng(CallContext& context, const BYTE* encoding, DWORD encodingLength,
                    const CngPadding& padding, const BYTE* hash, DWORD hashLength,
                    std::vector<BYTE>& signature, const char* pin) {
    signature.clear();
    if (withCngKey(context, encoding, encodingLength, kSignBanner, kCertificateFoundForSigning,
                   kSignFinished, pin, [&](NCRYPT_KEY_HANDLE key, PCCERT_CONTEXT certificate) {
                       if (signWithCngKey(context, key, padding, hash, hashLength, signature))
                           checkAgainstCertificate(context, certificate, padding, hash, hashLength,
                                                   signature);
                   }))
        return true;
    signature.clear();
    return false;
}

bool decryptThroughCng(CallContext& context, const BYTE* encoding, DWORD encodingLength,
                       const CngPadding& padding, const BYTE* cipherText, DWORD cipherTextLength,
                       SecureBytes& plainText, const char* pin) {
    plainText = SecureBytes();
    if (withCngKey(context, encoding, encodingLength, kDecryptBanner,
                   kCertificateFoundForDecryption, kDecryptFinished, pin,
                   [&](NCRYPT_KEY_HANDLE key, PCCERT_CONTEXT) {
                       decryptWithKey(context, key, padding, cipherText, cipherTextLength, plainText);
                   }))
        return true;
    plainText = SecureBytes();
    return false;
}

}  // namespace keyops
