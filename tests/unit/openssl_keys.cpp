#include "unit/openssl_keys.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <stdexcept>

namespace {

using BignumPtr = std::unique_ptr<BIGNUM, decltype(&BN_clear_free)>;

BignumPtr number(EVP_PKEY* key, const char* name) {
    BIGNUM* value = nullptr;
    if (EVP_PKEY_get_bn_param(key, name, &value) != 1)
        throw std::runtime_error(std::string("OpenSSL key lacks ") + name);
    return BignumPtr(value, BN_clear_free);
}

Bytes bytesOf(EVP_PKEY* key, const char* name) {
    BignumPtr value = number(key, name);
    Bytes bytes(BN_num_bytes(value.get()));
    BN_bn2bin(value.get(), bytes.data());
    return bytes;
}

common::SecureBytes secretOf(EVP_PKEY* key, const char* name) {
    Bytes bytes = bytesOf(key, name);
    common::SecureBytes secret(bytes.data(), bytes.size());
    common::wipeBytes(bytes.data(), bytes.size());
    return secret;
}

X509_NAME* nameOf(const std::string& commonName) {
    X509_NAME* name = X509_NAME_new();
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
    return name;
}

Bytes signedCertificate(EVP_PKEY* subjectKey, const std::string& subject, EVP_PKEY* issuerKey,
                        const std::string& issuerName) {
    static long serial = 1;
    X509* certificate = X509_new();
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), ++serial);
    X509_NAME* subjectName = nameOf(subject);
    X509_NAME* issuer = nameOf(issuerName);
    X509_set_subject_name(certificate, subjectName);
    X509_set_issuer_name(certificate, issuer);
    X509_NAME_free(subjectName);
    X509_NAME_free(issuer);
    X509_gmtime_adj(X509_getm_notBefore(certificate), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 86400);
    X509_set_pubkey(certificate, subjectKey);
    if (X509_sign(certificate, issuerKey, EVP_sha256()) == 0) {
        X509_free(certificate);
        throw std::runtime_error("OpenSSL does not sign the certificate");
    }
    unsigned char* der = nullptr;
    int length = i2d_X509(certificate, &der);
    Bytes encoded(der, der + length);
    OPENSSL_free(der);
    X509_free(certificate);
    return encoded;
}

}  // namespace

OpenSslKey::OpenSslKey(const std::string& type) : key_(nullptr) {
    if (type == "rsa-2048")
        key_ = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t{2048});
    else if (type == "ec-256")
        key_ = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    else if (type == "ec-384")
        key_ = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-384");
    else if (type == "ec-521")
        key_ = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-521");
    if (key_ == nullptr) throw std::runtime_error("OpenSSL makes no key " + type);
}

OpenSslKey::~OpenSslKey() {
    EVP_PKEY_free(key_);
}

keyops::RsaPrivateKey OpenSslKey::rsaNumbers() const {
    keyops::RsaPrivateKey numbers;
    numbers.modulus = bytesOf(key_, OSSL_PKEY_PARAM_RSA_N);
    numbers.publicExponent = bytesOf(key_, OSSL_PKEY_PARAM_RSA_E);
    numbers.privateExponent = secretOf(key_, OSSL_PKEY_PARAM_RSA_D);
    numbers.prime1 = secretOf(key_, OSSL_PKEY_PARAM_RSA_FACTOR1);
    numbers.prime2 = secretOf(key_, OSSL_PKEY_PARAM_RSA_FACTOR2);
    numbers.exponent1 = secretOf(key_, OSSL_PKEY_PARAM_RSA_EXPONENT1);
    numbers.exponent2 = secretOf(key_, OSSL_PKEY_PARAM_RSA_EXPONENT2);
    numbers.coefficient = secretOf(key_, OSSL_PKEY_PARAM_RSA_COEFFICIENT1);
    return numbers;
}

keyops::EcPrivateKey OpenSslKey::ecNumbers() const {
    keyops::EcPrivateKey numbers;
    numbers.curveBits = static_cast<DWORD>(EVP_PKEY_get_bits(key_));
    numbers.x = bytesOf(key_, OSSL_PKEY_PARAM_EC_PUB_X);
    numbers.y = bytesOf(key_, OSSL_PKEY_PARAM_EC_PUB_Y);
    numbers.d = secretOf(key_, OSSL_PKEY_PARAM_PRIV_KEY);
    return numbers;
}

bool OpenSslKey::isRsa() const {
    return EVP_PKEY_is_a(key_, "RSA") == 1;
}

Bytes OpenSslKey::publicKeyInfo() const {
    unsigned char* der = nullptr;
    int length = i2d_PUBKEY(key_, &der);
    Bytes encoded(der, der + length);
    OPENSSL_free(der);
    return encoded;
}

Bytes issueCertificate(const Bytes& publicKeyInfo, const std::string& subject,
                       const OpenSslKey& issuer, const std::string& issuerName) {
    const unsigned char* in = publicKeyInfo.data();
    EVP_PKEY* subjectKey = d2i_PUBKEY(nullptr, &in, static_cast<long>(publicKeyInfo.size()));
    if (subjectKey == nullptr) throw std::runtime_error("SubjectPublicKeyInfo does not parse");
    Bytes certificate = signedCertificate(subjectKey, subject, issuer.get(), issuerName);
    EVP_PKEY_free(subjectKey);
    return certificate;
}

Bytes selfSignedCertificate(const OpenSslKey& key, const std::string& name) {
    return signedCertificate(key.get(), name, key.get(), name);
}
