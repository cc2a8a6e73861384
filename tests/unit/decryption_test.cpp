// Decryption: PKCS #1 v1.5 and OAEP ciphertexts made by OpenSSL, every failure point with its
// status and log lines, and every acquisition released.
#include <random>

#include "keyops/handles.h"
#include "unit/keyops_test_support.h"

using namespace diagnostics;
using namespace keyops;

namespace {

const Bytes kSecret = {'p', 'l', 'a', 'i', 'n', ' ', 't', 'e', 'x', 't'};

// The first `count` lines of a good decryption up to its key, then `rest`.
std::vector<std::string> firstLinesThen(size_t count, const std::vector<std::string>& rest) {
    return ::firstLinesThen(kDecryptionUpToKey, count, rest);
}

using DecryptionFailures = DecryptionTest;

class Decryption : public DecryptionTest {
protected:
    // An OAEP ciphertext that PKCS #1 v1.5 unpadding refuses, as nearly all are.
    Bytes oaepCipherTextRefusedAsPkcs1(const TestIdentity& identity) {
        Bytes cipherText;
        do {
            cipherText = fixture_->encryptFor(identity.certificate, kSecret, true);
        } while (acceptedAsPkcs1(identity, cipherText));
        return cipherText;
    }

    // An OAEP ciphertext whose block passes the PKCS #1 v1.5 check too (its second byte is 2 and
    // a zero follows eight non-zero ones), found by trying: about one in seven hundred does.
    Bytes oaepCipherTextAcceptedAsPkcs1(const TestIdentity& identity) {
        for (int attempt = 0; attempt < 50000; ++attempt) {
            Bytes cipherText = fixture_->encryptFor(identity.certificate, kSecret, true);
            if (acceptedAsPkcs1(identity, cipherText)) return cipherText;
        }
        ADD_FAILURE() << "no OAEP ciphertext passed the PKCS #1 v1.5 check";
        return {};
    }

private:
    // Asks the provider itself, outside the code under test.
    bool acceptedAsPkcs1(const TestIdentity& identity, const Bytes& cipherText) {
        const CryptoPlatform& platform = cryptoPlatform();
        if (!probe_.valid()) {
            EXPECT_TRUE(platform.CryptAcquireContextA(probeProvider_.put(),
                                                      identity.container.c_str(),
                                                      identity.provider.c_str(),
                                                      identity.providerType, 0));
            EXPECT_TRUE(platform.CryptGetUserKey(probeProvider_.get(), AT_KEYEXCHANGE, probe_.put()));
        }
        Bytes buffer(cipherText.rbegin(), cipherText.rend());
        DWORD length = static_cast<DWORD>(buffer.size());
        return platform.CryptDecrypt(probe_.get(), 0, TRUE, 0, buffer.data(), &length) != FALSE;
    }

    ScopedProvider probeProvider_;
    ScopedKey probe_;
};

TEST_F(Decryption, Pkcs1CipherTextDecryptsAndLogsEveryStep) {
    TestIdentity identity = makeIdentity();
    FaultInjectingPlatform platform;
    ASSERT_EQ(decrypt(identity.certificate, fixture_->encryptFor(identity.certificate, kSecret, false)), 0);
    EXPECT_EQ(plainText_, kSecret);
    EXPECT_EQ(lastStatus(), kStatusSuccess);
    EXPECT_EQ(log(), (std::vector<std::string>{
                         "########## Decrypt ##########", "CertOpenStore success", "Certificate found",
                         "CertGetCertificateContextProperty# success",
                         "CertGetCertificateContextProperty success", "CryptAcquireContext success",
                         "CryptGetUserKey success", "CryptDecrypt success",
                         "CryptReleaseContext success", "Decrypt finished"}));
    EXPECT_EQ(providerError(), kUntouchedProviderError);
    EXPECT_ALL_RELEASED(platform);
}

TEST_F(Decryption, OaepCipherTextDecryptsOnTheSecondAttempt) {
    TestIdentity identity = makeIdentity();
    Bytes cipherText = oaepCipherTextRefusedAsPkcs1(identity);
    FaultInjectingPlatform platform;
    ASSERT_EQ(decrypt(identity.certificate, cipherText), 0) << lastStatus();
    EXPECT_EQ(plainText_, kSecret);
    EXPECT_EQ(log(), firstLinesThen(7, {withError("CryptDecrypt error: %x => Test with CRYPT_OAEP",
                                             static_cast<unsigned>(NTE_BAD_DATA)),
                                        "CryptDecrypt success", "", "CryptReleaseContext success",
                                        "Decrypt finished"}));
    EXPECT_ALL_RELEASED(platform);
}

// PKCS #1 v1.5 accepts the block first; OAEP, tried on the same ciphertext, accepts it too, so it
// is OAEP: its plaintext comes back, and the log narrates both calls.
TEST_F(Decryption, OaepBlockThatPassesThePkcs1CheckIsDecryptedAsOaep) {
    TestIdentity identity = makeIdentity();
    Bytes cipherText = oaepCipherTextAcceptedAsPkcs1(identity);
    FaultInjectingPlatform platform;
    ASSERT_EQ(decrypt(identity.certificate, cipherText), 0) << lastStatus();
    EXPECT_EQ(plainText_, kSecret);
    EXPECT_EQ(platform.calls(PlatformOp::CryptDecrypt), 2);
    EXPECT_EQ(log(), (std::vector<std::string>{
                         "########## Decrypt ##########", "CertOpenStore success", "Certificate found",
                         "CertGetCertificateContextProperty# success",
                         "CertGetCertificateContextProperty success", "CryptAcquireContext success",
                         "CryptGetUserKey success", "CryptDecrypt success", "CryptDecrypt success", "",
                         "CryptReleaseContext success", "Decrypt finished"}));
    EXPECT_ALL_RELEASED(platform);
}

// Ciphertexts made by the platform's own encryption (OpenSSL here, CryptEncrypt under Windows),
// of random messages of every length: not one comes back wrong.
TEST_F(Decryption, ThousandsOfCipherTextsOfEitherPaddingDecryptToTheirMessages) {
    TestIdentity identity = makeIdentity();
    const int kPerPadding = 1000;
    std::mt19937 random(20261209);
    int wrong = 0;
    for (bool oaep : {true, false}) {
        for (int i = 0; i < kPerPadding; ++i) {
            // OAEP with SHA-1 leaves room for 86 bytes in a 1024-bit block, PKCS #1 v1.5 for 117.
            Bytes message(random() % (oaep ? 87 : 118));
            for (BYTE& byte : message) byte = static_cast<BYTE>(random());
            Bytes cipherText = fixture_->encryptFor(identity.certificate, message, oaep);
            if (decrypt(identity.certificate, cipherText) != 0 || plainText_ != message) ++wrong;
        }
    }
    EXPECT_EQ(wrong, 0) << "of " << 2 * kPerPadding;
}

TEST_F(Decryption, EmptyPlainTextIsASuccess) {
    TestIdentity identity = makeIdentity();
    ASSERT_EQ(decrypt(identity.certificate, fixture_->encryptFor(identity.certificate, {}, false)), 0);
    EXPECT_TRUE(plainText_.empty());
    EXPECT_EQ(lastStatus(), kStatusSuccess);
}

TEST_F(Decryption, LegacyProviderIsUsedAsNamed) {
    IdentityRequest request = smallKey();
    request.provider = "Microsoft Strong Cryptographic Provider";
    TestIdentity identity = makeIdentity(request);
    ASSERT_EQ(decrypt(identity.certificate, fixture_->encryptFor(identity.certificate, kSecret, false)), 0);
    EXPECT_EQ(plainText_, kSecret);
    for (const std::string& line : log()) EXPECT_EQ(line.find("New provider"), std::string::npos);
}

TEST_F(DecryptionFailures, EachFailurePointRecordsItsStatusAndLogsItsLines) {
    TestIdentity identity = makeIdentity();
    Bytes cipherText = fixture_->encryptFor(identity.certificate, kSecret, false);
    const std::string finished = "Decrypt finished";
    const std::string released = "CryptReleaseContext success";
    struct FailurePoint {
        const char* label;
        PlatformOp op;
        int nth;
        uint32_t status;
        const char* step;
        std::vector<std::string> log;
    };
    const FailurePoint points[] = {
        {"store", PlatformOp::CertOpenStore, 1, kStatusStoreNotOpened, "CertOpenStore",
         {kDecryptionUpToKey[0], withError("CertOpenStore error: %x"), finished}},
        {"property size", PlatformOp::CertGetCertificateContextProperty, 1,
         kStatusKeyProvInfoSizeUnknown, "CertGetCertificateContextProperty",
         firstLinesThen(3, {withError("CertGetCertificateContextProperty# error: %x"), finished})},
        {"property", PlatformOp::CertGetCertificateContextProperty, 2, kStatusKeyProvInfoUnreadable,
         "CertGetCertificateContextProperty",
         firstLinesThen(4, {withError("CertGetCertificateContextProperty error: %x"), finished})},
        {"acquisition", PlatformOp::CryptAcquireContextA, 1, kStatusKeyProvInfoUnreadable,
         "CryptAcquireContextA",
         firstLinesThen(5, {withError("CryptAcquireContext error: %x"), finished})},
        {"key", PlatformOp::CryptGetUserKey, 1, kStatusNoExchangeKey, "CryptGetUserKey",
         firstLinesThen(6, {withError("CryptGetUserKey (AT_KEYEXCHANGE) error: %x"), released, finished})},
        {"release", PlatformOp::CryptReleaseContext, 1, kStatusContextNotReleased,
         "CryptReleaseContext",
         firstLinesThen(7, {"CryptDecrypt success", finished})},
    };
    for (const FailurePoint& point : points) {
        SCOPED_TRACE(point.label);
        FaultInjectingPlatform platform;
        platform.failCall(point.op, point.nth, kInjected);
        EXPECT_EQ(decrypt(identity.certificate, cipherText), -1);
        EXPECT_TRUE(plainText_.empty());
        EXPECT_EQ(lastStatus(), point.status);
        // The call's own outcome names the step and carries its Windows error.
        EXPECT_EQ(outcome_.code(), point.status);
        EXPECT_STREQ(outcome_.step(), point.step);
        EXPECT_EQ(outcome_.windowsError(), kInjected);
        EXPECT_EQ(log(), point.log);
        EXPECT_EQ(providerError(), kUntouchedProviderError);
        EXPECT_ALL_RELEASED(platform);
    }
}

TEST_F(DecryptionFailures, BothPaddingsRefusedIsStatus22) {
    TestIdentity identity = makeIdentity();
    FaultInjectingPlatform platform;
    platform.failCall(PlatformOp::CryptDecrypt, 1, kInjected);
    platform.failCall(PlatformOp::CryptDecrypt, 2, 0x80090005);
    EXPECT_EQ(decrypt(identity.certificate, fixture_->encryptFor(identity.certificate, kSecret, false)), -1);
    EXPECT_EQ(lastStatus(), kStatusDecryptionFailed);
    EXPECT_EQ(log(), firstLinesThen(7, {withError("CryptDecrypt error: %x => Test with CRYPT_OAEP"),
                                        withError("CryptDecrypt error: %x", 0x80090005),
                                        "CryptReleaseContext success", "Decrypt finished"}));
    EXPECT_ALL_RELEASED(platform);
}

TEST_F(DecryptionFailures, SignatureOnlyContainerHasNoExchangeKey) {
    IdentityRequest request = smallKey();
    request.keySpec = AT_SIGNATURE;
    TestIdentity identity = makeIdentity(request);
    FaultInjectingPlatform platform;
    EXPECT_EQ(decrypt(identity.certificate, fixture_->encryptFor(identity.certificate, kSecret, false)), -1);
    EXPECT_EQ(lastStatus(), kStatusNoExchangeKey);
    EXPECT_ALL_RELEASED(platform);
}

TEST_F(DecryptionFailures, EmptyCipherTextReachesTheProviderAndIsRefused) {
    TestIdentity identity = makeIdentity();
    FaultInjectingPlatform platform;
    EXPECT_EQ(decrypt(identity.certificate, {}), -1);
    EXPECT_EQ(platform.calls(PlatformOp::CryptDecrypt), 2);
    EXPECT_EQ(lastStatus(), kStatusDecryptionFailed);
    EXPECT_ALL_RELEASED(platform);
}

TEST_F(DecryptionFailures, EveryPlatformCallFailingInTurnReleasesEverything) {
    TestIdentity identity = makeIdentity();
    Bytes cipherText = fixture_->encryptFor(identity.certificate, kSecret, false);
    int calls = 0;
    {
        FaultInjectingPlatform platform;
        ASSERT_EQ(decrypt(identity.certificate, cipherText), 0);
        calls = platform.failableCalls();
    }
    for (int nth = 1; nth <= calls; ++nth) {
        SCOPED_TRACE(nth);
        FaultInjectingPlatform platform;
        platform.failOverallCall(nth, kInjected);
        int result = decrypt(identity.certificate, cipherText);
        EXPECT_EQ(result == 0, lastStatus() == kStatusSuccess);
        if (result == 0) {
            EXPECT_EQ(plainText_, kSecret);
        }
        EXPECT_EQ(log().back(), "Decrypt finished");
        EXPECT_ALL_RELEASED(platform);
    }
}

}  // namespace
