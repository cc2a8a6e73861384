// Signing and decryption through CNG: a key storage provider's keys and a CSP's key seen through
// CNG, each step's failure with its status and its lines, every handle and CNG object released;
// and the ten natives' own signing and decryption, which know no CNG, failing on such a key.
#include <algorithm>

#include "keyops/cng_operations.h"
#include "support/openssl_check.h"
#include "unit/keyops_test_support.h"

using namespace diagnostics;
using namespace keyops;

namespace {

const Bytes kSecret = {'c', 'n', 'g', ' ', 's', 'e', 'c', 'r', 'e', 't'};

IdentityRequest keyStorageKey(FixtureKey key) {
    IdentityRequest request;
    request.key = key;
    request.provider = kKeyStorageProvider;
    request.keySpec = 0;
    return request;
}

const CngPadding kEcdsa = {0, CALG_SHA_256, 0};
const CngPadding kPss = {BCRYPT_PAD_PSS, CALG_SHA_256, 32};

class CngOperations : public KeyopsTest {
protected:
    // The identity, or false when this platform's fixture cannot make it (the test then skips).
    bool make(const IdentityRequest& request, TestIdentity& identity) {
        std::string reason = fixture_->unsupportedReason(request);
        if (!reason.empty()) {
            skipReason_ = reason;
            return false;
        }
        identity = makeIdentity(request);
        return true;
    }

    bool sign(const TestIdentity& identity, const CngPadding& padding, const char* pin = nullptr) {
        forgetLog();
        hash_ = opensslDigest(padding.hashAlgorithm, kData);
        CallContext context;
        bool ok = signThroughCng(context, identity.certificate.data(),
                                 static_cast<DWORD>(identity.certificate.size()), padding,
                                 hash_.data(), static_cast<DWORD>(hash_.size()), signature_, pin);
        outcome_ = context.outcome;
        return ok;
    }

    bool decrypt(const TestIdentity& identity, const Bytes& cipherText, const CngPadding& padding) {
        forgetLog();
        CallContext context;
        common::SecureBytes plainText;
        bool ok = decryptThroughCng(context, identity.certificate.data(),
                                    static_cast<DWORD>(identity.certificate.size()), padding,
                                    cipherText.data(), static_cast<DWORD>(cipherText.size()),
                                    plainText, nullptr);
        outcome_ = context.outcome;
        plainText_.assign(plainText.data(), plainText.data() + plainText.size());
        return ok;
    }

    bool verifies(const TestIdentity& identity, const CngPadding& padding) {
        return opensslVerifiesCng(identity.certificate, padding.hashAlgorithm, hash_, signature_,
                                  padding.scheme, padding.saltLength);
    }

    std::string skipReason_;
    Bytes hash_;
    Bytes signature_;
    Bytes plainText_;
};

TEST_F(CngOperations, EcdsaWithAKeyStorageProvidersKeyLogsEveryStep) {
    TestIdentity identity;
    if (!make(keyStorageKey(FixtureKey::EcP256), identity)) GTEST_SKIP() << skipReason_;
    ASSERT_TRUE(sign(identity, kEcdsa)) << outcome_.code();
    EXPECT_EQ(signature_.size(), 64u);
    EXPECT_TRUE(verifies(identity, kEcdsa));
    EXPECT_EQ(log(), (std::vector<std::string>{
                         "########## Sign (CNG) ##########", "CertOpenStore success",
                         "Certificate found.", "CertGetCertificateContextProperty# success",
                         "CertGetCertificateContextProperty success",
                         "CryptAcquireCertificatePrivateKey success",
                         "NCryptGetProperty (Algorithm Group) success", "NCryptSignHash success",
                         "NCryptFreeObject success", "Sign (CNG) finished"}));
}

TEST_F(CngOperations, RsaOfTheKeyStorageProviderSignsPkcs1AndPssAndDecrypts) {
    TestIdentity identity;
    if (!make(keyStorageKey(FixtureKey::Rsa2048), identity)) GTEST_SKIP() << skipReason_;
    for (CngPadding padding : {CngPadding{BCRYPT_PAD_PKCS1, CALG_SHA_256, 0}, kPss,
                               CngPadding{BCRYPT_PAD_PSS, CALG_SHA_512, 0}}) {
        ASSERT_TRUE(sign(identity, padding)) << outcome_.code();
        EXPECT_TRUE(verifies(identity, padding)) << padding.scheme;
    }
    for (bool oaep : {false, true}) {
        CngPadding padding = {oaep ? static_cast<DWORD>(BCRYPT_PAD_OAEP) : BCRYPT_PAD_PKCS1,
                              CALG_SHA1, 0};
        ASSERT_TRUE(decrypt(identity, fixture_->encryptFor(identity.certificate, kSecret, oaep),
                            padding))
            << outcome_.code();
        EXPECT_EQ(plainText_, kSecret);
    }
}

// A CSP's key is used through CNG's view of it, and let go with its context.
TEST_F(CngOperations, CspKeySignsPssThroughItsCngView) {
    TestIdentity identity = makeIdentity({});
    ASSERT_TRUE(sign(identity, kPss)) << outcome_.code();
    EXPECT_TRUE(verifies(identity, kPss));
    std::vector<std::string> lines = log();
    ASSERT_GE(lines.size(), 10u);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 5, lines.end()),
              (std::vector<std::string>{"CryptAcquireCertificatePrivateKey success",
                                        "NCryptTranslateHandle success",
                                        "NCryptGetProperty (Algorithm Group) success",
                                        "NCryptSignHash success", "NCryptFreeObject success",
                                        "NCryptFreeObject success", "CryptReleaseContext success",
                                        "Sign (CNG) finished"}));
}

TEST_F(CngOperations, KeyOfTheWrongGroupIsRefusedBeforeItSigns) {
    TestIdentity ec;
    if (!make(keyStorageKey(FixtureKey::EcP256), ec)) GTEST_SKIP() << skipReason_;
    EXPECT_FALSE(sign(ec, kPss));
    EXPECT_EQ(outcome_.code(), kStatusNoCngKey);
    EXPECT_EQ(outcome_.windowsError(), static_cast<DWORD>(NTE_BAD_KEY));
    TestIdentity rsa = makeIdentity({});
    EXPECT_FALSE(sign(rsa, kEcdsa));
    EXPECT_EQ(outcome_.code(), kStatusNoCngKey);
    EXPECT_TRUE(signature_.empty());
}

// Each CryptoAPI and CNG call failing in turn: a failure with a status, the closing line, and
// every context, certificate, store and CNG object given back.
TEST_F(CngOperations, EveryCallFailingInTurnReleasesEverything) {
    TestIdentity ec;
    if (!make(keyStorageKey(FixtureKey::EcP384), ec)) GTEST_SKIP() << skipReason_;
    TestIdentity csp = makeIdentity({});
    for (const TestIdentity* identity : {&ec, &csp}) {
        const CngPadding& padding = identity == &ec ? kEcdsa : kPss;
        int calls = 0;
        {
            FaultInjectingPlatform platform;
            ASSERT_TRUE(sign(*identity, padding));
            calls = platform.failableCalls();
        }
        for (int nth = 1; nth <= calls; ++nth) {
            SCOPED_TRACE(nth);
            FaultInjectingPlatform platform;
            platform.failOverallCall(nth, kInjected);
            bool ok = sign(*identity, padding);
            EXPECT_EQ(ok, outcome_.succeeded());
            EXPECT_EQ(ok, !signature_.empty());
            if (ok) {
                EXPECT_TRUE(verifies(*identity, padding));
            }
            EXPECT_EQ(log().back(), "Sign (CNG) finished");
            EXPECT_ALL_RELEASED(platform);
        }
    }
}

TEST_F(CngOperations, EachStepsFailureHasItsStatus) {
    TestIdentity csp = makeIdentity({});
    // The check against the certificate is one step, its key's import included.
    const struct {
        PlatformOp op;
        uint32_t status;
        const char* step;
    } points[] = {
        {PlatformOp::CryptAcquireCertificatePrivateKey, kStatusNoKeyContainer,
         "CryptAcquireCertificatePrivateKey"},
        {PlatformOp::NCryptTranslateHandle, kStatusNoCngKey, "NCryptTranslateHandle"},
        {PlatformOp::NCryptGetProperty, kStatusNoCngKey, "NCryptGetProperty"},
        {PlatformOp::NCryptSignHash, kStatusSignatureFailed, "NCryptSignHash"},
        {PlatformOp::CryptImportPublicKeyInfoEx2, kStatusSignatureFailed, "BCryptVerifySignature"},
        {PlatformOp::BCryptVerifySignature, kStatusSignatureFailed, "BCryptVerifySignature"}};
    for (const auto& point : points) {
        SCOPED_TRACE(platformOpName(point.op));
        FaultInjectingPlatform platform;
        platform.failCall(point.op, 1, kInjected);
        EXPECT_FALSE(sign(csp, kPss));
        EXPECT_TRUE(signature_.empty());
        EXPECT_EQ(outcome_.code(), point.status);
        EXPECT_STREQ(outcome_.step(), point.step);
        EXPECT_EQ(outcome_.windowsError(), kInjected);
        EXPECT_ALL_RELEASED(platform);
    }
}

// A certificate bound to another key's container gets no signature: CNG signs, and the check
// against the certificate refuses what it signed.
TEST_F(CngOperations, SignatureOfAnotherKeyIsNeverHandedOut) {
    TestIdentity holder;
    if (!make(keyStorageKey(FixtureKey::EcP256), holder)) GTEST_SKIP() << skipReason_;
    TestIdentity impostor;
    impostor.certificate = fixture_->createCertificateBoundTo(holder);
    EXPECT_FALSE(sign(impostor, kEcdsa));
    EXPECT_EQ(outcome_.code(), kStatusSignatureFailed);
    EXPECT_STREQ(outcome_.step(), "BCryptVerifySignature");
    EXPECT_TRUE(signature_.empty());
    EXPECT_NE(std::find(log().begin(), log().end(), "NCryptSignHash success"), log().end());
}

// The ten natives open the container with CryptAcquireContextA, which knows no key storage
// provider: a certificate bound to one fails there, with the status each gives that step (6 for
// signing, 10 for decryption), as it always did.
TEST_F(CngOperations, TheTenNativesFailOnAKeyStorageProvidersKey) {
    TestIdentity identity;
    if (!make(keyStorageKey(FixtureKey::EcP256), identity)) GTEST_SKIP() << skipReason_;
    CallContext context;
    std::vector<BYTE> signature;
    EXPECT_FALSE(signWithCertificate(context, identity.certificate.data(),
                                     static_cast<DWORD>(identity.certificate.size()), CALG_SHA_256,
                                     "RSA", kData.data(), static_cast<DWORD>(kData.size()),
                                     signature, nullptr, false));
    EXPECT_EQ(context.outcome.code(), kStatusNoKeyContainer);
    EXPECT_STREQ(context.outcome.step(), "CryptAcquireContextA");
    EXPECT_TRUE(signature.empty());

    TestIdentity rsa;
    ASSERT_TRUE(make(keyStorageKey(FixtureKey::Rsa2048), rsa));
    CallContext decryption;
    common::SecureBytes plainText;
    Bytes cipherText = fixture_->encryptFor(rsa.certificate, kSecret, false);
    EXPECT_FALSE(decryptWithCertificate(decryption, rsa.certificate.data(),
                                        static_cast<DWORD>(rsa.certificate.size()),
                                        cipherText.data(), static_cast<DWORD>(cipherText.size()),
                                        plainText));
    EXPECT_EQ(decryption.outcome.code(), kStatusKeyProvInfoUnreadable);
    EXPECT_STREQ(decryption.outcome.step(), "CryptAcquireContextA");
    EXPECT_EQ(plainText.size(), 0u);
}

}  // namespace
