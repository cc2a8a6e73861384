// The natives under exhaustion: every JNI call that can fail for memory, and every CryptoAPI
// call, fails in turn; each native must end in its documented result, leave no exception
// pending, and give back every array, string, local reference and CryptoAPI acquisition.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "com_quendrilax_browser_cipher_RSACipher.h"
#include "com_quendrilax_browser_keystore_QDIECAKeyStore.h"
#include "com_quendrilax_browser_keystore_provider_signature_BrowserSignature.h"
#include "diagnostics/status.h"
#include "support/crypto_fixture.h"
#include "support/embedded_jvm.h"
#include "support/fault_jni_env.h"
#include "support/fault_platform.h"
#include "support/openssl_check.h"
#include "support/temp_profile.h"

namespace {

const Bytes kMessage = {'s', 'w', 'e', 'e', 'p'};
const char kStore[] = "Sweep";

// What a native gave back, judged by the test: the documented success, or the empty result.
enum class Result { Success, Empty, Wrong };

struct Tally {
    int points = 0;
    int clean = 0;
    int leaks = 0;
};

class NativeFaultSweep : public ::testing::Test {
protected:
    JNIEnv* java() { return testJvm(); }

    jbyteArray javaBytes(const Bytes& bytes) {
        jbyteArray array = java()->NewByteArray(static_cast<jsize>(bytes.size()));
        java()->SetByteArrayRegion(array, 0, static_cast<jsize>(bytes.size()),
                                   reinterpret_cast<const jbyte*>(bytes.data()));
        return array;
    }

    Bytes nativeBytes(jbyteArray array) {
        Bytes bytes(java()->GetArrayLength(array));
        java()->GetByteArrayRegion(array, 0, static_cast<jsize>(bytes.size()),
                                   reinterpret_cast<jbyte*>(bytes.data()));
        return bytes;
    }

    // Runs `native` once per failure point of each kind, each time after `prepare` (run without
    // faults), and checks what it leaves behind.
    void sweep(const char* name, const std::function<Result(JNIEnv*)>& native,
               const std::function<void()>& prepare = [] {}) {
        prepare_ = prepare;
        int jniPoints = 0;
        int platformPoints = 0;
        {
            prepare_();
            FaultInjectingPlatform platform;
            FaultInjectingJniEnv jni(java());
            ASSERT_EQ(run(native, jni), Result::Success) << name << " without faults";
            jniPoints = jni.allocations();
            platformPoints = platform.failableCalls();
        }
        Tally jniTally = sweepKind(native, jniPoints, true);
        Tally platformTally = sweepKind(native, platformPoints, false);
        std::printf("%s: %d JNI failure points, %d clean; %d CryptoAPI failure points, %d clean; "
                    "%d leaks\n",
                    name, jniTally.points, jniTally.clean, platformTally.points, platformTally.clean,
                    jniTally.leaks + platformTally.leaks);
        EXPECT_GT(jniTally.points, 0);
        EXPECT_EQ(jniTally.clean, jniTally.points) << name;
        EXPECT_EQ(platformTally.clean, platformTally.points) << name;
    }

    TempProfile profile_;
    std::unique_ptr<CryptoFixture> fixture_ = makeCryptoFixture();
    jclass type_ = nullptr;

private:
    Result run(const std::function<Result(JNIEnv*)>& native, FaultInjectingJniEnv& jni) {
        java()->PushLocalFrame(64);
        Result result = native(jni.env());
        java()->PopLocalFrame(nullptr);
        return result;
    }

    std::function<void()> prepare_;

    Tally sweepKind(const std::function<Result(JNIEnv*)>& native, int points, bool jniFaults) {
        Tally tally;
        for (int nth = 1; nth <= points; ++nth) {
            SCOPED_TRACE(std::string(jniFaults ? "JNI call " : "CryptoAPI call ") +
                         std::to_string(nth));
            prepare_();
            FaultInjectingPlatform platform;
            FaultInjectingJniEnv jni(java());
            if (jniFaults)
                jni.failAllocation(nth);
            else
                platform.failOverallCall(nth, 0x80090020);
            Result result = run(native, jni);
            bool pending = java()->ExceptionCheck();
            if (pending) java()->ExceptionClear();
            // Each check below deletes the native's result, so no reference may remain.
            bool leaked = !platform.allReleased() || jni.heldElements() != 0 ||
                          jni.localReferences() != 0;
            EXPECT_NE(result, Result::Wrong);
            EXPECT_FALSE(pending);
            EXPECT_FALSE(leaked) << platform.describeOutstanding() << ", elements "
                                 << jni.heldElements() << ", local references "
                                 << jni.localReferences();
            ++tally.points;
            tally.clean += result != Result::Wrong && !pending && !leaked;
            tally.leaks += leaked;
        }
        return tally;
    }
};

TEST_F(NativeFaultSweep, Signing) {
    TestIdentity identity = fixture_->createIdentity({});
    jbyteArray certificate = javaBytes(identity.certificate);
    jbyteArray data = javaBytes(kMessage);
    jbyteArray password = javaBytes({'n', 'o', 'n', 'e'});
    jstring rsa = java()->NewStringUTF("RSA");
    sweep("signDataWithPassword", [&](JNIEnv* env) {
        jbyteArray signature =
            Java_com_quendrilax_browser_keystore_provider_signature_BrowserSignature_signDataWithPassword(
                env, type_, CALG_SHA_256, rsa, certificate, data, password, JNI_FALSE);
        if (signature == nullptr) return Result::Empty;
        Bytes bytes = nativeBytes(signature);
        env->DeleteLocalRef(signature);
        return opensslVerifies(identity.certificate, CALG_SHA_256, kMessage,
                               Bytes(bytes.rbegin(), bytes.rend()))
                   ? Result::Success
                   : Result::Wrong;
    });
}

TEST_F(NativeFaultSweep, Decryption) {
    TestIdentity identity = fixture_->createIdentity({});
    jbyteArray certificate = javaBytes(identity.certificate);
    jbyteArray cipherText = javaBytes(opensslEncrypt(identity.certificate, kMessage, false));
    sweep("decrypt", [&](JNIEnv* env) {
        jbyteArray plainText =
            Java_com_quendrilax_browser_cipher_RSACipher_decrypt(env, type_, certificate, cipherText);
        if (plainText == nullptr) return Result::Empty;
        Bytes bytes = nativeBytes(plainText);
        env->DeleteLocalRef(plainText);
        return bytes == kMessage ? Result::Success : Result::Wrong;
    });
}

TEST_F(NativeFaultSweep, StoreMaintenance) {
    Bytes first = fixture_->createCertificate("First");
    Bytes second = fixture_->createCertificate("Second");
    jstring store = java()->NewStringUTF(kStore);
    jbyteArray secondArray = javaBytes(second);
    CertAddEncodedCertificateToSystemStoreA(kStore, first.data(), static_cast<DWORD>(first.size()));
    sweep("getCertificatesInIESystemStore", [&](JNIEnv* env) {
        jobjectArray list =
            Java_com_quendrilax_browser_keystore_QDIECAKeyStore_getCertificatesInIESystemStore(
                env, type_, store);
        if (list == nullptr) return Result::Empty;
        jsize length = java()->GetArrayLength(list);
        Bytes listed;
        if (length == 1)
            listed = nativeBytes(static_cast<jbyteArray>(java()->GetObjectArrayElement(list, 0)));
        env->DeleteLocalRef(list);
        if (length == 0) return Result::Empty;
        return length == 1 && listed == first ? Result::Success : Result::Wrong;
    });
    // Adding and deleting say nothing: what they did is seen in the store afterwards.
    auto holdsSecond = [&] {
        HCERTSTORE handle = CertOpenSystemStoreA(0, kStore);
        bool found = false;
        for (PCCERT_CONTEXT context = nullptr;
             (context = CertEnumCertificatesInStore(handle, context)) != nullptr;)
            found = found || Bytes(context->pbCertEncoded,
                                   context->pbCertEncoded + context->cbCertEncoded) == second;
        CertCloseStore(handle, 0);
        return found;
    };
    auto removeSecond = [&] {
        Java_com_quendrilax_browser_keystore_QDIECAKeyStore_deleteCertificateInIESystemStore(
            java(), type_, store, secondArray);
    };
    auto addSecond = [&] {
        Java_com_quendrilax_browser_keystore_QDIECAKeyStore_addCertificateInIESystemStore(
            java(), type_, store, secondArray);
    };
    sweep(
        "addCertificateInIESystemStore",
        [&](JNIEnv* env) {
            Java_com_quendrilax_browser_keystore_QDIECAKeyStore_addCertificateInIESystemStore(
                env, type_, store, secondArray);
            return holdsSecond() ? Result::Success : Result::Empty;
        },
        removeSecond);
    sweep(
        "deleteCertificateInIESystemStore",
        [&](JNIEnv* env) {
            Java_com_quendrilax_browser_keystore_QDIECAKeyStore_deleteCertificateInIESystemStore(
                env, type_, store, secondArray);
            return holdsSecond() ? Result::Empty : Result::Success;
        },
        addSecond);
}

}  // namespace
