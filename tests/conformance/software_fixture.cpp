// The conformance fixture over the software key store: identities made by the administration
// API in a throwaway profile, signatures and ciphertexts judged and made by OpenSSL.
#include <openssl/dsa.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <algorithm>
#include <stdexcept>

#include "conformance/crypto_fixture.h"
#include "keyops/softcapi/admin.h"
#include "support/temp_profile.h"

namespace {

using softcapi::admin::KeyType;

KeyType keyTypeOf(FixtureKey key) {
    switch (key) {
        case FixtureKey::Rsa1024: return KeyType::Rsa1024;
        case FixtureKey::Rsa2048: return KeyType::Rsa2048;
        case FixtureKey::Dsa1024: return KeyType::Dsa1024;
    }
    throw std::logic_error("unknown key");
}

struct PublicKey {
    explicit PublicKey(const Bytes& certificate) {
        const unsigned char* in = certificate.data();
        X509* parsed = d2i_X509(nullptr, &in, static_cast<long>(certificate.size()));
        if (parsed == nullptr) throw std::runtime_error("test certificate does not parse");
        key = X509_get_pubkey(parsed);
        X509_free(parsed);
    }
    ~PublicKey() { EVP_PKEY_free(key); }
    EVP_PKEY* key = nullptr;
};

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

// A DSS signature is r then s, each 20 bytes least significant first; OpenSSL wants DER.
Bytes dssToDer(const Bytes& signature) {
    Bytes r(signature.begin(), signature.begin() + 20);
    Bytes s(signature.begin() + 20, signature.end());
    DSA_SIG* sig = DSA_SIG_new();
    DSA_SIG_set0(sig, BN_lebin2bn(r.data(), 20, nullptr), BN_lebin2bn(s.data(), 20, nullptr));
    unsigned char* der = nullptr;
    int length = i2d_DSA_SIG(sig, &der);
    Bytes out(der, der + std::max(length, 0));
    OPENSSL_free(der);
    DSA_SIG_free(sig);
    return out;
}

class SoftwareFixture : public CryptoFixture {
public:
    TestIdentity createIdentity(const IdentityRequest& request) override {
        softcapi::admin::IdentityOptions options;
        options.subject = "CN=Conformance";
        options.keyType = keyTypeOf(request.key);
        options.placement.keySpec = request.keySpec;
        options.placement.provider = request.provider;
        options.placement.pin = request.pin;
        options.placement.store = request.store;
        softcapi::admin::Identity made = softcapi::admin::createIdentity(options);
        return {made.certificate, made.binding.container, made.binding.provider,
                made.binding.providerType, made.binding.keySpec};
    }

    Bytes createCertificate(const std::string& subject) override {
        softcapi::admin::IdentityOptions options;
        options.subject = "CN=" + subject;
        options.keyType = KeyType::Rsa1024;
        options.placement.store = "QdieFixtureScratch";
        return softcapi::admin::createIdentity(options).certificate;
    }

    bool verifySignature(const Bytes& certificate, ALG_ID hashAlgorithm, const Bytes& message,
                         const Bytes& signature) override {
        PublicKey publicKey(certificate);
        bool dss = EVP_PKEY_is_a(publicKey.key, "DSA");
        Bytes hash = message;
        if (const EVP_MD* digest = digestOf(hashAlgorithm)) {
            hash.resize(EVP_MD_get_size(digest));
            EVP_Digest(message.data(), message.size(), hash.data(), nullptr, digest, nullptr);
        }
        Bytes bigEndian = dss ? dssToDer(signature) : Bytes(signature.rbegin(), signature.rend());
        EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(publicKey.key, nullptr);
        bool ok = context != nullptr && EVP_PKEY_verify_init(context) == 1;
        if (ok && !dss) ok = EVP_PKEY_CTX_set_rsa_padding(context, RSA_PKCS1_PADDING) == 1;
        if (ok && digestOf(hashAlgorithm) != nullptr)
            ok = EVP_PKEY_CTX_set_signature_md(context, digestOf(hashAlgorithm)) == 1;
        ok = ok && EVP_PKEY_verify(context, bigEndian.data(), bigEndian.size(), hash.data(),
                                   hash.size()) == 1;
        EVP_PKEY_CTX_free(context);
        ERR_clear_error();
        return ok;
    }

    Bytes encryptFor(const Bytes& certificate, const Bytes& plainText, bool oaep) override {
        PublicKey publicKey(certificate);
        EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(publicKey.key, nullptr);
        size_t length = 0;
        Bytes out;
        if (context != nullptr && EVP_PKEY_encrypt_init(context) == 1 &&
            EVP_PKEY_CTX_set_rsa_padding(context, oaep ? RSA_PKCS1_OAEP_PADDING
                                                       : RSA_PKCS1_PADDING) == 1 &&
            EVP_PKEY_encrypt(context, nullptr, &length, plainText.data(), plainText.size()) == 1) {
            out.resize(length);
            if (EVP_PKEY_encrypt(context, out.data(), &length, plainText.data(),
                                 plainText.size()) != 1)
                out.clear();
        }
        EVP_PKEY_CTX_free(context);
        if (out.empty()) throw std::runtime_error("OpenSSL could not encrypt");
        return out;
    }

private:
    TempProfile profile_;
};

}  // namespace

const char kAesProvider[] = "Microsoft Enhanced RSA and AES Cryptographic Provider";
const char kDssDhProvider[] = "Microsoft Base DSS and Diffie-Hellman Cryptographic Provider";

std::unique_ptr<CryptoFixture> makeCryptoFixture() {
    return std::make_unique<SoftwareFixture>();
}
