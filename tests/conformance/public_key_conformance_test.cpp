// Checking a signature with a certificate's public key, as the library does before it hands one
// out: the key imported from the certificate's context in "My", the signature verified over the
// hash it was made from.
#include "conformance/conformance_test.h"

namespace {

const Bytes kMessage = {'c', 'h', 'e', 'c', 'k', ' ', 'm', 'e'};

// The identity's certificate as "My" gives it, with its decoded public key; the store stays open
// as long as the context is used.
struct StoredCertificate {
    StoreGuard store;
    PCCERT_CONTEXT context = nullptr;
    ~StoredCertificate() {
        if (context != nullptr) CertFreeCertificateContext(context);
    }
};

void findInMy(const Bytes& certificate, StoredCertificate& found) {
    found.store.handle = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                       CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG,
                                       u"My");
    ASSERT_NE(found.store.handle, nullptr);
    while ((found.context = CertEnumCertificatesInStore(found.store.handle, found.context)) !=
           nullptr) {
        if (Bytes(found.context->pbCertEncoded,
                  found.context->pbCertEncoded + found.context->cbCertEncoded) == certificate)
            return;
    }
    FAIL() << "the certificate is not in My";
}

// A hash of `algorithm` over the message (or set to `value`) and its signature as the provider
// wrote it.
void signMessage(HCRYPTPROV provider, ALG_ID algorithm, DWORD keySpec, HashGuard& hash,
                 Bytes& signature, const Bytes* value = nullptr) {
    ASSERT_TRUE(CryptCreateHash(provider, algorithm, 0, 0, &hash.handle)) << std::hex << GetLastError();
    ASSERT_TRUE(value != nullptr
                    ? CryptSetHashParam(hash.handle, HP_HASHVAL, value->data(), 0)
                    : CryptHashData(hash.handle, kMessage.data(), static_cast<DWORD>(kMessage.size()), 0));
    DWORD size = 0;
    ASSERT_TRUE(CryptSignHashA(hash.handle, keySpec, nullptr, 0, nullptr, &size));
    signature.resize(size);
    ASSERT_TRUE(CryptSignHashA(hash.handle, keySpec, nullptr, 0, signature.data(), &size));
}

void importKeyOf(HCRYPTPROV provider, const StoredCertificate& certificate, KeyGuard& key) {
    SetLastError(kUnsetError);
    ASSERT_TRUE(CryptImportPublicKeyInfo(provider, X509_ASN_ENCODING,
                                         &certificate.context->pCertInfo->SubjectPublicKeyInfo,
                                         &key.handle))
        << std::hex << GetLastError();
}

void expectRefused(HCRYPTHASH hash, const Bytes& signature, HCRYPTKEY key, DWORD error) {
    SetLastError(kUnsetError);
    EXPECT_FALSE(CryptVerifySignatureA(hash, signature.data(), static_cast<DWORD>(signature.size()),
                                       key, nullptr, 0));
    EXPECT_EQ(GetLastError(), error);
}

using PublicKeyVerification = ConformanceTest;

TEST_F(PublicKeyVerification, SignatureVerifiesWithTheCertificatesKeyAndNoOtherDoes) {
    IdentityRequest request;
    request.key = FixtureKey::Rsa1024;
    TestIdentity identity = fixture_->createIdentity(request);
    TestIdentity other = fixture_->createIdentity(request);
    StoredCertificate certificate;
    StoredCertificate otherCertificate;
    findInMy(identity.certificate, certificate);
    findInMy(other.certificate, otherCertificate);
    ProviderGuard provider;
    acquireIdentity(identity, provider);

    for (ALG_ID algorithm : {CALG_SHA1, CALG_SHA_256, CALG_SSL3_SHAMD5}) {
        SCOPED_TRACE(algorithm);
        const Bytes value(36, 0x5c);
        HashGuard hash;
        Bytes signature;
        signMessage(provider.handle, algorithm, AT_KEYEXCHANGE, hash, signature,
                    algorithm == CALG_SSL3_SHAMD5 ? &value : nullptr);
        KeyGuard key;
        importKeyOf(provider.handle, certificate, key);
        EXPECT_TRUE(CryptVerifySignatureA(hash.handle, signature.data(),
                                          static_cast<DWORD>(signature.size()), key.handle, nullptr, 0))
            << std::hex << GetLastError();

        Bytes tampered = signature;
        tampered[tampered.size() / 2] ^= 0x08;
        expectRefused(hash.handle, tampered, key.handle, static_cast<DWORD>(NTE_BAD_SIGNATURE));
        expectRefused(hash.handle, Bytes(signature.begin(), signature.end() - 1), key.handle,
                      static_cast<DWORD>(NTE_BAD_SIGNATURE));
        KeyGuard otherKey;
        importKeyOf(provider.handle, otherCertificate, otherKey);
        expectRefused(hash.handle, signature, otherKey.handle, static_cast<DWORD>(NTE_BAD_SIGNATURE));
    }
}

TEST_F(PublicKeyVerification, DssSignatureVerifiesWithTheCertificatesKey) {
    IdentityRequest request;
    request.key = FixtureKey::Dsa1024;
    request.keySpec = AT_SIGNATURE;
    request.provider = kDssDhProvider;
    if (std::string why = fixture_->unsupportedReason(request); !why.empty()) GTEST_SKIP() << why;
    TestIdentity identity = fixture_->createIdentity(request);
    StoredCertificate certificate;
    findInMy(identity.certificate, certificate);
    ProviderGuard provider;
    acquireIdentity(identity, provider);
    HashGuard hash;
    Bytes signature;
    signMessage(provider.handle, CALG_SHA1, AT_SIGNATURE, hash, signature);
    KeyGuard key;
    importKeyOf(provider.handle, certificate, key);
    EXPECT_TRUE(CryptVerifySignatureA(hash.handle, signature.data(),
                                      static_cast<DWORD>(signature.size()), key.handle, nullptr, 0))
        << std::hex << GetLastError();
    signature[0] ^= 0x01;
    expectRefused(hash.handle, signature, key.handle, static_cast<DWORD>(NTE_BAD_SIGNATURE));

    // An RSA provider holds no DSS key.
    ProviderGuard rsa;
    ASSERT_TRUE(CryptAcquireContextA(&rsa.handle, nullptr, kAesProvider, PROV_RSA_AES,
                                     CRYPT_VERIFYCONTEXT));
    KeyGuard refused;
    SetLastError(kUnsetError);
    EXPECT_FALSE(CryptImportPublicKeyInfo(rsa.handle, X509_ASN_ENCODING,
                                          &certificate.context->pCertInfo->SubjectPublicKeyInfo,
                                          &refused.handle));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_ALGID));
}

}  // namespace
