// Signing through the DLL's BrowserSignature natives: signatures the certificate verifies, the
// status words after successes and failures, and the log as file and as logJNI calls.
#include "windows/dll_test.h"

#include <algorithm>

namespace {

const Bytes kData = {'d', 'a', 't', 'a', ' ', 't', 'o', ' ', 's', 'i', 'g', 'n'};
// The digests of kData, for signing a hash value the caller computed.
const Bytes kDataSha1 = {0xd3, 0x2c, 0x2c, 0xe0, 0x5d, 0xd7, 0x7b, 0xef, 0x36, 0x87,
                         0xb4, 0x0d, 0x36, 0x15, 0x32, 0xfd, 0x40, 0x30, 0x71, 0x6d};
const Bytes kDataSha256 = {0x15, 0x71, 0x92, 0xb2, 0x76, 0xda, 0x23, 0xcc, 0x84, 0xab, 0x07,
                           0x8f, 0xc8, 0x75, 0x5c, 0x05, 0x1c, 0x5f, 0x04, 0x30, 0xbf, 0x48,
                           0x02, 0xe5, 0x57, 0x18, 0x22, 0x1e, 0x6b, 0x76, 0xc7, 0x77};

class DllSigning : public DllTest {
protected:
    // sign(digest, "RSA", certificate, data); false when it returned null.
    bool sign(ALG_ID digest, const Bytes& certificate, Bytes& signature, const char* keyAlgorithm = "RSA") {
        return read(jni_.call(natives().sign, static_cast<jint>(digest), jni_.newString(keyAlgorithm),
                              javaBytes(certificate), javaBytes(kData)),
                    signature);
    }

    // signDataWithPassword with a password (none for a null array) and the data-is-a-hash flag.
    bool signDataWithPassword(ALG_ID digest, const Bytes& certificate, const Bytes& data,
                              jbyteArray password, bool dataIsHash, Bytes& signature) {
        return read(jni_.call(natives().signDataWithPassword, static_cast<jint>(digest),
                              jni_.newString("RSA"), javaBytes(certificate), javaBytes(data), password,
                              dataIsHash ? JNI_TRUE : JNI_FALSE),
                    signature);
    }
};

TEST_F(DllSigning, EachEntryGivesTheSameSignatureAndTheCertificateVerifiesIt) {
    TestIdentity identity = makeIdentity();
    const struct {
        ALG_ID digest;
        const Bytes& hashValue;
    } kDigests[] = {{CALG_SHA1, kDataSha1}, {CALG_SHA_256, kDataSha256}};
    for (const auto& digest : kDigests) {
        SCOPED_TRACE(digest.digest);
        Bytes signature;
        ASSERT_TRUE(sign(digest.digest, identity.certificate, signature)) << lastError();
        EXPECT_EQ(lastError(), kSuccess);
        ASSERT_EQ(signature.size(), 128u);
        EXPECT_TRUE(verifies(*fixture_, identity.certificate, digest.digest, kData, signature));
        Bytes tampered = signature;
        tampered[5] ^= 0x01;
        EXPECT_FALSE(verifies(*fixture_, identity.certificate, digest.digest, kData, tampered));

        // PKCS #1 v1.5 is deterministic: every way of asking gives the same bytes.
        Bytes again;
        ASSERT_TRUE(read(jni_.call(natives().signWithPassword, static_cast<jint>(digest.digest),
                                   jni_.newString("RSA"), javaBytes(identity.certificate),
                                   javaBytes(kData)),
                         again));
        EXPECT_EQ(again, signature);
        ASSERT_TRUE(signDataWithPassword(digest.digest, identity.certificate, kData, nullptr, false, again));
        EXPECT_EQ(again, signature);
        ASSERT_TRUE(signDataWithPassword(digest.digest, identity.certificate, kData,
                                         javaBytes({}), false, again));
        EXPECT_EQ(again, signature);
        ASSERT_TRUE(signDataWithPassword(digest.digest, identity.certificate, digest.hashValue,
                                         nullptr, true, again));
        EXPECT_EQ(again, signature);
        EXPECT_EQ(lastError(), kSuccess);
    }
}

TEST_F(DllSigning, LogFileAndLogJniReceiveTheSameLines) {
    TestIdentity identity = makeIdentity();
    Bytes signature;
    ASSERT_TRUE(sign(CALG_SHA_256, identity.certificate, signature));
    const std::vector<std::string>& lines = forwarded();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "########## Sign (DigestAlgo: 0000800ch)##########");
    EXPECT_EQ(lines.back(), "CertCloseStore success");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "CryptSignHash success"), lines.end());
    expectLogFileHolds(profile_.readLog(), lines);
}

TEST_F(DllSigning, FailuresReturnNullWithTheirStatus) {
    TestIdentity identity = makeIdentity();
    Bytes signature;
    ASSERT_TRUE(sign(CALG_SHA1, identity.certificate, signature));
    const jint untouched = providerError();

    forgetLog();
    EXPECT_FALSE(sign(CALG_SHA1, fixture_->createCertificate("Not in My"), signature));
    EXPECT_TRUE(signature.empty());
    EXPECT_EQ(lastError(), kCertificateNotFound);
    EXPECT_EQ(providerError(), untouched);
    EXPECT_NE(std::find(forwarded().begin(), forwarded().end(), "Certificate not found"), forwarded().end());
    expectLogFileHolds(profile_.readLog(), forwarded());

    // A certificate bound to a legacy provider is signed with RSA or DSA only.
    IdentityRequest legacy = smallKey();
    legacy.provider = "Microsoft Strong Cryptographic Provider";
    TestIdentity legacyIdentity = makeIdentity(legacy);
    EXPECT_FALSE(sign(CALG_SHA1, legacyIdentity.certificate, signature, "EC"));
    EXPECT_EQ(lastError(), kNoKeyContainer);
    ASSERT_TRUE(sign(CALG_SHA1, legacyIdentity.certificate, signature, "RSA"));
    EXPECT_TRUE(verifies(*fixture_, legacyIdentity.certificate, CALG_SHA1, kData, signature));
    EXPECT_EQ(lastError(), kSuccess);
}

// Software providers keep no PIN: the refusal is not logged as a success, and the signing goes on.
TEST_F(DllSigning, PasswordReachesTheProviderAndARefusedOneStillSigns) {
    TestIdentity identity = makeIdentity();
    Bytes signature;
    ASSERT_TRUE(signDataWithPassword(CALG_SHA1, identity.certificate, kData, javaBytes({'1', '2', '3', '4'}),
                                     false, signature))
        << lastError();
    EXPECT_TRUE(verifies(*fixture_, identity.certificate, CALG_SHA1, kData, signature));
    EXPECT_EQ(std::count(forwarded().begin(), forwarded().end(), "CryptSetProvParam success"), 0);
}

TEST_F(DllSigning, WithoutTheLogFolderNothingIsLoggedAndTheSigningStillWorks) {
    TestIdentity identity = makeIdentity();
    TempProfile noLogFolder(TempProfile::LogFolder::Absent);
    Bytes signature;
    ASSERT_TRUE(sign(CALG_SHA1, identity.certificate, signature));
    EXPECT_TRUE(verifies(*fixture_, identity.certificate, CALG_SHA1, kData, signature));
    EXPECT_TRUE(forwarded().empty());
    EXPECT_FALSE(fileExists(logFolderOf(noLogFolder.folder())));
}

TEST_F(DllSigning, LogJniThatThrowsNeitherStopsTheSigningNorStaysPending) {
    TestIdentity identity = makeIdentity();
    jni_.makeReceiverThrow();
    Bytes signature;
    ASSERT_TRUE(sign(CALG_SHA1, identity.certificate, signature));
    EXPECT_FALSE(jni_.exceptionPending());
    EXPECT_TRUE(verifies(*fixture_, identity.certificate, CALG_SHA1, kData, signature));
    // Every line still reaches Java: each exception is cleared before the next line.
    expectLogFileHolds(profile_.readLog(), forwarded());
}

}  // namespace
