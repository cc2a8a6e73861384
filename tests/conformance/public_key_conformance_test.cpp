// Checking a signature with a certificate's public key, as the library does before it hands one
// out: the key imported from the certificate's context in "My", the signature verified over the
// hash it was made from.
#include "conformance/conformance_test.h"

namespace {

const Bytes kMessage = {'c', 'h', 'e', 'c', 'k', ' ', 'm', 'e'};

// A hash of `algorithm` over the message (or set to `value`) and its signature as the provider
// wrote it.
void signMessage(HCRYPTPROV provider, ALG_ID algorithm, DWORD keySpec, ScopedHash& hash,
                 Bytes& signature, const Bytes* value = nullptr) {
    ASSERT_TRUE(CryptCreateHash(provider, algorithm, 0, 0, hash.put())) << std::hex << GetLastError();
    ASSERT_TRUE(value != nullptr
                    ? CryptSetHashParam(hash.get(), HP_HASHVAL, value->data(), 0)
                    : CryptHashData(hash.get(), kMessage.data(), static_cast<DWORD>(kMessage.size()), 0));
    DWORD size = 0;
    ASSERT_TRUE(CryptSignHashA(hash.get(), keySpec, nullptr, 0, nullptr, &size));
    signature.resize(size);
    ASSERT_TRUE(CryptSignHashA(hash.get(), keySpec, nullptr, 0, signature.data(), &size));
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
    ScopedProvider provider;
    acquireIdentity(identity, provider);

    for (ALG_ID algorithm : {CALG_SHA1, CALG_SHA_256, CALG_SSL3_SHAMD5}) {
        SCOPED_TRACE(algorithm);
        const Bytes value(36, 0x5c);
        ScopedHash hash;
        Bytes signature;
        signMessage(provider.get(), algorithm, AT_KEYEXCHANGE, hash, signature,
                    algorithm == CALG_SSL3_SHAMD5 ? &value : nullptr);
        ScopedKey key;
        importKeyOf(provider.get(), certificate, key);
        EXPECT_TRUE(CryptVerifySignatureA(hash.get(), signature.data(),
                                          static_cast<DWORD>(signature.size()), key.get(), nullptr, 0))
            << std::hex << GetLastError();

        Bytes tampered = signature;
        tampered[tampered.size() / 2] ^= 0x08;
        expectRefused(hash.get(), tampered, key.get(), static_cast<DWORD>(NTE_BAD_SIGNATURE));
        expectRefused(hash.get(), Bytes(signature.begin(), signature.end() - 1), key.get(),
                      static_cast<DWORD>(NTE_BAD_SIGNATURE));
        ScopedKey otherKey;
        importKeyOf(provider.get(), otherCertificate, otherKey);
        SetLastError(kUnsetError);
        EXPECT_FALSE(CryptVerifySignatureA(hash.get(), signature.data(),
                                           static_cast<DWORD>(signature.size()), otherKey.get(),
                                           nullptr, 0));
        EXPECT_TRUE(refusesAnotherKeysSignature(GetLastError())) << std::hex << GetLastError();
    }
}

TEST_F(PublicKeyVerification, DssSignatureVerifiesWithTheCertificatesKey) {
    IdentityRequest request = dssSignatureKey();
    if (std::string why = fixture_->unsupportedReason(request); !why.empty()) GTEST_SKIP() << why;
    TestIdentity identity = fixture_->createIdentity(request);
    StoredCertificate certificate;
    findInMy(identity.certificate, certificate);
    ScopedProvider provider;
    acquireIdentity(identity, provider);
    ScopedHash hash;
    Bytes signature;
    signMessage(provider.get(), CALG_SHA1, AT_SIGNATURE, hash, signature);
    ScopedKey key;
    importKeyOf(provider.get(), certificate, key);
    EXPECT_TRUE(CryptVerifySignatureA(hash.get(), signature.data(),
                                      static_cast<DWORD>(signature.size()), key.get(), nullptr, 0))
        << std::hex << GetLastError();
    signature[0] ^= 0x01;
    expectRefused(hash.get(), signature, key.get(), static_cast<DWORD>(NTE_BAD_SIGNATURE));

    // An RSA provider holds no DSS key.
    ScopedProvider rsa;
    ASSERT_TRUE(CryptAcquireContextA(rsa.put(), nullptr, kAesProvider, PROV_RSA_AES,
                                     CRYPT_VERIFYCONTEXT));
    ScopedKey refused;
    SetLastError(kUnsetError);
    EXPECT_FALSE(CryptImportPublicKeyInfo(rsa.get(), X509_ASN_ENCODING,
                                          &certificate.context.get()->pCertInfo->SubjectPublicKeyInfo,
                                          refused.put()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_ALGID));
}

}  // namespace
