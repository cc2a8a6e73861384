// Decryption through the DLL's RSACipher natives: CryptEncrypt's ciphertexts, PKCS #1 v1.5 and
// OAEP, the status after failures, and the empty line an OAEP success leaves in the log.
#include "windows/dll_test.h"

#include <algorithm>

namespace {

const Bytes kSecret = {'p', 'l', 'a', 'i', 'n', ' ', 't', 'e', 'x', 't'};
const char kOaepRetry[] = "CryptDecrypt error: 80090005 => Test with CRYPT_OAEP";

class DllDecryption : public DllTest {
protected:
    // decrypt(certificate, cipherText); false when it returned null.
    bool decrypt(const Bytes& certificate, const Bytes& cipherText, Bytes& plainText) {
        return read(jni_.call(natives().decrypt, javaBytes(certificate), javaBytes(cipherText)), plainText);
    }

    bool forwardedContains(const std::string& message) const {
        return std::find(forwarded().begin(), forwarded().end(), message) != forwarded().end();
    }
};

TEST_F(DllDecryption, Pkcs1CipherTextDecryptsThroughBothEntries) {
    TestIdentity identity = makeIdentity();
    const Bytes cipherText = fixture_->encryptFor(identity.certificate, kSecret, false);
    Bytes plainText;
    ASSERT_TRUE(decrypt(identity.certificate, cipherText, plainText)) << lastError();
    EXPECT_EQ(plainText, kSecret);
    EXPECT_EQ(lastError(), kSuccess);
    const std::vector<std::string> lines = forwarded();
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "########## Decrypt ##########", "CertOpenStore success", "Certificate found",
                         "CertGetCertificateContextProperty# success",
                         "CertGetCertificateContextProperty success", "CryptAcquireContext success",
                         "CryptGetUserKey success", "CryptDecrypt success",
                         "CryptReleaseContext success", "Decrypt finished"}));
    expectLogFileHolds(profile_.readLog(), lines);

    // The password plays no part in a decryption.
    forgetLog();
    ASSERT_TRUE(read(jni_.call(natives().decryptWithPassword, javaBytes(identity.certificate),
                               javaBytes(cipherText), javaBytes({'p', 'w'})),
                     plainText));
    EXPECT_EQ(plainText, kSecret);
    EXPECT_EQ(forwarded(), lines);
}

TEST_F(DllDecryption, OaepCipherTextRefusedAsPkcs1DecryptsOnTheRetryAndLeavesAnEmptyLine) {
    TestIdentity identity = makeIdentity();
    // About one OAEP ciphertext in a few hundred also unpads as PKCS #1 v1.5 (into garbage);
    // only one the first attempt refuses shows the retry.
    bool retried = false;
    Bytes plainText;
    for (int attempt = 0; attempt < 16 && !retried; ++attempt) {
        forgetLog();
        const bool decrypted =
            decrypt(identity.certificate, fixture_->encryptFor(identity.certificate, kSecret, true), plainText);
        retried = forwardedContains(kOaepRetry);
        if (retried) {
            ASSERT_TRUE(decrypted) << lastError();
        }
    }
    ASSERT_TRUE(retried) << "no OAEP ciphertext was refused as PKCS #1 v1.5";
    EXPECT_EQ(plainText, kSecret);
    EXPECT_EQ(lastError(), kSuccess);
    EXPECT_TRUE(forwardedContains("CryptDecrypt success\n"));
    expectLogFileHolds(profile_.readLog(), forwarded());
    EXPECT_NE(profile_.readLog().find(" - CryptDecrypt success\r\n\r\n"), std::string::npos);
}

TEST_F(DllDecryption, EmptyPlainTextComesBackAsAnEmptyArray) {
    TestIdentity identity = makeIdentity();
    Bytes plainText = {'x'};
    ASSERT_TRUE(decrypt(identity.certificate, fixture_->encryptFor(identity.certificate, {}, false), plainText));
    EXPECT_TRUE(plainText.empty());
    EXPECT_EQ(lastError(), kSuccess);
}

TEST_F(DllDecryption, FailuresReturnNullWithTheirStatus) {
    TestIdentity identity = makeIdentity();
    Bytes plainText;
    // Zero is no padding of either kind.
    EXPECT_FALSE(decrypt(identity.certificate, Bytes(128, 0), plainText));
    EXPECT_EQ(lastError(), kDecryptionFailed);
    EXPECT_TRUE(forwardedContains(kOaepRetry));
    expectLogFileHolds(profile_.readLog(), forwarded());

    const Bytes stranger = fixture_->createCertificate("Not in My");
    EXPECT_FALSE(decrypt(stranger, fixture_->encryptFor(stranger, kSecret, false), plainText));
    EXPECT_EQ(lastError(), kCertificateNotFound);
}

}  // namespace
