// OpenSSL ownership and error handling, and the key encodings the key store keeps.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>
#include <vector>

#include "keyops/secure_bytes.h"
#include "keyops/softcapi/wintypes.h"

namespace softcapi {

struct OpenSslDeleter {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
    void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
    void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
    void operator()(X509* p) const { X509_free(p); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, OpenSslDeleter>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, OpenSslDeleter>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, OpenSslDeleter>;
using X509Ptr = std::unique_ptr<X509, OpenSslDeleter>;
// Keys are shared, read-only, between the cache and the handles that use them.
using SharedKey = std::shared_ptr<EVP_PKEY>;

SharedKey shareKey(PkeyPtr key);

// Every OpenSSL failure becomes a Windows error in one place: memory exhaustion is NTE_NO_MEMORY,
// anything else `fallback`. The error queue is emptied.
DWORD windowsErrorForOpenSsl(DWORD fallback);

// Empties OpenSSL's error queue when the call that owns it returns, whatever the path.
class OpenSslErrorScope {
public:
    OpenSslErrorScope() = default;
    ~OpenSslErrorScope();
    OpenSslErrorScope(const OpenSslErrorScope&) = delete;
    OpenSslErrorScope& operator=(const OpenSslErrorScope&) = delete;
};

std::vector<BYTE> sha1Of(const BYTE* data, size_t size);

// DER encodings, null or empty on failure.
std::vector<BYTE> encodePublicKey(EVP_PKEY* key);
PkeyPtr decodePublicKey(const std::vector<BYTE>& der);
SecureBytes encodePrivateKey(EVP_PKEY* key);
PkeyPtr decodePrivateKey(const SecureBytes& pkcs8);
// PKCS#8 under PBES2 with AES-256-CBC and a PBKDF2 key from the PIN.
SecureBytes encryptPrivateKey(EVP_PKEY* key, const std::string& pin);
PkeyPtr decryptPrivateKey(const SecureBytes& encrypted, const char* pin, size_t pinLength);

}  // namespace softcapi
