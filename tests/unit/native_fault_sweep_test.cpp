// The natives under exhaustion: every JNI call that can fail for memory, every CryptoAPI call
// and every C++ allocation fails in turn; each native must end in its documented result (the
// ten: leaving no exception pending; the provider's: an empty result only with an exception
// pending, which the caller catches), give back every array, string, local reference, CryptoAPI
// acquisition and allocation, and work again on the next call.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <utility>

#include "com_quendrilax_browser_cipher_RSACipher.h"
#include "com_quendrilax_browser_keystore_QDIECAKeyStore.h"
#include "com_quendrilax_browser_keystore_provider_signature_BrowserSignature.h"
#include "com_quendrilax_browser_keystore_provider_spi_ProviderNatives.h"
#include "diagnostics/status.h"
#include "support/crypto_fixture.h"
#include "support/embedded_jvm.h"
#include "support/failing_allocator.h"
#include "support/fault_jni_env.h"
#include "support/fault_platform.h"
#include "support/keystore_caches.h"
#include "support/openssl_check.h"
#include "support/temp_profile.h"

using namespace diagnostics;

namespace {

const Bytes kMessage = {'s', 'w', 'e', 'e', 'p'};
const char kStore[] = "Sweep";
// The provider's numbers for SHA-1 and SHA-256 and for ECDSA's padding, as Java gives them.
const jint kSha1 = 2;
const jint kSha256 = 4;
const jint kNoPadding = 0;
// A status no call records: what the status word holds before each allocation failure.
const uint32_t kNoStatus = 0xFFFFFFFF;

// What a native gave back, judged by the test: the documented success, or the empty result.
enum class Result { Success, Empty, Wrong };

enum class Fault { Jni, Platform, Allocation };

const char* faultName(Fault fault) {
    switch (fault) {
        case Fault::Jni: return "JNI call ";
        case Fault::Platform: return "CryptoAPI call ";
        case Fault::Allocation: return "allocation ";
    }
    return "";
}

struct Tally {
    int points = 0;
    int clean = 0;
    int leaks = 0;
};

// The status word and the provider-error word after a call.
using StatusPair = std::pair<uint32_t, uint32_t>;

class NativeFaultSweep : public ::testing::Test {
protected:
    // Whether some allocation failure ended with this status.
    bool sawStatus(uint32_t status) const {
        for (const StatusPair& seen : allocationFailureStatuses_)
            if (seen.first == status) return true;
        return false;
    }

    JNIEnv* java() { return testJvm(); }

    // The store the maintenance sweeps change: a first certificate in it, a second to come and go.
    struct SweptStore {
        Bytes first;
        Bytes second;
        jstring store;
        jbyteArray secondArray;
    };
    SweptStore sweptStore() {
        SweptStore swept{fixture_->createCertificate("First"), fixture_->createCertificate("Second"),
                         java()->NewStringUTF(kStore), nullptr};
        swept.secondArray = javaBytes(swept.second);
        CertAddEncodedCertificateToSystemStoreA(kStore, swept.first.data(),
                                                static_cast<DWORD>(swept.first.size()));
        return swept;
    }

    // Whether the sweep's store holds the certificate, as CryptoAPI itself lists it.
    static bool storeHolds(const Bytes& certificate) {
        HCERTSTORE handle = CertOpenSystemStoreA(0, kStore);
        bool found = false;
        for (PCCERT_CONTEXT context = nullptr;
             (context = CertEnumCertificatesInStore(handle, context)) != nullptr;)
            found = found || Bytes(context->pbCertEncoded,
                                   context->pbCertEncoded + context->cbCertEncoded) == certificate;
        CertCloseStore(handle, 0);
        return found;
    }

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

    // The native call itself, with this run's allocation failure armed around it and it alone:
    // what the test does to judge the result allocates freely.
    template <typename Call>
    auto armed(Call call) -> decltype(call()) {
        ArmedAllocations allocations(failAllocationAt_);
        auto result = call();
        allocations_ = allocations.count();
        allocationFailed_ = allocations.failed();
        return result;
    }

    // A provider operation on a key handle made for it and freed after it, as a key object of
    // Java's that is used once: null, with the exception pending, when making the handle fails.
    template <typename Operation>
    jbyteArray withKeyHandle(JNIEnv* env, jbyteArray certificate, jstring keyAlgorithm,
                             jbyteArray pin, Operation operation) {
        jlong key = Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_newKeyHandle(
            env, type_, JNI_FALSE, certificate, keyAlgorithm, pin);
        if (key == 0) return nullptr;
        jbyteArray result = operation(key);
        Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_freeKeyHandle(env, type_, key);
        return result;
    }

    // Runs `native` once per failure point of each kind, each time after `prepare` (run without
    // faults), and checks what it leaves behind.
    void sweep(const char* name, const std::function<Result(JNIEnv*)>& native,
               const std::function<void()>& prepare = [] {}) {
        prepare_ = prepare;
        failuresThrow_ = std::string(name).rfind("ProviderNatives.", 0) == 0;
        int jniPoints = 0;
        int platformPoints = 0;
        int allocationPoints = 0;
        for (bool counting : {false, true}) {
            // A first call fills what lives as long as the process; the second, from empty
            // caches, counts what each call can meet.
            prepare_();
            forgetCaches();
            FaultInjectingPlatform platform;
            FaultInjectingJniEnv jni(java());
            ASSERT_EQ(run(native, jni), Result::Success) << name << " without faults";
            if (!counting) continue;
            jniPoints = jni.allocations();
            platformPoints = platform.failableCalls();
            allocationPoints = allocations_;
        }
        Tally jniTally = sweepKind(native, jniPoints, Fault::Jni);
        Tally platformTally = sweepKind(native, platformPoints, Fault::Platform);
        Tally allocationTally = sweepKind(native, allocationPoints, Fault::Allocation);
        std::printf("%s: %d JNI failure points, %d clean; %d CryptoAPI failure points, %d clean; "
                    "%d allocation failure points, %d clean; %d leaks\n",
                    name, jniTally.points, jniTally.clean, platformTally.points, platformTally.clean,
                    allocationTally.points, allocationTally.clean,
                    jniTally.leaks + platformTally.leaks + allocationTally.leaks);
        EXPECT_GT(jniTally.points, 0);
        EXPECT_GT(allocationTally.points, 0);
        EXPECT_EQ(jniTally.clean, jniTally.points) << name;
        EXPECT_EQ(platformTally.clean, platformTally.points) << name;
        EXPECT_EQ(allocationTally.clean, allocationTally.points) << name;
    }

    TempProfile profile_;
    std::unique_ptr<CryptoFixture> fixture_ = makeCryptoFixture();
    jclass type_ = nullptr;
    // The status words after each empty result of an allocation failure.
    std::set<StatusPair> allocationFailureStatuses_;

private:
    Result run(const std::function<Result(JNIEnv*)>& native, FaultInjectingJniEnv& jni) {
        java()->PushLocalFrame(64);
        Result result = native(jni.env());
        java()->PopLocalFrame(nullptr);
        return result;
    }

    void forgetCaches() { forgetKeystoreCaches(); }

    // The native as a caller meets it next: prepared, without faults, it must succeed.
    bool recovers(const std::function<Result(JNIEnv*)>& native) {
        prepare_();
        FaultInjectingPlatform platform;
        FaultInjectingJniEnv jni(java());
        return run(native, jni) == Result::Success && !java()->ExceptionCheck();
    }

    Tally sweepKind(const std::function<Result(JNIEnv*)>& native, int points, Fault fault) {
        Tally tally;
        for (int nth = 1; nth <= points; ++nth) {
            SCOPED_TRACE(faultName(fault) + std::to_string(nth));
            prepare_();
            if (fault == Fault::Allocation) {
                forgetCaches();
                recordStatus(kNoStatus);
            }
            long outstanding = ArmedAllocations::outstanding();
            Result result = Result::Wrong;
            bool pending = false;
            bool leaked = false;
            bool hit = fault != Fault::Allocation;
            bool contradictory = false;
            {
                FaultInjectingPlatform platform;
                FaultInjectingJniEnv jni(java());
                if (fault == Fault::Jni) jni.failAllocation(nth);
                if (fault == Fault::Platform) platform.failOverallCall(nth, 0x80090020);
                if (fault == Fault::Allocation) failAllocationAt_ = nth;
                result = run(native, jni);
                failAllocationAt_ = 0;
                hit = hit || allocationFailed_;
                pending = java()->ExceptionCheck();
                if (pending) java()->ExceptionClear();
                // The provider's natives throw what failed: that is their empty result.
                if (failuresThrow_) pending = pending != (result == Result::Empty);
                // Each check below deletes the native's result, so no reference may remain.
                leaked = !platform.allReleased() || jni.heldElements() != 0 ||
                         jni.localReferences() != 0;
                EXPECT_FALSE(leaked) << platform.describeOutstanding() << ", elements "
                                     << jni.heldElements() << ", local references "
                                     << jni.localReferences();
            }
            if (fault == Fault::Allocation) {
                if (result == Result::Empty)
                    allocationFailureStatuses_.insert({lastStatus(), providerError()});
                // Null with the call's own success recorded would tell Java two stories.
                contradictory = result == Result::Empty && lastStatus() == kStatusSuccess;
                EXPECT_FALSE(contradictory) << "an empty result with status 0";
                // What the caches held from the call goes with them; nothing else may stay.
                forgetCaches();
                long kept = ArmedAllocations::outstanding() - outstanding;
                EXPECT_EQ(kept, 0) << "allocations never freed";
                leaked = leaked || kept != 0;
            }
            bool recovered = recovers(native);
            EXPECT_NE(result, Result::Wrong);
            EXPECT_FALSE(pending);
            EXPECT_TRUE(recovered) << "the next call without faults failed";
            EXPECT_TRUE(hit) << "the allocation to fail was never made";
            ++tally.points;
            tally.clean +=
                result != Result::Wrong && !pending && !leaked && recovered && hit && !contradictory;
            tally.leaks += leaked;
        }
        return tally;
    }

    std::function<void()> prepare_;
    bool failuresThrow_ = false;
    int failAllocationAt_ = 0;
    int allocations_ = 0;
    bool allocationFailed_ = false;
};

TEST_F(NativeFaultSweep, Signing) {
    TestIdentity identity = fixture_->createIdentity({});
    jbyteArray certificate = javaBytes(identity.certificate);
    jbyteArray data = javaBytes(kMessage);
    jbyteArray password = javaBytes({'n', 'o', 'n', 'e'});
    jstring rsa = java()->NewStringUTF("RSA");
    sweep("signDataWithPassword", [&](JNIEnv* env) {
        jbyteArray signature = armed([&] {
            return Java_com_quendrilax_browser_keystore_provider_signature_BrowserSignature_signDataWithPassword(
                env, type_, CALG_SHA_256, rsa, certificate, data, password, JNI_FALSE);
        });
        if (signature == nullptr) return Result::Empty;
        Bytes bytes = nativeBytes(signature);
        env->DeleteLocalRef(signature);
        return opensslVerifies(identity.certificate, CALG_SHA_256, kMessage,
                               Bytes(bytes.rbegin(), bytes.rend()))
                   ? Result::Success
                   : Result::Wrong;
    });
    // The signature's own buffer: the signing fails as the provider would, with status 11.
    EXPECT_EQ(allocationFailureStatuses_.count({kStatusSignatureFailed, ERROR_NOT_ENOUGH_MEMORY}),
              1u);
    // The narrowed names of the binding: the property counts as unreadable.
    EXPECT_TRUE(sawStatus(kStatusKeyProvInfoUnreadable));
}

TEST_F(NativeFaultSweep, Decryption) {
    TestIdentity identity = fixture_->createIdentity({});
    jbyteArray certificate = javaBytes(identity.certificate);
    jbyteArray cipherText = javaBytes(opensslEncrypt(identity.certificate, kMessage, false));
    sweep("decrypt", [&](JNIEnv* env) {
        jbyteArray plainText = armed([&] {
            return Java_com_quendrilax_browser_cipher_RSACipher_decrypt(env, type_, certificate,
                                                                        cipherText);
        });
        if (plainText == nullptr) return Result::Empty;
        Bytes bytes = nativeBytes(plainText);
        env->DeleteLocalRef(plainText);
        return bytes == kMessage ? Result::Success : Result::Wrong;
    });
    // The narrowed names, and the ciphertext's copy in the provider's order: each failure has
    // its status, never the 0 of an earlier success.
    EXPECT_TRUE(sawStatus(kStatusKeyProvInfoUnreadable));
    EXPECT_TRUE(sawStatus(kStatusDecryptionFailed));
}

TEST_F(NativeFaultSweep, StoreMaintenance) {
    SweptStore swept = sweptStore();
    const Bytes& first = swept.first;
    const Bytes& second = swept.second;
    jstring store = swept.store;
    jbyteArray secondArray = swept.secondArray;
    sweep("getCertificatesInIESystemStore", [&](JNIEnv* env) {
        jobjectArray list = armed([&] {
            return Java_com_quendrilax_browser_keystore_QDIECAKeyStore_getCertificatesInIESystemStore(
                env, type_, store);
        });
        // Never null: a listing that fails lists nothing.
        if (list == nullptr) return Result::Wrong;
        jsize length = java()->GetArrayLength(list);
        Bytes listed;
        if (length == 1)
            listed = nativeBytes(static_cast<jbyteArray>(java()->GetObjectArrayElement(list, 0)));
        env->DeleteLocalRef(list);
        if (length == 0) return Result::Empty;
        return length == 1 && listed == first ? Result::Success : Result::Wrong;
    });
    // Adding and deleting say nothing: what they did is seen in the store afterwards.
    auto holdsSecond = [&] { return storeHolds(second); };
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
            armed([&] {
                Java_com_quendrilax_browser_keystore_QDIECAKeyStore_addCertificateInIESystemStore(
                    env, type_, store, secondArray);
                return true;
            });
            return holdsSecond() ? Result::Success : Result::Empty;
        },
        removeSecond);
    sweep(
        "deleteCertificateInIESystemStore",
        [&](JNIEnv* env) {
            armed([&] {
                Java_com_quendrilax_browser_keystore_QDIECAKeyStore_deleteCertificateInIESystemStore(
                    env, type_, store, secondArray);
                return true;
            });
            return holdsSecond() ? Result::Empty : Result::Success;
        },
        addSecond);
}

TEST_F(NativeFaultSweep, ProviderSigningAndDecryption) {
    TestIdentity identity = fixture_->createIdentity({});
    jbyteArray certificate = javaBytes(identity.certificate);
    jbyteArray hash = javaBytes(opensslDigest(CALG_SHA_256, kMessage));
    jbyteArray cipherText = javaBytes(opensslEncrypt(identity.certificate, kMessage, false));
    jstring rsa = java()->NewStringUTF("RSA");
    sweep("ProviderNatives.signHash", [&](JNIEnv* env) {
        jbyteArray signature = armed([&] {
            return withKeyHandle(env, certificate, rsa, nullptr, [&](jlong key) {
                return Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_signHash(env, type_, key,
                                                                                     kSha256, hash);
            });
        });
        if (signature == nullptr) return Result::Empty;
        Bytes bytes = nativeBytes(signature);
        env->DeleteLocalRef(signature);
        return opensslVerifies(identity.certificate, CALG_SHA_256, kMessage,
                               Bytes(bytes.rbegin(), bytes.rend()))
                   ? Result::Success
                   : Result::Wrong;
    });
    sweep("ProviderNatives.decrypt", [&](JNIEnv* env) {
        jbyteArray plainText = armed([&] {
            return withKeyHandle(env, certificate, rsa, nullptr, [&](jlong key) {
                return Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_decrypt(env, type_, key,
                                                                                    cipherText, JNI_FALSE);
            });
        });
        if (plainText == nullptr) return Result::Empty;
        Bytes bytes = nativeBytes(plainText);
        env->DeleteLocalRef(plainText);
        return bytes == kMessage ? Result::Success : Result::Wrong;
    });
}

TEST_F(NativeFaultSweep, ProviderSigningAndDecryptionThroughCng) {
    IdentityRequest request;
    request.key = FixtureKey::EcP256;
    request.provider = kKeyStorageProvider;
    request.keySpec = 0;
    TestIdentity ec = fixture_->createIdentity(request);
    request.key = FixtureKey::Rsa2048;
    TestIdentity rsa = fixture_->createIdentity(request);
    jbyteArray ecCertificate = javaBytes(ec.certificate);
    jbyteArray rsaCertificate = javaBytes(rsa.certificate);
    Bytes hash = opensslDigest(CALG_SHA_256, kMessage);
    jbyteArray hashBytes = javaBytes(hash);
    jbyteArray cipherText = javaBytes(opensslEncrypt(rsa.certificate, kMessage, true));
    jstring ecName = java()->NewStringUTF("EC");
    jstring rsaName = java()->NewStringUTF("RSA");
    sweep("ProviderNatives.signCng", [&](JNIEnv* env) {
        jbyteArray signature = armed([&] {
            return withKeyHandle(env, ecCertificate, ecName, nullptr, [&](jlong key) {
                return Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_signCng(
                    env, type_, key, hashBytes, kNoPadding, kSha256, 0);
            });
        });
        if (signature == nullptr) return Result::Empty;
        Bytes bytes = nativeBytes(signature);
        env->DeleteLocalRef(signature);
        return opensslVerifiesCng(ec.certificate, CALG_SHA_256, hash, bytes, 0) ? Result::Success
                                                                                  : Result::Wrong;
    });
    // A PIN-protected key of the key storage provider takes its PIN through NCryptSetProperty.
    request.key = FixtureKey::EcP256;
    request.pin = "2468";
    TestIdentity pinned = fixture_->createIdentity(request);
    jbyteArray pinnedCertificate = javaBytes(pinned.certificate);
    jbyteArray pin = javaBytes(Bytes(request.pin.begin(), request.pin.end()));
    sweep("ProviderNatives.signCng with a PIN", [&](JNIEnv* env) {
        jbyteArray signature = armed([&] {
            return withKeyHandle(env, pinnedCertificate, ecName, pin, [&](jlong key) {
                return Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_signCng(
                    env, type_, key, hashBytes, kNoPadding, kSha256, 0);
            });
        });
        if (signature == nullptr) return Result::Empty;
        Bytes bytes = nativeBytes(signature);
        env->DeleteLocalRef(signature);
        return opensslVerifiesCng(pinned.certificate, CALG_SHA_256, hash, bytes, 0)
                   ? Result::Success
                   : Result::Wrong;
    });
    sweep("ProviderNatives.decryptCng", [&](JNIEnv* env) {
        jbyteArray plainText = armed([&] {
            return withKeyHandle(env, rsaCertificate, rsaName, nullptr, [&](jlong key) {
                return Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_decryptCng(
                    env, type_, key, cipherText, JNI_TRUE, kSha1, nullptr);
            });
        });
        if (plainText == nullptr) return Result::Empty;
        Bytes bytes = nativeBytes(plainText);
        env->DeleteLocalRef(plainText);
        return bytes == kMessage ? Result::Success : Result::Wrong;
    });
}

TEST_F(NativeFaultSweep, ProviderStoreMaintenance) {
    SweptStore swept = sweptStore();
    const Bytes& first = swept.first;
    const Bytes& second = swept.second;
    jstring store = swept.store;
    jbyteArray secondArray = swept.secondArray;
    sweep("ProviderNatives.listStore", [&](JNIEnv* env) {
        jobject listing = armed([&] {
            return Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_listStore(
                env, type_, JNI_FALSE, store);
        });
        if (listing == nullptr) return Result::Empty;
        // What is listed must be the store: a listing cut short would be a wrong result.
        jclass type = java()->GetObjectClass(listing);
        jfieldID field = java()->GetFieldID(type, "encodings", "[[B");
        auto encodings = static_cast<jobjectArray>(java()->GetObjectField(listing, field));
        bool whole = java()->GetArrayLength(encodings) == 1 &&
                     nativeBytes(static_cast<jbyteArray>(
                         java()->GetObjectArrayElement(encodings, 0))) == first;
        env->DeleteLocalRef(listing);
        return whole ? Result::Success : Result::Wrong;
    });
    auto holdsSecond = [&] { return storeHolds(second); };
    auto change = [&](bool add) {
        return [&, add](JNIEnv* env) {
            armed([&] {
                if (add)
                    Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_addCertificate(
                        env, type_, JNI_FALSE, store, secondArray);
                else
                    Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_deleteCertificate(
                        env, type_, JNI_FALSE, store, secondArray);
                return true;
            });
            // What Java meets: an exception is the failure, whatever the store shows (a
            // deletion made to fail has deleted all the same).
            if (java()->ExceptionCheck()) return Result::Empty;
            return holdsSecond() == add ? Result::Success : Result::Empty;
        };
    };
    auto setTo = [&](bool held) {
        return [&, held] {
            if (held)
                CertAddEncodedCertificateToSystemStoreA(kStore, second.data(),
                                                        static_cast<DWORD>(second.size()));
            else
                Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_deleteCertificate(
                    java(), type_, JNI_FALSE, store, secondArray);
            java()->ExceptionClear();
        };
    };
    sweep("ProviderNatives.addCertificate", change(true), setTo(false));
    sweep("ProviderNatives.deleteCertificate", change(false), setTo(true));
}

}  // namespace
