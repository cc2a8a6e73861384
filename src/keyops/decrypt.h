// Decrypting, with the key-exchange key of a certificate from the personal store, an RSA
// ciphertext made for that certificate.
#pragma once

#include "common/secure_bytes.h"
#include "keyops/call_context.h"
#include "keyops/certificate_lookup.h"

namespace keyops {

// Finds the certificate, opens its key container exactly as its key-provider property names it
// and decrypts the most-significant-byte-first ciphertext there, with PKCS #1 v1.5 padding and,
// failing that, OAEP; a PIN, when one is given, goes to the container's key-exchange key first.
// Every step is logged. True on success with the plaintext in `plainText`; false on failure
// with the context's outcome telling why and `plainText` empty.
bool decryptWithCertificate(CallContext& context, const BYTE* encoding, DWORD encodingLength,
                            const BYTE* cipherText, DWORD cipherTextLength,
                            common::SecureBytes& plainText, const char* pin = nullptr);

// The one padding a caller asked for: PKCS #1 v1.5, or OAEP as CSPs do it (SHA-1, MGF1 over
// SHA-1, no label).
enum class RsaPadding { Pkcs1, Oaep };

// The steps of decryption up to the key: the container acquired exactly as the binding names it,
// the PIN, when given, set for the key-exchange key, and that key. False with the outcome
// recorded; what was opened is left in `provider` and `key` for the caller to release.
bool openExchangeKey(CallContext& context, const KeyBinding& binding, const char* pin,
                     ScopedProvider& provider, ScopedKey& key);

// Decrypts with the key-exchange key, removing the padding asked and no other: a ciphertext of
// the other padding, or of other OAEP parameters, fails with status 22.
void decryptWithKey(CallContext& context, HCRYPTKEY key, const BYTE* cipherText,
                    DWORD cipherTextLength, RsaPadding padding, common::SecureBytes& plainText);

// The private-key operation alone on one block (most significant byte first, as long as the
// key), through the provider's CRYPT_DECRYPT_RSA_NO_PADDING_CHECK: for a caller that pads the
// block itself (RSASSA-PSS). The result most significant byte first; status 26 when the provider
// refuses the operation.
void rawRsaWithKey(CallContext& context, HCRYPTKEY key, const BYTE* block, DWORD blockLength,
                   common::SecureBytes& result);

}  // namespace keyops
