// A certificate's key through CNG, for the provider: opened as CryptAcquireCertificatePrivateKey
// gives it, a key storage provider's key directly and a CSP's key through its CNG view
// (NCryptTranslateHandle), and used to sign and decrypt.
#pragma once

#include <vector>

#include "common/secure_bytes.h"
#include "keyops/call_context.h"
#include "keyops/certificate_lookup.h"
#include "keyops/handles.h"

namespace keyops {

// How CNG is to pad: none for ECDSA; for RSA BCRYPT_PAD_PKCS1, BCRYPT_PAD_PSS (with the salt
// length) or, for decryption, BCRYPT_PAD_OAEP (with its label, none when empty). The hash is the
// one signed, or OAEP's and MGF1's.
struct CngPadding {
    DWORD scheme = 0;
    ALG_ID hashAlgorithm = 0;
    DWORD saltLength = 0;
    const BYTE* label = nullptr;
    DWORD labelLength = 0;
};

// A certificate's key as CNG sees it, and what keeps it open: a key storage provider's key, or a
// CSP's key through its CNG view. The members go in the reverse order of their opening.
struct CngKeyHold {
    ScopedCertContext owner;      // a copy of the certificate's context, when that keeps the key
    ScopedProvider csp;           // the CSP's context behind a CNG view
    ScopedNcryptObject storage;   // the key storage provider of a CNG view
    ScopedNcryptObject owned;     // the key, when it is ours to free
    NCRYPT_KEY_HANDLE key = 0;
};

// The certificate's key through CryptAcquireCertificatePrivateKey, with CNG keys allowed: a key
// storage provider's key as it is, a CSP's key through NCryptTranslateHandle. A PIN, when given,
// goes to the key storage provider's key as its NCRYPT_PIN_PROPERTY, or to the CSP before its
// view is taken. False with the outcome recorded: status 6 when there is no key, 27 when CNG
// cannot see a CSP's key.
bool acquireCngKey(CallContext& context, PCCERT_CONTEXT certificate, const char* pin,
                   CngKeyHold& hold);

// The key of a container named without a certificate, through CNG: a key storage provider's
// (provider type 0) opened by its name, a CSP's container acquired and seen through its CNG view
// (`keySpec` its key). The PIN as acquireCngKey gives it; status 6 when there is no key, 27 when
// CNG cannot see a CSP's key.
bool acquireContainerCngKey(CallContext& context, const KeyBinding& binding, DWORD keySpec,
                            const char* pin, CngKeyHold& hold);

// A key storage provider by its name. False with `status` recorded.
bool openStorageProvider(CallContext& context, const std::string& providerName, uint32_t status,
                         ScopedNcryptObject& storage);

// A key storage provider's key by its name: the provider the binding names, then the key in the
// binding's keyset. False with `status` recorded.
bool openStorageKey(CallContext& context, const KeyBinding& binding, uint32_t status,
                    ScopedNcryptObject& storage, ScopedNcryptObject& key);

// Signs the hash with a CNG key: the signature as CNG writes it (RSA most significant byte first,
// ECDSA r then s). Logged; status 11 when NCryptSignHash fails.
bool signWithCngKey(CallContext& context, NCRYPT_KEY_HANDLE key, const CngPadding& padding,
                    const BYTE* hash, DWORD hashLength, std::vector<BYTE>& signature);

// Decrypts an RSA ciphertext, most significant byte first, with PKCS #1 v1.5 or OAEP; status 22
// when decryption fails.
void decryptWithCngKey(CallContext& context, NCRYPT_KEY_HANDLE key, const CngPadding& padding,
                       const BYTE* cipherText, DWORD cipherTextLength,
                       common::SecureBytes& plainText);

// The PIN goes to the key as a smart card's takes it, UTF-16 with its terminator. As with a CSP's
// PIN, a key that refuses it (one without a PIN) is used as it is; one that needs it and did not
// get it fails at its operation, with the smart card's error.
void applyCngPin(CallContext& context, NCRYPT_KEY_HANDLE key, const char* pin);

// Gives the key the PIN (UTF-8, as Java hands it over) as its NCRYPT_PIN_PROPERTY, and answers
// with CNG's status: a new key takes it as the PIN it will require.
SECURITY_STATUS setCngPin(const CryptoPlatform& platform, NCRYPT_KEY_HANDLE key, const char* pin);

}  // namespace keyops
