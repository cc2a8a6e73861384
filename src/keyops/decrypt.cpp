#include "keyops/decrypt.h"

#include <algorithm>
#include <cstring>

#include "diagnostics/log.h"
#include "keyops/certificate_lookup.h"
#include "keyops/outcome.h"

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

// The ciphertext in the provider's order: least significant byte first.
SecureBytes reversedCopy(const BYTE* cipherText, DWORD length) {
    SecureBytes buffer(length);
    if (length != 0) std::memcpy(buffer.data(), cipherText, length);
    std::reverse(buffer.data(), buffer.data() + buffer.size());
    return buffer;
}

// One attempt with the given padding on a fresh copy of the ciphertext: a provider leaves its
// buffer and length changed by a failed attempt.
bool decryptCopy(HCRYPTKEY key, const BYTE* cipherText, DWORD cipherTextLength, DWORD flags,
                 SecureBytes& plainText) {
    SecureBytes buffer = reversedCopy(cipherText, cipherTextLength);
    DWORD length = cipherTextLength;
    if (!cryptoPlatform().CryptDecrypt(key, 0, TRUE, flags, buffer.data(), &length)) return false;
    buffer.truncate(length);
    plainText = std::move(buffer);
    return true;
}

// PKCS #1 v1.5 first, then OAEP. An OAEP block passes the PKCS #1 v1.5 check about once in a few
// hundred times, while a PKCS #1 v1.5 block passes the OAEP check with negligible probability:
// so a PKCS #1 v1.5 success is confirmed, and a block that OAEP accepts too is OAEP.
void decryptWithKey(JNIEnv* env, HCRYPTKEY key, const BYTE* cipherText, DWORD cipherTextLength,
                    SecureBytes& plainText, Outcome& outcome) {
    const CryptoPlatform& platform = cryptoPlatform();
    const DWORD mode = CRYPT_MODE_ECB;
    const DWORD padding = PKCS5_PADDING;
    platform.CryptSetKeyParam(key, KP_MODE, reinterpret_cast<const BYTE*>(&mode), 0);
    platform.CryptSetKeyParam(key, KP_PADDING, reinterpret_cast<const BYTE*>(&padding), 0);

    SecureBytes message;
    if (decryptCopy(key, cipherText, cipherTextLength, 0, message)) {
        writeLog(kDecrypted, env);
        SecureBytes oaepMessage;
        if (decryptCopy(key, cipherText, cipherTextLength, CRYPT_OAEP, oaepMessage)) {
            writeLog(kDecryptedWithOaep, env);
            message = std::move(oaepMessage);
        }
    } else {
        writeLogFormatted(env, kRetryingWithOaep, static_cast<unsigned>(platform.GetLastError()));
        if (!decryptCopy(key, cipherText, cipherTextLength, CRYPT_OAEP, message)) {
            writeLogFormatted(env, kDecryptError, static_cast<unsigned>(platform.GetLastError()));
            outcome.record(kStatusDecryptionFailed);
            return;
        }
        writeLog(kDecryptedWithOaep, env);
    }
    plainText = std::move(message);
    outcome.record(kStatusSuccess);
}

// From the acquisition of the container to its release.
void decryptInContainer(JNIEnv* env, const KeyBinding& binding, const BYTE* cipherText,
                        DWORD cipherTextLength, SecureBytes& plainText, Outcome& outcome) {
    const CryptoPlatform& platform = cryptoPlatform();
    ScopedProvider provider;
    if (!platform.CryptAcquireContextA(provider.put(), binding.containerName.c_str(),
                                       binding.providerName.c_str(), binding.providerType, 0)) {
        writeLogFormatted(env, kAcquireError, static_cast<unsigned>(platform.GetLastError()));
        outcome.record(kStatusKeyProvInfoUnreadable);
        return;
    }
    writeLog(kAcquired, env);

    ScopedKey key;
    if (platform.CryptGetUserKey(provider.get(), AT_KEYEXCHANGE, key.put())) {
        writeLog(kUserKeyObtained, env);
        decryptWithKey(env, key.get(), cipherText, cipherTextLength, plainText, outcome);
        key.reset();
    } else {
        writeLogFormatted(env, kUserKeyError, static_cast<unsigned>(platform.GetLastError()));
        outcome.record(kStatusNoExchangeKey);
    }

    if (provider.close())
        writeLog(kReleased, env);
    else
        outcome.record(kStatusContextNotReleased);
}

}  // namespace

int decryptWithCertificate(JNIEnv* env, const BYTE* encoding, DWORD encodingLength,
                           const BYTE* cipherText, DWORD cipherTextLength,
                           SecureBytes& plainText) {
    Outcome outcome;
    plainText = SecureBytes();
    trimLogFile();
    writeLog(kBanner, env);

    CertificateKey found;
    if (findCertificateKey(env, encoding, encodingLength, kCertificateFoundForDecryption, found,
                           outcome))
        decryptInContainer(env, found.binding, cipherText, cipherTextLength, plainText, outcome);
    found.certificate.reset();
    if (found.store.valid()) static_cast<void>(found.store.close());

    writeLog(kFinished, env);
    if (!outcome.succeeded()) {
        plainText = SecureBytes();
        return -1;
    }
    return 0;
}
