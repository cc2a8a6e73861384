// Decrypting, with the key-exchange key of a certificate from the personal store, an RSA
// ciphertext made for that certificate.
#pragma once

#include "common/secure_bytes.h"
#include "diagnostics/jni_env.h"
#include "keyops/capi.h"

namespace keyops {

// Finds the certificate, opens its key container exactly as its key-provider property names it
// and decrypts the most-significant-byte-first ciphertext there, with PKCS #1 v1.5 padding and,
// failing that, OAEP. Every step is logged. 0 on success with the plaintext in `plainText`; -1 on
// failure with the status word telling why and `plainText` empty.
int decryptWithCertificate(JNIEnv* env, const BYTE* encoding, DWORD encodingLength,
                           const BYTE* cipherText, DWORD cipherTextLength,
                           common::SecureBytes& plainText);

}  // namespace keyops
