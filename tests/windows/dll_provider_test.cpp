// The QDIE provider's natives in QDIEProvider.dll, over Wine's CryptoAPI: each returns its result
// or throws the NativeFailure of its own call (status, step, Windows error), lists a store with
// whether each certificate has a key, and examines what an addition or a deletion did.
#include <algorithm>
#include <cstring>

#include "support/host.h"
#include "windows/dll_test.h"

namespace {

const char kFailure[] = "com/quendrilax/browser/keystore/provider/spi/NativeFailure";
const char kStore[] = "Qdie Provider";
// The provider's numbers for digests and paddings, as Java gives them.
const jint kSha1 = 2;
const jint kSha256 = 4;
const jint kPss = 2;

const Bytes kData = {'s', 'i', 'g', 'n', 'e', 'd', ' ', 'b', 'y', ' ', 't',
                     'h', 'e', ' ', 'p', 'r', 'o', 'v', 'i', 'd', 'e', 'r'};
const Bytes kDataSha1 = {0xb6, 0x2c, 0x20, 0x0e, 0xb9, 0x47, 0xce, 0x5d, 0x06, 0x3e,
                         0x0b, 0x4e, 0x6f, 0x11, 0x9a, 0x54, 0x88, 0xe3, 0x6f, 0xf0};

class DllProvider : public DllTest {
protected:
    const ProviderExports& provider() const { return providerDll().exports(); }

    void SetUp() override {
        DllTest::SetUp();
        ASSERT_EQ(providerDll().problem(), "") << providerDll().path();
    }

    // One operation on a key handle of the certificate (of the machine's personal store or the
    // user's) made for it and freed after it.
    template <typename Operation>
    jbyteArray withKey(const Bytes& certificate, Operation operation, bool machine = false) {
        jlong key = jni_.call(provider().newKeyHandle, jboolean{machine}, javaBytes(certificate),
                              jni_.newString("RSA"), static_cast<jbyteArray>(nullptr));
        EXPECT_NE(key, 0);
        jbyteArray result = operation(key);
        jni_.call(provider().freeKeyHandle, key);
        return result;
    }

    jbyteArray signHash(const Bytes& certificate, const Bytes& hash, bool machine = false) {
        return withKey(
            certificate,
            [&](jlong key) { return jni_.call(provider().signHash, key, kSha1, javaBytes(hash)); },
            machine);
    }

    jbyteArray decrypt(const Bytes& certificate, const Bytes& cipherText, bool oaep) {
        return withKey(certificate, [&](jlong key) {
            return jni_.call(provider().decrypt, key, javaBytes(cipherText),
                             jboolean{oaep ? JNI_TRUE : JNI_FALSE});
        });
    }

    std::vector<std::pair<Bytes, bool>> list(const char* store, bool machine = false) {
        jobject listing = jni_.call(provider().listStore, jboolean{machine}, jni_.newString(store));
        EXPECT_NE(listing, nullptr);
        std::optional<FakeJniEnv::Thrown> thrown = jni_.catchThrown();
        EXPECT_FALSE(thrown.has_value()) << (thrown ? thrown->className + ": " + thrown->message : "");
        return listing == nullptr ? std::vector<std::pair<Bytes, bool>>() : jni_.listingOf(listing);
    }

    // What the last call threw; the test fails when it threw nothing.
    FakeJniEnv::Thrown thrown() {
        std::optional<FakeJniEnv::Thrown> caught = jni_.catchThrown();
        EXPECT_TRUE(caught.has_value());
        return caught.value_or(FakeJniEnv::Thrown{});
    }
};

TEST_F(DllProvider, SignsAHashTheCertificateVerifiesAndLogsAsTheNativesDo) {
    TestIdentity identity = makeIdentity();
    Bytes signature;
    ASSERT_TRUE(read(signHash(identity.certificate, kDataSha1), signature));
    EXPECT_FALSE(jni_.catchThrown().has_value());
    EXPECT_TRUE(verifies(*fixture_, identity.certificate, CALG_SHA1, kData, signature));
    ASSERT_FALSE(forwarded().empty());
    EXPECT_EQ(forwarded().front(), "########## Sign with held key (DigestAlgo: 00008004h) ##########");
    EXPECT_NE(std::find(forwarded().begin(), forwarded().end(), "CryptSetHashParam success"),
              forwarded().end());
    expectLogFileHolds(profile_.readLog(), forwarded());
}

TEST_F(DllProvider, FailuresThrowTheirOwnStatusStepAndWindowsError) {
    TestIdentity identity = makeIdentity();
    EXPECT_EQ(signHash(fixture_->createCertificate("Not in My"), kDataSha1), nullptr);
    FakeJniEnv::Thrown notFound = thrown();
    EXPECT_EQ(notFound.className, kFailure);
    EXPECT_EQ(notFound.status, kCertificateNotFound);
    EXPECT_EQ(notFound.windowsError, 0);

    Bytes garbage(128, 0x17);
    EXPECT_EQ(decrypt(identity.certificate, garbage, false), nullptr);
    FakeJniEnv::Thrown badPadding = thrown();
    EXPECT_EQ(badPadding.status, kDecryptionFailed);
    EXPECT_EQ(badPadding.step, "CryptDecrypt");
    EXPECT_NE(badPadding.windowsError, 0);

    EXPECT_EQ(signHash(identity.certificate, Bytes()), nullptr);
    EXPECT_EQ(thrown().status, 15);  // no hash value to set

    EXPECT_EQ(jni_.call(provider().newKeyHandle, jboolean{JNI_FALSE}, static_cast<jbyteArray>(nullptr),
                        jni_.newString("RSA"), static_cast<jbyteArray>(nullptr)),
              0);
    FakeJniEnv::Thrown nullArgument = thrown();
    EXPECT_EQ(nullArgument.className, "java/lang/NullPointerException");
    EXPECT_EQ(nullArgument.message, "certificate");
}

// RSASSA-PSS takes the raw private-key operation (CRYPT_DECRYPT_RSA_NO_PADDING_CHECK), which
// Windows documents for the Enhanced RSA and AES provider; Wine's RSAENH refuses the flag, and the
// provider's refusal carries that.
TEST_F(DllProvider, RawOperationMeetsWhatTheCryptoApiAnswers) {
    TestIdentity identity = makeIdentity();
    Bytes block(128, 0x00);
    block[1] = 0x42;
    Bytes result;
    bool done = read(withKey(identity.certificate,
                             [&](jlong key) {
                                 return jni_.call(provider().rawRsa, key, javaBytes(block));
                             }),
                     result);
    if (!done && runningUnderWine()) {
        FakeJniEnv::Thrown refused = thrown();
        EXPECT_EQ(refused.className, kFailure);
        EXPECT_EQ(refused.status, 26);
        EXPECT_EQ(refused.step, "CryptDecrypt");
        EXPECT_EQ(refused.windowsError, static_cast<jint>(NTE_BAD_FLAGS));
        EXPECT_NE(std::find(forwarded().begin(), forwarded().end(),
                            "CryptDecrypt error (CRYPT_DECRYPT_RSA_NO_PADDING_CHECK): 80090009"),
                  forwarded().end());
        return;
    }
    ASSERT_TRUE(done);
    EXPECT_EQ(result.size(), block.size());
}

// PSS through CNG takes the CSP key's CNG view (NCryptTranslateHandle), which Wine stubs: its
// refusal comes back as status 27 with the step and Wine's error, the CSP context released; on
// Windows the signature is made. The Java provider then falls back to the raw operation above.
TEST_F(DllProvider, PssThroughCngMeetsWhatTheCryptoApiAnswers) {
    TestIdentity identity = makeIdentity();
    Bytes hash(32, 0x5a);
    Bytes signature;
    bool done = read(withKey(identity.certificate,
                             [&](jlong key) {
                                 return jni_.call(provider().signCng, key, javaBytes(hash),
                                                  kPss, kSha256, static_cast<jint>(32));
                             }),
                     signature);
    if (!done && runningUnderWine()) {
        FakeJniEnv::Thrown refused = thrown();
        EXPECT_EQ(refused.className, kFailure);
        EXPECT_EQ(refused.status, 27);
        EXPECT_EQ(refused.step, "NCryptTranslateHandle");
        EXPECT_NE(refused.windowsError, 0);
        EXPECT_NE(std::find(forwarded().begin(), forwarded().end(), "CryptAcquireCertificatePrivateKey success"),
                  forwarded().end());
        EXPECT_EQ(forwarded().back(), "Held key operation finished");
        return;
    }
    ASSERT_TRUE(done);
    EXPECT_EQ(signature.size(), 128u);
}

TEST_F(DllProvider, DecryptsWithThePaddingAskedAndNoOther) {
    TestIdentity identity = makeIdentity();
    const Bytes secret = {'o', 'p', 'e', 'n'};
    for (bool oaep : {false, true}) {
        SCOPED_TRACE(oaep);
        const Bytes cipherText = fixture_->encryptFor(identity.certificate, secret, oaep);
        Bytes plainText;
        ASSERT_TRUE(read(decrypt(identity.certificate, cipherText, oaep), plainText));
        EXPECT_FALSE(jni_.catchThrown().has_value());
        EXPECT_EQ(plainText, secret);
    }
    // An OAEP block passes the PKCS #1 v1.5 check now and then; the other way round, never.
    EXPECT_EQ(decrypt(identity.certificate, fixture_->encryptFor(identity.certificate, secret, false),
                      true),
              nullptr);
    FakeJniEnv::Thrown otherPadding = thrown();
    EXPECT_EQ(otherPadding.status, kDecryptionFailed);
    EXPECT_EQ(otherPadding.step, "CryptDecrypt");
}

TEST_F(DllProvider, ListsAddsAndDeletesWithEachResultExamined) {
    TestIdentity identity = makeIdentity();
    std::vector<std::pair<Bytes, bool>> personal = list("My");
    EXPECT_NE(std::find(personal.begin(), personal.end(), std::make_pair(identity.certificate, true)),
              personal.end());

    Bytes certificate = fixture_->createCertificate("Written by the provider");
    jni_.call(provider().addCertificate, jboolean{JNI_FALSE}, jni_.newString(kStore), javaBytes(certificate));
    EXPECT_FALSE(jni_.catchThrown().has_value());
    EXPECT_EQ(list(kStore), (std::vector<std::pair<Bytes, bool>>{{certificate, false}}));

    // An encoding CryptoAPI cannot read is refused with its own error, not taken as added.
    jni_.call(provider().addCertificate, jboolean{JNI_FALSE}, jni_.newString(kStore), javaBytes({0x30, 0x03, 0x02, 0x01, 0x01}));
    FakeJniEnv::Thrown refused = thrown();
    EXPECT_EQ(refused.className, kFailure);
    EXPECT_EQ(refused.status, 24);
    EXPECT_EQ(refused.step, "CertAddEncodedCertificateToStore");
    EXPECT_NE(refused.windowsError, 0);
    EXPECT_EQ(list(kStore).size(), 1u);

    EXPECT_EQ(jni_.call(provider().deleteCertificate, jboolean{JNI_FALSE}, jni_.newString(kStore), javaBytes(certificate)),
              JNI_TRUE);
    EXPECT_FALSE(jni_.catchThrown().has_value());
    if (!list(kStore).empty() && runningUnderWine())
        GTEST_SKIP() << "Wine: a deletion from a store opened with CertOpenSystemStoreA is lost "
                        "unless the store is committed before it is closed; Windows keeps it";
    EXPECT_EQ(jni_.call(provider().deleteCertificate, jboolean{JNI_FALSE}, jni_.newString(kStore), javaBytes(certificate)),
              JNI_FALSE);
    EXPECT_FALSE(jni_.catchThrown().has_value());
    EXPECT_TRUE(list(kStore).empty());
}

// A service's identity lives in the machine's stores: the natives reach them by location and open
// the machine's key the certificate's property names. (Wine's user stores show the machine's
// too, where Windows keeps "My" apart; the software CryptoAPI's tests pin that separation.)
TEST_F(DllProvider, MachineStoresAndKeysAreReachedByLocation) {
    Bytes certificate = fixture_->createCertificate("Written to the machine");
    jni_.call(provider().addCertificate, jboolean{JNI_TRUE}, jni_.newString(kStore),
              javaBytes(certificate));
    EXPECT_FALSE(jni_.catchThrown().has_value());
    EXPECT_EQ(list(kStore, true), (std::vector<std::pair<Bytes, bool>>{{certificate, false}}));
    EXPECT_EQ(jni_.call(provider().deleteCertificate, jboolean{JNI_TRUE}, jni_.newString(kStore),
                        javaBytes(certificate)),
              JNI_TRUE);
    EXPECT_FALSE(jni_.catchThrown().has_value());

    IdentityRequest request = smallKey();
    request.machine = true;
    TestIdentity identity = makeIdentity(request);
    std::vector<std::pair<Bytes, bool>> machinePersonal = list("My", true);
    EXPECT_NE(std::find(machinePersonal.begin(), machinePersonal.end(),
                        std::make_pair(identity.certificate, true)),
              machinePersonal.end());
    Bytes signature;
    ASSERT_TRUE(read(signHash(identity.certificate, kDataSha1, true), signature));
    EXPECT_FALSE(jni_.catchThrown().has_value());
    EXPECT_TRUE(verifies(*fixture_, identity.certificate, CALG_SHA1, kData, signature));
}

}  // namespace
