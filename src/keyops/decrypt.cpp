#include "keyops/decrypt.h"

#include <algorithm>
#include <new>

#include "diagnostics/log.h"
#include "keyops/certificate_lookup.h"
#include "keyops/signing_provider.h"

namespace keyops {

using common::SecureBytes;
using diagnostics::kStatusContextNotReleased;
using diagnostics::kStatusDecryptionFailed;
using diagnostics::kStatusKeyProvInfoUnreadable;
using diagnostics::kStatusNoExchangeKey;
using diagnostics::kStatusNoRawOperation;
using diagnostics::kStatusSuccess;
using diagnostics::trimLogFile;
using diagnostics::writeLog;
using diagnostics::writeLogFormatted;

namespace {

const char kBanner[] = "########## Decrypt ##########";
const char kAcquireError[] = "CryptAcquireContext error: %x";
const char kAcquired[] = "CryptAcquireContext success";
const char kUserKeyError[] = "CryptGetUserKey (AT_KEYEXCHANGE) error: %x";
const char kUserKeyObtained[] = "CryptGetUserKey success";
const char kDecrypted[] = "CryptDecrypt success";
const char kRetryingWithOaep[] = "CryptDecrypt error: %x => Test with CRYPT_OAEP";
const char kDecryptedWithOaep[] = "CryptDecrypt success\n";
const char kDecryptError[] = "CryptDecrypt error: %x";
const char kReleased[] = "CryptReleaseContext success";
const char kFinished[] = "Decrypt finished";
const char kOaepDone[] = "CryptDecrypt success (CRYPT_OAEP)";
const char kOaepError[] = "CryptDecrypt error (CRYPT_OAEP): %x";
const char kRawDone[] = "CryptDecrypt success (CRYPT_DECRYPT_RSA_NO_PADDING_CHECK)";
const char kRawError[] = "CryptDecrypt error (CRYPT_DECRYPT_RSA_NO_PADDING_CHECK): %x";

const char kAcquireContext[] = "CryptAcquireContextA";
const char kGetUserKey[] = "CryptGetUserKey";
const char kDecrypt[] = "CryptDecrypt";
const char kReleaseContext[] = "CryptReleaseContext";

// One attempt with the given padding on a fresh copy of the ciphertext, least significant byte
// first: a provider leaves its buffer and length changed by a failed attempt. The Windows error
// on failure; no memory for the copy fails the attempt as the provider would.
DWORD decryptCopy(const CryptoPlatform& platform, HCRYPTKEY key, const BYTE* cipherText,
                  DWORD cipherTextLength, DWORD flags, SecureBytes& plainText) {
    SecureBytes buffer;
    try {
        buffer = SecureBytes(cipherText, cipherTextLength);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    std::reverse(buffer.data(), buffer.data() + buffer.size());
    DWORD length = cipherTextLength;
    if (!platform.CryptDecrypt(key, 0, TRUE, flags, buffer.data(), &length))
        return platform.GetLastError();
    buffer.truncate(length);
    plainText = std::move(buffer);
    return ERROR_SUCCESS;
}

// KP_MODE and KP_PADDING as the behaviour has always set them; a provider that refuses them
// still decrypts RSA blocks.
void setBlockParameters(const CryptoPlatform& platform, HCRYPTKEY key) {
    const DWORD mode = CRYPT_MODE_ECB;
    const DWORD padding = PKCS5_PADDING;
    platform.CryptSetKeyParam(key, KP_MODE, reinterpret_cast<const BYTE*>(&mode), 0);
    platform.CryptSetKeyParam(key, KP_PADDING, reinterpret_cast<const BYTE*>(&padding), 0);
}

// PKCS #1 v1.5 first, then OAEP. An OAEP block passes the PKCS #1 v1.5 check about once in a few
// hundred times, while a PKCS #1 v1.5 block passes the OAEP check with negligible probability:
// so a PKCS #1 v1.5 success is confirmed, and a block that OAEP accepts too is OAEP.
void decryptEitherPadding(CallContext& context, HCRYPTKEY key, const BYTE* cipherText,
                    DWORD cipherTextLength, SecureBytes& plainText) {
    const CryptoPlatform& platform = context.platform;
    setBlockParameters(platform, key);

    SecureBytes message;
    DWORD error = decryptCopy(platform, key, cipherText, cipherTextLength, 0, message);
    if (error == ERROR_SUCCESS) {
        writeLog(kDecrypted, context.log);
        SecureBytes oaepMessage;
        if (decryptCopy(platform, key, cipherText, cipherTextLength, CRYPT_OAEP, oaepMessage) ==
            ERROR_SUCCESS) {
            writeLog(kDecryptedWithOaep, context.log);
            message = std::move(oaepMessage);
        }
    } else {
        writeLogFormatted(kRetryingWithOaep, context.log, static_cast<unsigned>(error));
        error = decryptCopy(platform, key, cipherText, cipherTextLength, CRYPT_OAEP, message);
        if (!finishStep(context, {kDecrypt, kDecryptedWithOaep, kDecryptError,
                                  kStatusDecryptionFailed},
                        error == ERROR_SUCCESS, error))
            return;
    }
    plainText = std::move(message);
    context.outcome.record(kStatusSuccess);
}

}  // namespace

void decryptWithKey(CallContext& context, HCRYPTKEY key, const BYTE* cipherText,
                    DWORD cipherTextLength, RsaPadding padding, SecureBytes& plainText) {
    setBlockParameters(context.platform, key);
    const bool oaep = padding == RsaPadding::Oaep;
    SecureBytes message;
    DWORD error = decryptCopy(context.platform, key, cipherText, cipherTextLength,
                              oaep ? CRYPT_OAEP : 0, message);
    if (!finishStep(context,
                    {kDecrypt, oaep ? kOaepDone : kDecrypted, oaep ? kOaepError : kDecryptError,
                     kStatusDecryptionFailed},
                    error == ERROR_SUCCESS, error))
        return;
    plainText = std::move(message);
    context.outcome.record(kStatusSuccess);
}

void rawRsaWithKey(CallContext& context, HCRYPTKEY key, const BYTE* block, DWORD blockLength,
                   SecureBytes& result) {
    SecureBytes buffer;
    DWORD error = ERROR_SUCCESS;
    try {
        buffer = SecureBytes(block, blockLength);
    } catch (const std::bad_alloc&) {
        error = ERROR_NOT_ENOUGH_MEMORY;
    }
    DWORD length = blockLength;
    if (error == ERROR_SUCCESS) {
        std::reverse(buffer.data(), buffer.data() + buffer.size());
        if (!context.platform.CryptDecrypt(key, 0, TRUE, CRYPT_DECRYPT_RSA_NO_PADDING_CHECK,
                                           buffer.data(), &length))
            error = context.platform.GetLastError();
    }
    if (!finishStep(context, {kDecrypt, kRawDone, kRawError, kStatusNoRawOperation},
                    error == ERROR_SUCCESS, error))
        return;
    buffer.truncate(length);
    std::reverse(buffer.data(), buffer.data() + buffer.size());
    result = std::move(buffer);
    context.outcome.record(kStatusSuccess);
}

bool openExchangeKey(CallContext& context, const KeyBinding& binding, const char* pin,
                     ScopedProvider& provider, ScopedKey& key) {
    const CryptoPlatform& platform = context.platform;
    if (!runStep(context, {kAcquireContext, kAcquired, kAcquireError, kStatusKeyProvInfoUnreadable},
                 [&] {
                     return platform.CryptAcquireContextA(
                                provider.put(), binding.containerName.c_str(),
                                binding.providerName.c_str(), binding.providerType,
                                binding.keysetFlags) != FALSE;
                 }))
        return false;
    if (pin != nullptr) applyPin(context, provider.get(), PP_KEYEXCHANGE_PIN, pin);
    return runStep(context, {kGetUserKey, kUserKeyObtained, kUserKeyError, kStatusNoExchangeKey},
                   [&] {
                       return platform.CryptGetUserKey(provider.get(), AT_KEYEXCHANGE, key.put()) !=
                              FALSE;
                   });
}

namespace {

// From the acquisition of the container to its release, the key-exchange key handed to `use`.
template <typename UseKey>
void inContainer(CallContext& context, const KeyBinding& binding, const char* pin, UseKey use) {
    ScopedProvider provider;
    ScopedKey key;
    if (openExchangeKey(context, binding, pin, provider, key)) use(key.get());
    key.reset();
    if (provider.valid())
        runStep(context, {kReleaseContext, kReleased, nullptr, kStatusContextNotReleased},
                [&] { return provider.close(); });
}

// Looks the certificate up, runs `use` with its key-exchange key, and logs the banner and the
// closing line around it.
template <typename UseKey>
bool withExchangeKey(CallContext& context, const BYTE* encoding, DWORD encodingLength,
                     const char* banner, const char* finished, const char* pin, UseKey use) {
    trimLogFile(context.log);
    writeLog(banner, context.log);
    withCertificate(context, kUsersPersonalStore, encoding, encodingLength,
                    kCertificateFoundForDecryption,
                    StoreClosing::Silent,
                    [&](CertificateKey& found) { inContainer(context, found.binding, pin, use); });
    writeLog(finished, context.log);
    return context.outcome.succeeded();
}

}  // namespace

bool decryptWithCertificate(CallContext& context, const BYTE* encoding, DWORD encodingLength,
                            const BYTE* cipherText, DWORD cipherTextLength,
                            SecureBytes& plainText, const char* pin) {
    plainText = SecureBytes();
    if (withExchangeKey(context, encoding, encodingLength, kBanner, kFinished, pin, [&](HCRYPTKEY key) {
            decryptEitherPadding(context, key, cipherText, cipherTextLength, plainText);
        }))
        return true;
    plainText = SecureBytes();
    return false;
}

}  // namespace keyops
