#include "keyops/softcapi/openssl_util.h"

#include <openssl/err.h>
#include <openssl/pkcs12.h>
#include <openssl/sha.h>

namespace softcapi {

namespace {

// PBKDF2 rounds for PIN-protected keys; the cost is paid once per process and container.
const int kPbkdf2Iterations = 100000;

}  // namespace

SharedKey shareKey(PkeyPtr key) {
    return SharedKey(key.release(), [](EVP_PKEY* p) { EVP_PKEY_free(p); });
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

SecureBytes encodePrivateKey(EVP_PKEY* key) {
    PKCS8_PRIV_KEY_INFO* info = EVP_PKEY2PKCS8(key);
    if (info == nullptr) return SecureBytes();
    unsigned char* der = nullptr;
    int length = i2d_PKCS8_PRIV_KEY_INFO(info, &der);
    PKCS8_PRIV_KEY_INFO_free(info);
    if (length <= 0) return SecureBytes();
    SecureBytes out(der, length);
    OPENSSL_clear_free(der, length);
    return out;
}

PkeyPtr decodePrivateKey(const SecureBytes& pkcs8) {
    const unsigned char* in = pkcs8.data();
    PKCS8_PRIV_KEY_INFO* info =
        d2i_PKCS8_PRIV_KEY_INFO(nullptr, &in, static_cast<long>(pkcs8.size()));
    if (info == nullptr) return nullptr;
    PkeyPtr key(EVP_PKCS82PKEY(info));
    PKCS8_PRIV_KEY_INFO_free(info);
    return key;
}

SecureBytes encryptPrivateKey(EVP_PKEY* key, const std::string& pin) {
    PKCS8_PRIV_KEY_INFO* info = EVP_PKEY2PKCS8(key);
    if (info == nullptr) return SecureBytes();
    X509_SIG* sealed = PKCS8_encrypt(-1, EVP_aes_256_cbc(), pin.data(), static_cast<int>(pin.size()),
                                     nullptr, 0, kPbkdf2Iterations, info);
    PKCS8_PRIV_KEY_INFO_free(info);
    if (sealed == nullptr) return SecureBytes();
    unsigned char* der = nullptr;
    int length = i2d_X509_SIG(sealed, &der);
    X509_SIG_free(sealed);
    if (length <= 0) return SecureBytes();
    SecureBytes out(der, length);
    OPENSSL_free(der);
    return out;
}

PkeyPtr decryptPrivateKey(const SecureBytes& encrypted, const char* pin, size_t pinLength) {
    const unsigned char* in = encrypted.data();
    X509_SIG* sealed = d2i_X509_SIG(nullptr, &in, static_cast<long>(encrypted.size()));
    if (sealed == nullptr) return nullptr;
    PKCS8_PRIV_KEY_INFO* info = PKCS8_decrypt(sealed, pin, static_cast<int>(pinLength));
    X509_SIG_free(sealed);
    if (info == nullptr) return nullptr;
    PkeyPtr key(EVP_PKCS82PKEY(info));
    PKCS8_PRIV_KEY_INFO_free(info);
    return key;
}

}  // namespace softcapi
