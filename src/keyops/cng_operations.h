// Signing and decryption with a certificate's key through CNG, for the provider: the key as
// CryptAcquireCertificatePrivateKey gives it, a key storage provider's key directly and a CSP's
// key through its CNG view (NCryptTranslateHandle).
#pragma once

#include <vector>

#include "common/secure_bytes.h"
#include "keyops/call_context.h"

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

// Finds the certificate in "My", opens its key and signs the hash there; the signature as CNG
// writes it (RSA most significant byte first, ECDSA r then s), checked against the certificate's
// public key before it is handed out. A PIN, when given, goes to a CSP's key before its CNG view
// is taken, and to a key storage provider's key as its NCRYPT_PIN_PROPERTY. Every step is logged. False with the outcome telling why:
// status 6 when there is no key, 27 when CNG cannot use it for this signature, 11 when signing
// or the check fails.
bool signThroughCng(CallContext& context, const BYTE* encoding, DWORD encodingLength,
                    const CngPadding& padding, const BYTE* hash, DWORD hashLength,
                    std::vector<BYTE>& signature, const char* pin);

// The signing step alone, with a CNG key the caller holds: the key's group checked against the
// padding, then NCryptSignHash, logged and recorded as signThroughCng does.
bool signWithCngKey(CallContext& context, NCRYPT_KEY_HANDLE key, const CngPadding& padding,
                    const BYTE* hash, DWORD hashLength, std::vector<BYTE>& signature);

// The same for an RSA ciphertext, most significant byte first, with PKCS #1 v1.5 or OAEP; status
// 22 when decryption fails.
bool decryptThroughCng(CallContext& context, const BYTE* encoding, DWORD encodingLength,
                       const CngPadding& padding, const BYTE* cipherText, DWORD cipherTextLength,
                       common::SecureBytes& plainText, const char* pin);

}  // namespace keyops
