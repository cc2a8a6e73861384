// Signatures the core makes through the platform's CryptoAPI, checked by the fixture's judge
// against the certificate: for each key specification and digest, and when a PIN is refused. A
// signature by a key that is not the certificate's is never handed out.
#include "unit/keyops_test_support.h"

using namespace diagnostics;

namespace {

// The core gives signatures most significant byte first; the judge takes them as the provider
// wrote them.
Bytes asProviderWroteIt(const Bytes& signature) {
    return Bytes(signature.rbegin(), signature.rend());
}

using SignatureVerification = SigningTest;

TEST_F(SignatureVerification, EachKeySpecificationAndDigestVerifiesAndATamperedOneDoesNot) {
    for (DWORD keySpec : {DWORD{AT_KEYEXCHANGE}, DWORD{AT_SIGNATURE}}) {
        IdentityRequest wanted = smallKey();
        wanted.keySpec = keySpec;
        TestIdentity identity = makeIdentity(wanted);
        for (ALG_ID algorithm : {CALG_SHA1, CALG_SHA_256}) {
            SCOPED_TRACE(testing::Message() << "key spec " << keySpec << ", algorithm " << algorithm);
            SignRequest request;
            request.digestAlgorithm = algorithm;
            ASSERT_EQ(sign(identity.certificate, request), 0) << lastStatus();
            ASSERT_EQ(signature_.size(), 128u);
            Bytes written = asProviderWroteIt(signature_);
            EXPECT_TRUE(fixture_->verifySignature(identity.certificate, algorithm, kData, written));
            written[written.size() / 2] ^= 0x10;
            EXPECT_FALSE(fixture_->verifySignature(identity.certificate, algorithm, kData, written));
        }
    }
}

// Software providers hold no PIN: the refusal is logged and the signing goes on without it.
TEST_F(SignatureVerification, PinTheContainerRefusesStillGivesAValidSignature) {
    TestIdentity identity = makeIdentity();
    int withoutPin = 0;
    {
        FaultInjectingPlatform platform;
        ASSERT_EQ(sign(identity.certificate), 0) << lastStatus();
        withoutPin = platform.calls(PlatformOp::CryptSetProvParam);
    }
    SignRequest request;
    request.pin = "1234";
    FaultInjectingPlatform platform;
    ASSERT_EQ(sign(identity.certificate, request), 0) << lastStatus();
    EXPECT_EQ(platform.calls(PlatformOp::CryptSetProvParam), withoutPin + 1);
    EXPECT_TRUE(fixture_->verifySignature(identity.certificate, CALG_SHA1, kData,
                                          asProviderWroteIt(signature_)));
    std::vector<std::string> lines = log();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "CryptSetProvParam success"), 0);
    EXPECT_ALL_RELEASED(platform);
}

// The certificate's binding names a container that holds another key: its signature must not
// come back as the certificate's.
TEST_F(SignatureVerification, SignatureByAnotherContainersKeyIsRefusedAsStatus11) {
    TestIdentity keyHolder = makeIdentity();
    Bytes certificate = fixture_->createCertificateBoundTo(keyHolder);
    recordProviderError(kUntouchedProviderError);
    FaultInjectingPlatform platform;
    EXPECT_EQ(sign(certificate), -1);
    EXPECT_TRUE(signature_.empty());
    EXPECT_EQ(lastStatus(), kStatusSignatureFailed);
    EXPECT_TRUE(refusesAnotherKeysSignature(providerError())) << std::hex << providerError();
    std::vector<std::string> lines = logWithoutAlgorithms();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 5, lines.end()),
              (std::vector<std::string>{"CryptSignHash success",
                                        withError("CryptVerifySignature error: %x", providerError()),
                                        "CryptDestroyHash success", "CryptRelaseContext success",
                                        "CertCloseStore success"}));
    EXPECT_ALL_RELEASED(platform);
}

// An RSA and a DSS container of one name live in separate namespaces. "RSA" moves a certificate
// of the legacy DSS provider to the AES provider, which opens the RSA twin: its signature is not
// the certificate's, and the DSS key cannot even be imported there.
TEST_F(SignatureVerification, TwinContainerOfTheOtherFamilyIsNeverUsed) {
    IdentityRequest dss;
    dss.key = FixtureKey::Dsa1024;
    dss.keySpec = AT_SIGNATURE;
    dss.provider = "Microsoft Base DSS Cryptographic Provider";
    dss.container = "twin";
    if (std::string why = fixture_->unsupportedReason(dss); !why.empty()) GTEST_SKIP() << why;
    IdentityRequest rsa = smallKey();
    rsa.container = "twin";
    makeIdentity(rsa);
    TestIdentity dssIdentity = makeIdentity(dss);

    FaultInjectingPlatform platform;
    SignRequest request;
    request.keyAlgorithm = "RSA";
    EXPECT_EQ(sign(dssIdentity.certificate, request), -1);
    EXPECT_EQ(lastStatus(), kStatusSignatureFailed);
    EXPECT_EQ(platform.calls(PlatformOp::CryptVerifySignatureA), 0);
    std::vector<std::string> lines = logWithoutAlgorithms();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[lines.size() - 4],
              withError("CryptVerifySignature error: %x", static_cast<unsigned>(NTE_BAD_ALGID)));
    EXPECT_ALL_RELEASED(platform);
}

}  // namespace
