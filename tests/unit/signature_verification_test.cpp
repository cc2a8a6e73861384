// Signatures the core makes through the platform's CryptoAPI, checked by the fixture's judge
// against the certificate: for each key specification and digest, and when a PIN is refused.
#include "unit/keyops_test_support.h"

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

}  // namespace
