#include "support/filler_certificates.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <string>

CertificateEncodings fillerCertificates(int count) {
    EVP_PKEY* key = EVP_RSA_gen(1024);
    CertificateEncodings certificates;
    for (int i = 0; i < count; ++i) {
        X509* certificate = X509_new();
        X509_set_version(certificate, X509_VERSION_3);
        ASN1_INTEGER_set(X509_get_serialNumber(certificate), i + 1);
        X509_NAME* name = X509_get_subject_name(certificate);
        std::string cn = "Filler " + std::to_string(i);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
        X509_set_issuer_name(certificate, name);
        X509_gmtime_adj(X509_getm_notBefore(certificate), 0);
        X509_gmtime_adj(X509_getm_notAfter(certificate), 3600);
        X509_set_pubkey(certificate, key);
        X509_sign(certificate, key, EVP_sha256());
        unsigned char* der = nullptr;
        int size = i2d_X509(certificate, &der);
        certificates.emplace_back(der, der + size);
        OPENSSL_free(der);
        X509_free(certificate);
    }
    EVP_PKEY_free(key);
    return certificates;
}
