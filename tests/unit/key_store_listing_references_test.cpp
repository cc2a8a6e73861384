// The store listing lets go of each certificate's local reference once it is stored: a large
// store would otherwise hold one per certificate until the native call returns.
#include <gtest/gtest.h>
#include <jni.h>

#include <string>

#include "com_quendrilax_browser_keystore_QDIECAKeyStore.h"
#include "support/crypto_fixture.h"
#include "support/embedded_jvm.h"
#include "support/fault_jni_env.h"
#include "support/temp_profile.h"

namespace {

constexpr int kCertificates = 40;

TEST(KeyStoreListing, HoldsNoLocalReferencePerCertificate) {
    JNIEnv* env = testJvm();
    TempProfile profile;
    auto fixture = makeCryptoFixture();
    jstring store = env->NewStringUTF("Bulk");
    for (int i = 0; i < kCertificates; ++i) {
        Bytes certificate = fixture->createCertificate("CN=Bulk " + std::to_string(i));
        jbyteArray encoding = env->NewByteArray(static_cast<jsize>(certificate.size()));
        env->SetByteArrayRegion(encoding, 0, static_cast<jsize>(certificate.size()),
                                reinterpret_cast<const jbyte*>(certificate.data()));
        Java_com_quendrilax_browser_keystore_QDIECAKeyStore_addCertificateInIESystemStore(
            env, nullptr, store, encoding);
        env->DeleteLocalRef(encoding);
    }

    FaultInjectingJniEnv counting(env);
    jobjectArray listed =
        Java_com_quendrilax_browser_keystore_QDIECAKeyStore_getCertificatesInIESystemStore(
            counting.env(), nullptr, store);
    ASSERT_NE(listed, nullptr);
    EXPECT_EQ(env->GetArrayLength(listed), kCertificates);
    EXPECT_FALSE(env->ExceptionCheck());
    // The array handed back, and at most the class of byte[] or one certificate beside it.
    EXPECT_EQ(counting.localReferences(), 1);
    EXPECT_LE(counting.localReferencePeak(), 3);
    env->DeleteLocalRef(listed);
    env->DeleteLocalRef(store);
}

}  // namespace
