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

}  // namespace keyops
