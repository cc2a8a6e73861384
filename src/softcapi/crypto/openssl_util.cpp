#include "softcapi/crypto/openssl_util.h"

#include <openssl/err.h>
#include <openssl/pkcs12.h>
#include <openssl/sha.h>

namespace softcapi {

namespace {

// PBKDF2 rounds for PIN-protected keys; the cost is paid once per process and container.
const int kPbkdf2Iterations = 100000;

// The DER of an OpenSSL object, written straight into memory that wipes itself; empty on failure.
template <typename T>
common::SecureBytes secretDer(const T* object, int (*encode)(const T*, unsigned char**)) {
    int length = object != nullptr ? encode(object, nullptr) : 0;
    if (length <= 0) return common::SecureBytes();
    common::SecureBytes der(static_cast<size_t>(length));
    unsigned char* out = der.data();
    if (encode(object, &out) != length) return common::SecureBytes();
    return der;
}

}  // namespace

SharedKey shareKey(PkeyPtr key) {
    return SharedKey(key.release(), OpenSslDeleter());
}

DWORD windowsErrorForOpenSsl(DWORD fallback) {
    DWORD code = fallback;
    unsigned long error;
    while ((error = ERR_get_error()) != 0) {
        if (ERR_GET_REASON(error) == ERR_R_MALLOC_FAILURE) code = NTE_NO_MEMORY;
    }
    return code;
}

OpenSslErrorScope::~OpenSslErrorScope() {
    ERR_clear_error();
}

std::vector<BYTE> sha1Of(const BYTE* data, size_t size) {
    std::vector<BYTE> digest(SHA_DIGEST_LENGTH);
    SHA1(data, size, digest.data());
    return digest;
}

std::vector<BYTE> encodePublicKey(EVP_PKEY* key) {
    int size = i2d_PUBKEY(key, nullptr);
    if (size <= 0) return {};
    std::vector<BYTE> der(size);
    unsigned char* out = der.data();
    i2d_PUBKEY(key, &out);
    return der;
}

PkeyPtr decodePublicKey(const std::vector<BYTE>& der) {
    const unsigned char* in = der.data();
    return PkeyPtr(d2i_PUBKEY(nullptr, &in, static_cast<long>(der.size())));
}

common::SecureBytes encodePrivateKey(EVP_PKEY* key) {
    OpenSslPtr<PKCS8_PRIV_KEY_INFO> info(EVP_PKEY2PKCS8(key));
    return secretDer<PKCS8_PRIV_KEY_INFO>(info.get(), i2d_PKCS8_PRIV_KEY_INFO);
}

PkeyPtr decodePrivateKey(const common::SecureBytes& pkcs8) {
    const unsigned char* in = pkcs8.data();
    OpenSslPtr<PKCS8_PRIV_KEY_INFO> info(
        d2i_PKCS8_PRIV_KEY_INFO(nullptr, &in, static_cast<long>(pkcs8.size())));
    return info ? PkeyPtr(EVP_PKCS82PKEY(info.get())) : nullptr;
}

common::SecureBytes encryptPrivateKey(EVP_PKEY* key, const std::string& pin) {
    OpenSslPtr<PKCS8_PRIV_KEY_INFO> info(EVP_PKEY2PKCS8(key));
    if (!info) return common::SecureBytes();
    OpenSslPtr<X509_SIG> sealed(PKCS8_encrypt(-1, EVP_aes_256_cbc(), pin.data(),
                                              static_cast<int>(pin.size()), nullptr, 0,
                                              kPbkdf2Iterations, info.get()));
    return secretDer<X509_SIG>(sealed.get(), i2d_X509_SIG);
}

PkeyPtr decryptPrivateKey(const common::SecureBytes& encrypted, const char* pin, size_t pinLength) {
    const unsigned char* in = encrypted.data();
    OpenSslPtr<X509_SIG> sealed(d2i_X509_SIG(nullptr, &in, static_cast<long>(encrypted.size())));
    if (!sealed) return nullptr;
    OpenSslPtr<PKCS8_PRIV_KEY_INFO> info(PKCS8_decrypt(sealed.get(), pin, static_cast<int>(pinLength)));
    return info ? PkeyPtr(EVP_PKCS82PKEY(info.get())) : nullptr;
}

}  // namespace softcapi
