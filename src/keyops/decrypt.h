// Decrypting, with the key-exchange key of a certificate from the personal store, an RSA
// ciphertext made for that certificate.
#pragma once

#include "common/secure_bytes.h"
#include "keyops/call_context.h"

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

// As decryptWithCertificate, but the container removes the padding asked and no other: a
// ciphertext of the other padding, or of other OAEP parameters, fails with status 22.
bool decryptWithPadding(CallContext& context, const BYTE* encoding, DWORD encodingLength,
                        const BYTE* cipherText, DWORD cipherTextLength, RsaPadding padding,
                        common::SecureBytes& plainText, const char* pin);

// The private-key operation alone on one block (most significant byte first, as long as the
// key), with the key-exchange key of the certificate, through the provider's
// CRYPT_DECRYPT_RSA_NO_PADDING_CHECK: for a caller that pads the block itself (RSASSA-PSS) and
// checks the result. Logged as a decryption is, between its own banner and closing line. True
// with the result, most significant byte first; false with the outcome telling why (status 26
// when the provider refuses the operation).
bool rawRsaWithCertificate(CallContext& context, const BYTE* encoding, DWORD encodingLength,
                           const BYTE* block, DWORD blockLength, common::SecureBytes& result,
                           const char* pin);

}  // namespace keyops
