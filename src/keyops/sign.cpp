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

namespace keyops {

using diagnostics::kStatusContextNotReleased;
using diagnostics::kStatusHashNotCreated;
using diagnostics::kStatusHashNotDestroyed;
using diagnostics::kStatusHashNotReady;
using diagnostics::kStatusNoKeyContainer;
using diagnostics::kStatusSignatureFailed;
using diagnostics::kStatusSignatureSizeUnknown;
using diagnostics::kStatusSuccess;
using diagnostics::trimLogFile;
using diagnostics::writeLog;
using diagnostics::writeLogFormatted;

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

const char kAcquireContext[] = "CryptAcquireContextA";
const char kCreateHash[] = "CryptCreateHash";
const char kPrepareHash[] = "CryptHashData";
const char kSignHash[] = "CryptSignHashA";
const char kVerifySignature[] = "CryptVerifySignatureA";
const char kDestroyHash[] = "CryptDestroyHash";
const char kReleaseContext[] = "CryptReleaseContext";

// A failure inside the provider: its Windows error is kept apart as the provider's too.
void recordSignatureFailure(CallContext& context, const char* step, const char* message,
                            DWORD error, uint32_t status) {
    writeLogFormatted(message, context.log, static_cast<unsigned>(error));
    context.outcome.recordProviderFailure(status, step, error);
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
bool prepareHash(CallContext& context, HCRYPTHASH hash, const SigningRequest& request) {
    const CryptoPlatform& platform = context.platform;
    if (request.dataIsHash) {
        if (!setHashValue(platform, hash, request.data, request.dataLength)) return false;
        writeLog(kHashValueSet, context.log);
        return true;
    }
    if (!platform.CryptHashData(hash, request.data, request.dataLength, 0)) return false;
    writeLog(kDataHashed, context.log);
    return true;
}

// The signature's size with the key that signs: the one the container holds, the key-exchange
// key tried first, unless the key is known already.
bool signatureSize(CallContext& context, HCRYPTHASH hash, DWORD& keySpec, DWORD& length) {
    const CryptoPlatform& platform = context.platform;
    for (DWORD candidate : {DWORD{AT_KEYEXCHANGE}, DWORD{AT_SIGNATURE}}) {
        if (keySpec != 0 && keySpec != candidate) continue;
        if (platform.CryptSignHashA(hash, candidate, nullptr, 0, nullptr, &length)) {
            keySpec = candidate;
            writeLog(candidate == AT_KEYEXCHANGE ? kSizeWithExchangeKey : kSizeWithSignatureKey,
                     context.log);
            return true;
        }
    }
    return false;
}

// The signature, most significant byte first, or nothing with the outcome recorded. A signature
// by a key not checked against the certificate before is checked now, and never handed out when
// the certificate's public key does not verify it.
void signHash(CallContext& context, const SigningKey& key, HCRYPTHASH hash,
              std::vector<BYTE>& signature) {
    const CryptoPlatform& platform = context.platform;
    writeLog(kHashReady, context.log);
    DWORD keySpec = key.keySpec;
    DWORD length = 0;
    if (!signatureSize(context, hash, keySpec, length)) {
        recordSignatureFailure(context, kSignHash, kSizeError, platform.GetLastError(),
                               kStatusSignatureSizeUnknown);
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
        recordSignatureFailure(context, kSignHash, kSignError, error, kStatusSignatureFailed);
        return;
    }
    writeLog(kSigned, context.log);
    output.resize(std::min<size_t>(length, output.size()));
    if (key.certificate != nullptr &&
        !signatureVerifies(platform, key.provider, hash, key.certificate, output.data(),
                           static_cast<DWORD>(output.size()), error)) {
        recordSignatureFailure(context, kVerifySignature, kVerifyError, error,
                               kStatusSignatureFailed);
        return;
    }
    std::reverse(output.begin(), output.end());
    signature = std::move(output);
    context.outcome.record(kStatusSuccess);
}

}  // namespace

void signInContainer(CallContext& context, const SigningKey& key, const SigningRequest& request,
                     std::vector<BYTE>& signature) {
    ScopedHash hash;
    if (!runStep(context, {kCreateHash, kHashCreated, kHashCreateError, kStatusHashNotCreated}, [&] {
            return context.platform.CryptCreateHash(key.provider, request.digestAlgorithm, 0, 0,
                                                    hash.put()) != FALSE;
        }))
        return;

    if (prepareHash(context, hash.get(), request))
        signHash(context, key, hash.get(), signature);
    else
        context.outcome.record(kStatusHashNotReady, kPrepareHash, ERROR_SUCCESS);

    runStep(context, {kDestroyHash, kHashDestroyed, kHashDestroyError, kStatusHashNotDestroyed},
            [&] { return hash.close(); });
}

bool acquireForSigning(CallContext& context, KeyBinding& binding, const char* keyAlgorithm,
                       const char* pin, ScopedProvider& provider) {
    writeLogFormatted(kProvider, context.log, binding.providerName.c_str());
    switch (substituteLegacyProvider(keyAlgorithm, binding)) {
        case Substitution::Refused:
            context.outcome.record(kStatusNoKeyContainer, kAcquireContext, ERROR_SUCCESS);
            return false;
        case Substitution::Replaced:
            writeLogFormatted(kNewProvider, context.log, binding.providerName.c_str());
            break;
        case Substitution::Kept:
            break;
    }
    setPopupParent(context);
    if (!acquireSigningContainer(context, binding, provider)) return false;
    logAlgorithms(context, provider.get());
    if (pin != nullptr) applyPin(context, provider.get(), PP_SIGNATURE_PIN, pin);
    writeLog(kContextAcquired, context.log);
    return true;
}

namespace {

// Steps from the provider name on: substitution, acquisition, hashing and signing, release.
void signWithBinding(CallContext& context, CertificateKey& found, const char* keyAlgorithm,
                     const SigningRequest& request, const char* pin,
                     std::vector<BYTE>& signature) {
    ScopedProvider provider;
    if (!acquireForSigning(context, found.binding, keyAlgorithm, pin, provider)) return;
    signInContainer(context, {provider.get(), found.certificate.get(), 0}, request, signature);
    runStep(context, {kReleaseContext, kReleased, kReleaseError, kStatusContextNotReleased},
            [&] { return provider.close(); });
}

}  // namespace

bool signWithCertificate(CallContext& context, const BYTE* encoding, DWORD encodingLength,
                         ALG_ID digestAlgorithm, const char* keyAlgorithm, const BYTE* data,
                         DWORD dataLength, std::vector<BYTE>& signature, const char* pin,
                         bool dataIsHash) {
    signature.clear();
    trimLogFile(context.log);
    writeLogFormatted(kBanner, context.log, static_cast<unsigned>(digestAlgorithm));

    withCertificate(context, kUsersPersonalStore, encoding, encodingLength,
                    kCertificateFoundForSigning,
                    StoreClosing::Logged, [&](CertificateKey& found) {
                        signWithBinding(context, found, keyAlgorithm,
                                        {digestAlgorithm, data, dataLength, dataIsHash}, pin,
                                        signature);
                    });
    if (!context.outcome.succeeded()) {
        signature.clear();
        return false;
    }
    return true;
}

}  // namespace keyops
