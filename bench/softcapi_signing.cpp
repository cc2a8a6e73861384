// How much a signing through the software CryptoAPI costs over the same RSA operation in OpenSSL
// alone, with a personal store of 10 and of 10,000 certificates. Prints medians and ratios
// measured side by side in one run.
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "support/filler_certificates.h"
#include "softcapi/admin/admin.h"
#include "softcapi/wincapi.h"
#include "support/temp_profile.h"
#include "timing.h"

namespace {

using Bytes = std::vector<BYTE>;

const Bytes kData(1024, 0x5a);
const int kRounds = 15;
const int kBatch = 40;

void require(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(what);
}

// One RSA-2048 key, in the store through a PKCS#12 file and kept here for OpenSSL alone.
struct SigningIdentity {
    EVP_PKEY* key = nullptr;
    softcapi::admin::Identity stored;
};

SigningIdentity importIdentity() {
    SigningIdentity identity;
    identity.key = EVP_RSA_gen(2048);
    X509* certificate = X509_new();
    X509_set_version(certificate, X509_VERSION_3);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), 424242);
    X509_NAME* name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>("Bench"), -1, -1, 0);
    X509_set_issuer_name(certificate, name);
    X509_gmtime_adj(X509_getm_notBefore(certificate), 0);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 3600);
    X509_set_pubkey(certificate, identity.key);
    X509_sign(certificate, identity.key, EVP_sha256());
    PKCS12* file = PKCS12_create("bench", nullptr, identity.key, certificate, nullptr, 0, 0, 0, 0, 0);
    unsigned char* der = nullptr;
    int size = i2d_PKCS12(file, &der);
    Bytes pkcs12(der, der + size);
    OPENSSL_free(der);
    PKCS12_free(file);
    X509_free(certificate);
    identity.stored = softcapi::admin::importPkcs12(pkcs12, "bench", {});
    return identity;
}

void signWithOpenSsl(EVP_PKEY* key) {
    unsigned char digest[32];
    EVP_Digest(kData.data(), kData.size(), digest, nullptr, EVP_sha256(), nullptr);
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(key, nullptr);
    unsigned char signature[256];
    size_t length = sizeof(signature);
    require(EVP_PKEY_sign_init(context) == 1 &&
                EVP_PKEY_CTX_set_rsa_padding(context, RSA_PKCS1_PADDING) == 1 &&
                EVP_PKEY_CTX_set_signature_md(context, EVP_sha256()) == 1 &&
                EVP_PKEY_sign(context, signature, &length, digest, sizeof(digest)) == 1,
            "OpenSSL signing failed");
    EVP_PKEY_CTX_free(context);
}

void signInContainer(const softcapi::KeyBinding& binding) {
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    require(CryptAcquireContextA(&provider, binding.container.c_str(), binding.provider.c_str(),
                                 binding.providerType, 0) &&
                CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash) &&
                CryptHashData(hash, kData.data(), static_cast<DWORD>(kData.size()), 0),
            "acquire or hash failed");
    DWORD size = 0;
    BYTE signature[512];
    require(CryptSignHashA(hash, AT_KEYEXCHANGE, nullptr, 0, nullptr, &size) &&
                CryptSignHashA(hash, AT_KEYEXCHANGE, nullptr, 0, signature, &size),
            "signing failed");
    CryptDestroyHash(hash);
    CryptReleaseContext(provider, 0);
}

// The whole path the library takes: the read-only personal store searched for the certificate,
// its key-provider property read, then the container.
void findAndSign(const SigningIdentity& identity) {
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                     CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG,
                                     u"My");
    require(store != nullptr, "store did not open");
    const Bytes& wanted = identity.stored.certificate;
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertEnumCertificatesInStore(store, context)) != nullptr) {
        if (context->cbCertEncoded == wanted.size() &&
            std::memcmp(context->pbCertEncoded, wanted.data(), wanted.size()) == 0)
            break;
    }
    require(context != nullptr, "certificate not found");
    DWORD size = 0;
    require(CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size),
            "no key-provider property");
    std::vector<BYTE> info(size);
    CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, info.data(), &size);
    signInContainer(identity.stored.binding);
    CertFreeCertificateContext(context);
    CertCloseStore(store, 0);
}

void measure(int storeSize) {
    TempProfile profile;
    softcapi::admin::addCertificates("My", fillerCertificates(storeSize - 1));
    SigningIdentity identity = importIdentity();  // last in the store: the longest search
    std::vector<double> openssl, container, lookup, containerRatio, lookupRatio;
    for (int round = 0; round < kRounds; ++round) {
        double alone = microsecondsPerCall(kBatch, [&] { signWithOpenSsl(identity.key); });
        double inContainer = microsecondsPerCall(kBatch, [&] { signInContainer(identity.stored.binding); });
        double withLookup = microsecondsPerCall(kBatch, [&] { findAndSign(identity); });
        openssl.push_back(alone);
        container.push_back(inContainer);
        lookup.push_back(withLookup);
        containerRatio.push_back(inContainer / alone);
        lookupRatio.push_back(withLookup / alone);
    }
    std::printf("store of %5d: OpenSSL alone %7.1f us | acquire+hash+sign %7.1f us (x%.3f) | "
                "store lookup+acquire+hash+sign %7.1f us (x%.3f)\n",
                storeSize, median(openssl), median(container), median(containerRatio),
                median(lookup), median(lookupRatio));
    EVP_PKEY_free(identity.key);
}

}  // namespace

int main() {
    std::printf("RSA-2048, SHA-256 over 1 KiB, medians of %d rounds of %d calls, ratios to OpenSSL alone\n",
                kRounds, kBatch);
    for (int size : {10, 10000}) measure(size);
    return 0;
}
