// Signing data, or a precomputed hash, with the key of a certificate from the personal store.
#pragma once

#include <vector>

#include "keyops/call_context.h"
#include "keyops/certificate_lookup.h"

namespace keyops {

// Finds the certificate, opens its key container (moving certificates of a legacy Microsoft
// provider to the newer provider of their key algorithm), hashes and signs there, and gives the
// signature most significant byte first. Every step is logged. True on success with the
// signature in `signature`; false on failure with the context's outcome telling why and
// `signature` empty.
bool signWithCertificate(CallContext& context, const BYTE* encoding, DWORD encodingLength,
                         ALG_ID digestAlgorithm, const char* keyAlgorithm, const BYTE* data,
                         DWORD dataLength, std::vector<BYTE>& signature, const char* pin,
                         bool dataIsHash);

// What is to be signed, and with which digest: data to hash, or the hash itself.
struct SigningRequest {
    ALG_ID digestAlgorithm;
    const BYTE* data;
    DWORD dataLength;
    bool dataIsHash;
};

// Where the signing happens: an acquired container, the certificate each signature is checked
// against (none for a key checked against it when it was opened), and the key that signs
// (0: the key-exchange key if the container has one, else the signature key).
struct SigningKey {
    HCRYPTPROV provider;
    PCCERT_CONTEXT certificate;
    DWORD keySpec;
};

// The steps of signing from the provider's name to the acquired container: a legacy provider
// moved to the newer one of the key algorithm, the dialogs' parent, the acquisition with its
// fallbacks, the algorithms listed, the PIN given. False with the outcome recorded.
bool acquireForSigning(CallContext& context, KeyBinding& binding, const char* keyAlgorithm,
                       const char* pin, ScopedProvider& provider);

// Hash, sign, destroy the hash: the part of signing that runs inside an acquired container.
void signInContainer(CallContext& context, const SigningKey& key, const SigningRequest& request,
                     std::vector<BYTE>& signature);

}  // namespace keyops
