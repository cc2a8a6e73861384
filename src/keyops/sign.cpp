#include "keyops/sign.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "diagnostics/log.h"
#include "diagnostics/status.h"
#include "keyops/certificate_lookup.h"
#include "keyops/outcome.h"
#include "keyops/signature_check.h"
#include "keyops/signing_provider.h"

namespace {

const char kBanner[] = "########## Sign (DigestAlgo: %8.8xh)##########";
const char kProvider[] = "Provider: %s";
const char kNewProvider[] = "New provider: %s";
const char kContextAcquired[] = "CryptAcquireContext success";
const char kHashCreateError[] = "CryptCreateHash error: %x";
const char kHashCreated[] = "CryptCreateHash success";
const char kHashValueSet[] = "CryptSetHashParam success";
const char kDataHashed[] = "CryptHashData success";
const char kHashReady[] = "Hash ready (AT_KEYEXCHANGE)";
const char kSizeWithExchangeKey[] = "CryptSignHash# success (AT_KEYEXCHANGE)";
const char kSizeWithSignatureKey[] = "CryptSignHash# success (AT_SIGNATURE)";
const char kSizeError[] = "CryptSignHash# error (AT_SIGNATURE): %x";
const char kSignError[] = "CryptSignHash error: %x";
const char kSigned[] = "CryptSignHash success";
const char kVerifyError[] = "CryptVerifySignature error: %x";
const char kHashDestroyError[] = "CryptDestroyHash error: %x";
const char kHashDestroyed[] = "CryptDestroyHash success";
const char kReleaseError[] = "CryptRelaseContext error: %x";
const char kReleased[] = "CryptRelaseContext success";
const char kStoreCloseError[] = "CertCloseStore error: %x";
const char kStoreClosed[] = "CertCloseStore success";

unsigned errorOf(const CryptoPlatform& platform) {
    return static_cast<unsigned>(platform.GetLastError());
}

// What Java asked to have signed, and with which digest.
struct SigningRequest {
    ALG_ID digestAlgorithm;
    const BYTE* data;
    DWORD dataLength;
    bool dataIsHash;
};

// Where the signing happens: the acquired container and the certificate it signs for.
struct SigningKey {
    HCRYPTPROV provider;
    PCCERT_CONTEXT certificate;
};

// A failure inside the provider: its Windows error goes to the provider-error word too.
void recordSignatureFailure(JNIEnv* env, const char* message, DWORD error, uint32_t status,
                            Outcome& outcome) {
    recordProviderError(error);
    writeLogFormatted(env, message, static_cast<unsigned>(error));
    outcome.record(status);
}

// With dataIsHash the provider reads as many bytes as the algorithm's digest has: a shorter
// value would be read past its end, so it counts as a hash that could not be set.
bool setHashValue(const CryptoPlatform& platform, HCRYPTHASH hash, const BYTE* value,
                  DWORD length) {
    DWORD digestSize = 0;
    DWORD size = sizeof(digestSize);
    if (!platform.CryptGetHashParam(hash, HP_HASHSIZE, reinterpret_cast<BYTE*>(&digestSize), &size,
                                    0) ||
        length < digestSize)
        return false;
    return platform.CryptSetHashParam(hash, HP_HASHVAL, value, 0) != FALSE;
}

// Hashes the data or takes it as the hash value; false records nothing yet (status 15 follows).
bool prepareHash(JNIEnv* env, HCRYPTHASH hash, const SigningRequest& request) {
    const CryptoPlatform& platform = cryptoPlatform();
    if (request.dataIsHash) {
        if (!setHashValue(platform, hash, request.data, request.dataLength)) return false;
        writeLog(kHashValueSet, env);
        return true;
    }
    if (!platform.CryptHashData(hash, request.data, request.dataLength, 0)) return false;
    writeLog(kDataHashed, env);
    return true;
}

// The signature, most significant byte first, or nothing with the outcome recorded. A signature
// the certificate's public key does not verify is never handed out.
void signHash(JNIEnv* env, const SigningKey& key, HCRYPTHASH hash, std::vector<BYTE>& signature,
              Outcome& outcome) {
    const CryptoPlatform& platform = cryptoPlatform();
    writeLog(kHashReady, env);
    DWORD keySpec = AT_KEYEXCHANGE;
    DWORD length = 0;
    if (platform.CryptSignHashA(hash, AT_KEYEXCHANGE, nullptr, 0, nullptr, &length)) {
        writeLog(kSizeWithExchangeKey, env);
    } else if (platform.CryptSignHashA(hash, AT_SIGNATURE, nullptr, 0, nullptr, &length)) {
        keySpec = AT_SIGNATURE;
        writeLog(kSizeWithSignatureKey, env);
    } else {
        recordSignatureFailure(env, kSizeError, platform.GetLastError(),
                               kStatusSignatureSizeUnknown, outcome);
        return;
    }

    std::vector<BYTE> output;
    DWORD error = ERROR_SUCCESS;
    try {
        output.resize(length);
    } catch (const std::bad_alloc&) {
        error = ERROR_NOT_ENOUGH_MEMORY;
    }
    if (error == ERROR_SUCCESS &&
        !platform.CryptSignHashA(hash, keySpec, nullptr, 0, output.data(), &length))
        error = platform.GetLastError();
    if (error != ERROR_SUCCESS) {
        recordSignatureFailure(env, kSignError, error, kStatusSignatureFailed, outcome);
        return;
    }
    writeLog(kSigned, env);
    output.resize(std::min<size_t>(length, output.size()));
    if (!signatureVerifies(key.provider, hash, key.certificate, output.data(),
                           static_cast<DWORD>(output.size()), error)) {
        recordSignatureFailure(env, kVerifyError, error, kStatusSignatureFailed, outcome);
        return;
    }
    std::reverse(output.begin(), output.end());
    signature = std::move(output);
    outcome.record(kStatusSuccess);
}

// Hash, sign, destroy the hash: the part of signing that runs inside an acquired container.
void signInContainer(JNIEnv* env, const SigningKey& key, const SigningRequest& request,
                     std::vector<BYTE>& signature, Outcome& outcome) {
    const CryptoPlatform& platform = cryptoPlatform();
    ScopedHash hash;
    if (!platform.CryptCreateHash(key.provider, request.digestAlgorithm, 0, 0, hash.put())) {
        writeLogFormatted(env, kHashCreateError, errorOf(platform));
        outcome.record(kStatusHashNotCreated);
        return;
    }
    writeLog(kHashCreated, env);

    if (prepareHash(env, hash.get(), request))
        signHash(env, key, hash.get(), signature, outcome);
    else
        outcome.record(kStatusHashNotReady);

    if (hash.close()) {
        writeLog(kHashDestroyed, env);
    } else {
        writeLogFormatted(env, kHashDestroyError, errorOf(platform));
        outcome.record(kStatusHashNotDestroyed);
    }
}

// Steps from the provider name on: substitution, acquisition, hashing and signing, release.
void signWithBinding(JNIEnv* env, CertificateKey& found, const char* keyAlgorithm,
                     const SigningRequest& request, const char* pin, std::vector<BYTE>& signature,
                     Outcome& outcome) {
    KeyBinding& binding = found.binding;
    writeLogFormatted(env, kProvider, binding.providerName.c_str());
    switch (substituteLegacyProvider(keyAlgorithm, binding)) {
        case Substitution::Refused:
            outcome.record(kStatusNoKeyContainer);
            return;
        case Substitution::Replaced:
            writeLogFormatted(env, kNewProvider, binding.providerName.c_str());
            break;
        case Substitution::Kept:
            break;
    }
    setPopupParent(env);
    ScopedProvider provider;
    if (!acquireSigningContainer(env, binding, provider)) {
        outcome.record(kStatusNoKeyContainer);
        return;
    }
    logAlgorithms(env, provider.get());
    if (pin != nullptr) applyPin(env, provider.get(), pin);
    writeLog(kContextAcquired, env);

    signInContainer(env, {provider.get(), found.certificate.get()}, request, signature, outcome);

    if (provider.close()) {
        writeLog(kReleased, env);
    } else {
        writeLogFormatted(env, kReleaseError, errorOf(cryptoPlatform()));
        outcome.record(kStatusContextNotReleased);
    }
}

}  // namespace

int signWithCertificate(JNIEnv* env, const BYTE* encoding, DWORD encodingLength,
                        ALG_ID digestAlgorithm, const char* keyAlgorithm, const BYTE* data,
                        DWORD dataLength, std::vector<BYTE>& signature, const char* pin,
                        bool dataIsHash) {
    Outcome outcome;
    signature.clear();
    trimLogFile();
    writeLogFormatted(env, kBanner, static_cast<unsigned>(digestAlgorithm));

    CertificateKey found;
    if (findCertificateKey(env, encoding, encodingLength, kCertificateFoundForSigning, found,
                           outcome))
        signWithBinding(env, found, keyAlgorithm, {digestAlgorithm, data, dataLength, dataIsHash},
                        pin, signature, outcome);
    found.certificate.reset();

    if (found.store.valid()) {
        if (found.store.close()) {
            writeLog(kStoreClosed, env);
        } else {
            writeLogFormatted(env, kStoreCloseError, errorOf(cryptoPlatform()));
            if (outcome.succeeded()) outcome.record(kStatusStoreNotClosed);
        }
    }
    if (!outcome.succeeded()) {
        signature.clear();
        return -1;
    }
    return 0;
}
