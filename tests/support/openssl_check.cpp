#include "support/openssl_check.h"

#include <openssl/dsa.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace {

using Bytes = std::vector<BYTE>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using ContextPtr = std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)>;

PkeyPtr publicKeyOf(const Bytes& certificate) {
    const unsigned char* in = certificate.data();
    X509* parsed = d2i_X509(nullptr, &in, static_cast<long>(certificate.size()));
    if (parsed == nullptr) throw std::runtime_error("test certificate does not parse");
    PkeyPtr key(X509_get_pubkey(parsed), EVP_PKEY_free);
    X509_free(parsed);
    return key;
}

const EVP_MD* digestOf(ALG_ID algorithm) {
    switch (algorithm) {
        case CALG_MD5: return EVP_md5();
        case CALG_SHA1: return EVP_sha1();
        case CALG_SHA_256: return EVP_sha256();
        case CALG_SHA_384: return EVP_sha384();
        case CALG_SHA_512: return EVP_sha512();
        default: return nullptr;
    }
}

// CryptoAPI's DSS signature (r then s, 20 bytes each, least significant first) as DER.
Bytes dssToDer(const Bytes& signature) {
    if (signature.size() != 40) return {};
    DSA_SIG* sig = DSA_SIG_new();
    DSA_SIG_set0(sig, BN_lebin2bn(signature.data(), 20, nullptr),
                 BN_lebin2bn(signature.data() + 20, 20, nullptr));
    unsigned char* der = nullptr;
    int length = i2d_DSA_SIG(sig, &der);
    Bytes out(der, der + std::max(length, 0));
    OPENSSL_free(der);
    DSA_SIG_free(sig);
    return out;
}

}  // namespace

Bytes opensslDigest(ALG_ID hashAlgorithm, const Bytes& message) {
    const EVP_MD* digest = digestOf(hashAlgorithm);
    if (digest == nullptr) throw std::runtime_error("not a digest OpenSSL knows");
    Bytes hash(EVP_MD_get_size(digest));
    EVP_Digest(message.data(), message.size(), hash.data(), nullptr, digest, nullptr);
    return hash;
}

bool opensslVerifies(const Bytes& certificate, ALG_ID hashAlgorithm, const Bytes& message,
                     const Bytes& signature, bool isHash) {
    PkeyPtr key = publicKeyOf(certificate);
    bool dss = EVP_PKEY_is_a(key.get(), "DSA");
    const EVP_MD* digest = digestOf(hashAlgorithm);
    Bytes hash = isHash || digest == nullptr ? message : opensslDigest(hashAlgorithm, message);
    Bytes encoded = dss ? dssToDer(signature) : Bytes(signature.rbegin(), signature.rend());
    ContextPtr context(EVP_PKEY_CTX_new(key.get(), nullptr), EVP_PKEY_CTX_free);
    bool ok = context && EVP_PKEY_verify_init(context.get()) == 1;
    if (ok && !dss) ok = EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) == 1;
    if (ok && digest != nullptr) ok = EVP_PKEY_CTX_set_signature_md(context.get(), digest) == 1;
    ok = ok && EVP_PKEY_verify(context.get(), encoded.data(), encoded.size(), hash.data(),
                               hash.size()) == 1;
    ERR_clear_error();
    return ok;
}

bool opensslVerifiesCng(const Bytes& certificate, ALG_ID hashAlgorithm, const Bytes& hash,
                        const Bytes& signature, DWORD scheme, DWORD saltLength) {
    PkeyPtr key = publicKeyOf(certificate);
    Bytes encoded = signature;
    if (scheme == 0) {
        size_t half = signature.size() / 2;
        ECDSA_SIG* sig = ECDSA_SIG_new();
        ECDSA_SIG_set0(sig, BN_bin2bn(signature.data(), static_cast<int>(half), nullptr),
                       BN_bin2bn(signature.data() + half, static_cast<int>(half), nullptr));
        unsigned char* der = nullptr;
        int length = i2d_ECDSA_SIG(sig, &der);
        encoded.assign(der, der + std::max(length, 0));
        OPENSSL_free(der);
        ECDSA_SIG_free(sig);
    }
    const EVP_MD* digest = digestOf(hashAlgorithm);
    ContextPtr context(EVP_PKEY_CTX_new(key.get(), nullptr), EVP_PKEY_CTX_free);
    bool ok = context && EVP_PKEY_verify_init(context.get()) == 1;
    if (ok && scheme != 0)
        ok = EVP_PKEY_CTX_set_rsa_padding(context.get(), scheme == BCRYPT_PAD_PSS
                                                             ? RSA_PKCS1_PSS_PADDING
                                                             : RSA_PKCS1_PADDING) == 1 &&
             EVP_PKEY_CTX_set_signature_md(context.get(), digest) == 1;
    if (ok && scheme == BCRYPT_PAD_PSS)
        ok = EVP_PKEY_CTX_set_rsa_pss_saltlen(context.get(), static_cast<int>(saltLength)) == 1;
    ok = ok && EVP_PKEY_verify(context.get(), encoded.data(), encoded.size(), hash.data(),
                               hash.size()) == 1;
    ERR_clear_error();
    return ok;
}

Bytes opensslEncrypt(const Bytes& certificate, const Bytes& plainText, bool oaep) {
    PkeyPtr key = publicKeyOf(certificate);
    ContextPtr context(EVP_PKEY_CTX_new(key.get(), nullptr), EVP_PKEY_CTX_free);
    size_t length = 0;
    Bytes out;
    if (context && EVP_PKEY_encrypt_init(context.get()) == 1 &&
        EVP_PKEY_CTX_set_rsa_padding(context.get(),
                                     oaep ? RSA_PKCS1_OAEP_PADDING : RSA_PKCS1_PADDING) == 1 &&
        EVP_PKEY_encrypt(context.get(), nullptr, &length, plainText.data(), plainText.size()) == 1) {
        out.resize(length);
        if (EVP_PKEY_encrypt(context.get(), out.data(), &length, plainText.data(),
                             plainText.size()) != 1)
            out.clear();
    }
    if (out.empty()) throw std::runtime_error("OpenSSL could not encrypt");
    return out;
}
