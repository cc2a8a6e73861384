// OpenSSL ownership and error handling, and the key encodings the key store keeps.
#pragma once

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/dsa.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <memory>
#include <string>
#include <vector>

#include "common/secure_bytes.h"
#include "softcapi/wintypes.h"

namespace softcapi {

// Every OpenSSL object the software CryptoAPI makes has an owner of this kind.
struct OpenSslDeleter {
    void operator()(BIGNUM* p) const { BN_free(p); }
    void operator()(BIO* p) const { BIO_free(p); }
    void operator()(DSA_SIG* p) const { DSA_SIG_free(p); }
    void operator()(ECDSA_SIG* p) const { ECDSA_SIG_free(p); }
    void operator()(EVP_CIPHER* p) const { EVP_CIPHER_free(p); }
    void operator()(EVP_CIPHER_CTX* p) const { EVP_CIPHER_CTX_free(p); }
    void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
    void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
    void operator()(PBE2PARAM* p) const { PBE2PARAM_free(p); }
    void operator()(PBEPARAM* p) const { PBEPARAM_free(p); }
    void operator()(PBKDF2PARAM* p) const { PBKDF2PARAM_free(p); }
    void operator()(PKCS12* p) const { PKCS12_free(p); }
    void operator()(PKCS8_PRIV_KEY_INFO* p) const { PKCS8_PRIV_KEY_INFO_free(p); }
    void operator()(STACK_OF(PKCS12_SAFEBAG)* p) const { sk_PKCS12_SAFEBAG_pop_free(p, PKCS12_SAFEBAG_free); }
    void operator()(STACK_OF(PKCS7)* p) const { sk_PKCS7_pop_free(p, PKCS7_free); }
    void operator()(X509* p) const { X509_free(p); }
    void operator()(X509_EXTENSION* p) const { X509_EXTENSION_free(p); }
    void operator()(X509_NAME* p) const { X509_NAME_free(p); }
    void operator()(X509_SIG* p) const { X509_SIG_free(p); }
};
template <typename T>
using OpenSslPtr = std::unique_ptr<T, OpenSslDeleter>;
using PkeyPtr = OpenSslPtr<EVP_PKEY>;
using PkeyCtxPtr = OpenSslPtr<EVP_PKEY_CTX>;
using MdCtxPtr = OpenSslPtr<EVP_MD_CTX>;
using X509Ptr = OpenSslPtr<X509>;
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
common::SecureBytes encodePrivateKey(EVP_PKEY* key);
PkeyPtr decodePrivateKey(const common::SecureBytes& pkcs8);
// PKCS#8 under PBES2 with AES-256-CBC and a PBKDF2 key from the PIN.
common::SecureBytes encryptPrivateKey(EVP_PKEY* key, const std::string& pin);
PkeyPtr decryptPrivateKey(const common::SecureBytes& encrypted, const char* pin, size_t pinLength);

}  // namespace softcapi
