// The QDIE provider's natives: each returns its result, or throws the NativeFailure of its own
// call (status, step and Windows error), so that nothing is read back from the status words.
// A key is a handle to a keyops::HeldKey, made and freed by Java's key object; every step is
// logged.
#include "com_quendrilax_browser_keystore_provider_spi_ProviderNatives.h"

#include <cstdint>
#include <vector>

#include "common/secure_bytes.h"
#include "diagnostics/log_forward.h"
#include "diagnostics/status.h"
#include "javahost/java_host.h"
#include "jni/java_pin.h"
#include "jni/provider_failures.h"
#include "jni/provider_handles.h"
#include "keyops/held_key.h"
#include "keyops/system_stores.h"

namespace {

using common::SecureBytes;
using javahost::JavaBytes;
using javahost::JavaChars;
using javahost::newJavaBytes;
using javahost::ScopedLocalRef;
using provider_natives::guardProviderNative;
using provider_natives::handleOf;
using provider_natives::heldKey;
using provider_natives::locationOf;
using provider_natives::throwArgumentUnavailable;
using provider_natives::throwFailure;
using provider_natives::throwOutOfMemory;

const char kListingClass[] = "com/quendrilax/browser/keystore/provider/spi/StoreListing";
const char kListingConstructor[] = "([[B[Z[Z[[B)V";
const char kByteArrayClass[] = "[B";


// A byte[] of the bytes, or null with OutOfMemoryError pending.
jbyteArray resultBytes(JNIEnv* env, const unsigned char* bytes, size_t length) {
    jbyteArray array = newJavaBytes(env, bytes, length);
    if (array == nullptr) throwOutOfMemory(env);
    return array;
}

// The StoreListing of the certificates, or null with OutOfMemoryError pending.
jobject toListing(JNIEnv* env, const std::vector<keyops::ListedCertificate>& listed) {
    jsize count = static_cast<jsize>(listed.size());
    ScopedLocalRef<jclass> byteArray(env, env->FindClass(kByteArrayClass));
    if (byteArray.get() == nullptr) return nullptr;
    ScopedLocalRef<jobjectArray> encodings(env, env->NewObjectArray(count, byteArray.get(), nullptr));
    if (encodings.get() == nullptr) return nullptr;
    ScopedLocalRef<jbooleanArray> hasKey(env, env->NewBooleanArray(count));
    if (hasKey.get() == nullptr) return nullptr;
    ScopedLocalRef<jbooleanArray> cngKey(env, env->NewBooleanArray(count));
    if (cngKey.get() == nullptr) return nullptr;
    ScopedLocalRef<jobjectArray> containers(env,
                                            env->NewObjectArray(count, byteArray.get(), nullptr));
    if (containers.get() == nullptr) return nullptr;
    std::vector<jboolean> flags(listed.size());
    std::vector<jboolean> cngFlags(listed.size());
    for (jsize i = 0; i < count; ++i) {
        const keyops::ListedCertificate& certificate = listed[static_cast<size_t>(i)];
        // One local reference per certificate would pile up in a large store.
        ScopedLocalRef<jbyteArray> encoding(
            env, resultBytes(env, certificate.encoding.data(), certificate.encoding.size()));
        if (encoding.get() == nullptr) return nullptr;
        env->SetObjectArrayElement(encodings.get(), i, encoding.get());
        if (certificate.hasKey && !certificate.container.empty()) {
            // The name's UTF-16 units, low byte first, as Java reads UTF_16LE.
            std::vector<unsigned char> units;
            for (char16_t unit : certificate.container) {
                units.push_back(static_cast<unsigned char>(unit & 0xFF));
                units.push_back(static_cast<unsigned char>(unit >> 8));
            }
            ScopedLocalRef<jbyteArray> container(env, resultBytes(env, units.data(), units.size()));
            if (container.get() == nullptr) return nullptr;
            env->SetObjectArrayElement(containers.get(), i, container.get());
        }
        flags[static_cast<size_t>(i)] = certificate.hasKey ? JNI_TRUE : JNI_FALSE;
        cngFlags[static_cast<size_t>(i)] = certificate.cngKey ? JNI_TRUE : JNI_FALSE;
    }
    if (count > 0) {
        env->SetBooleanArrayRegion(hasKey.get(), 0, count, flags.data());
        env->SetBooleanArrayRegion(cngKey.get(), 0, count, cngFlags.data());
    }
    ScopedLocalRef<jclass> type(env, env->FindClass(kListingClass));
    if (type.get() == nullptr) return nullptr;
    jmethodID constructor = env->GetMethodID(type.get(), "<init>", kListingConstructor);
    if (constructor == nullptr) return nullptr;
    return env->NewObject(type.get(), constructor, encodings.get(), hasKey.get(), cngKey.get(),
                          containers.get());
}

// The digests by the numbers Java's Digest gives them; SHA-224 has no CryptoAPI number, and
// ECDSA, which signs it, needs none.
ALG_ID algorithmOf(jint digest) {
    switch (digest) {
        case 1: return CALG_MD5;
        case 2: return CALG_SHA1;
        case 4: return CALG_SHA_256;
        case 5: return CALG_SHA_384;
        case 6: return CALG_SHA_512;
        case 7: return CALG_SSL3_SHAMD5;
        default: return 0;
    }
}

// CNG's signature paddings by the numbers Java's SignaturePadding gives them.
DWORD cngSignaturePadding(jint padding) {
    switch (padding) {
        case 1: return BCRYPT_PAD_PKCS1;
        case 2: return BCRYPT_PAD_PSS;
        default: return 0;
    }
}

// A key of the certificate of the location's "My", opened at its first use: the certificate, the
// key algorithm and the PIN taken from Java; 0 with what failed thrown.
jlong newKeyHandle(JNIEnv* env, jboolean localMachine, jbyteArray certificate,
                   jstring keyAlgorithm, jbyteArray pin) {
    JavaBytes certificateBytes(env, certificate);
    if (!certificateBytes.valid()) return throwArgumentUnavailable(env, certificate, "certificate"), 0;
    JavaChars algorithm(env, keyAlgorithm);
    if (!algorithm.valid()) return throwArgumentUnavailable(env, keyAlgorithm, "keyAlgorithm"), 0;
    SecureBytes pinBytes;
    if (!takePin(env, pin, pinBytes)) return throwArgumentUnavailable(env, pin, "pin"), 0;
    auto* key = new keyops::HeldKey(locationOf(localMachine), certificateBytes.data(),
                                    certificateBytes.size(), algorithm.get(), std::move(pinBytes));
    return handleOf(key);
}

// One operation of a held key on one byte[] of input: `run` given the input with the call's
// context, and its `Result` handed back as a byte[], or null with what failed thrown.
template <typename Result, typename Run>
jbyteArray keyOperation(JNIEnv* env, jbyteArray input, const char* inputName, Run run) {
    JavaBytes inputBytes(env, input);
    if (!inputBytes.valid()) return throwArgumentUnavailable(env, input, inputName), nullptr;
    Result result;
    diagnostics::JavaCallLog log(env);
    keyops::CallContext context(log.sink());
    if (!run(context, inputBytes.data(), inputBytes.size(), result))
        return throwFailure(env, context.outcome), nullptr;
    return resultBytes(env, result.data(), result.size());
}

jbyteArray signHash(JNIEnv* env, jlong key, jint digest, jbyteArray hash) {
    return keyOperation<std::vector<BYTE>>(
        env, hash, "hash",
        [&](keyops::CallContext& context, const BYTE* bytes, DWORD length,
            std::vector<BYTE>& signature) {
            return heldKey(key)->sign(context, algorithmOf(digest), bytes, length, signature);
        });
}

jbyteArray signCng(JNIEnv* env, jlong key, jbyteArray hash, jint signaturePadding, jint digest,
                   jint saltLength) {
    const keyops::CngPadding padding = {cngSignaturePadding(signaturePadding), algorithmOf(digest),
                                        static_cast<DWORD>(saltLength)};
    return keyOperation<std::vector<BYTE>>(
        env, hash, "hash",
        [&](keyops::CallContext& context, const BYTE* bytes, DWORD length,
            std::vector<BYTE>& signature) {
            return heldKey(key)->signCng(context, padding, bytes, length, signature);
        });
}

jbyteArray decrypt(JNIEnv* env, jlong key, jbyteArray cipherText, jboolean oaep) {
    const keyops::RsaPadding padding = oaep ? keyops::RsaPadding::Oaep : keyops::RsaPadding::Pkcs1;
    return keyOperation<SecureBytes>(
        env, cipherText, "cipherText",
        [&](keyops::CallContext& context, const BYTE* bytes, DWORD length, SecureBytes& plainText) {
            return heldKey(key)->decrypt(context, padding, bytes, length, plainText);
        });
}

jbyteArray decryptCng(JNIEnv* env, jlong key, jbyteArray cipherText, jboolean oaep, jint digest,
                      jbyteArray label) {
    // No label and an empty one are the same to OAEP.
    JavaBytes labelBytes(env, label);
    if (label != nullptr && !labelBytes.valid())
        return throwArgumentUnavailable(env, label, "label"), nullptr;
    const keyops::CngPadding padding = {
        oaep ? static_cast<DWORD>(BCRYPT_PAD_OAEP) : BCRYPT_PAD_PKCS1, algorithmOf(digest), 0,
        labelBytes.valid() && labelBytes.size() > 0 ? labelBytes.data() : nullptr,
        labelBytes.valid() ? labelBytes.size() : 0};
    return keyOperation<SecureBytes>(
        env, cipherText, "cipherText",
        [&](keyops::CallContext& context, const BYTE* bytes, DWORD length, SecureBytes& plainText) {
            return heldKey(key)->decryptCng(context, padding, bytes, length, plainText);
        });
}

jbyteArray rawRsa(JNIEnv* env, jlong key, jbyteArray block) {
    return keyOperation<SecureBytes>(
        env, block, "block",
        [&](keyops::CallContext& context, const BYTE* bytes, DWORD length, SecureBytes& result) {
            return heldKey(key)->rawRsa(context, bytes, length, result);
        });
}

jobject listStore(JNIEnv* env, jboolean localMachine, jstring storeName) {
    JavaChars name(env, storeName);
    if (!name.valid()) return throwArgumentUnavailable(env, storeName, "storeName"), nullptr;
    diagnostics::JavaCallLog log(env);
    keyops::CallContext context(log.sink());
    std::vector<keyops::ListedCertificate> listed =
        keyops::listStoreEntries(context, {locationOf(localMachine), name.get()});
    if (context.outcome.failed()) return throwFailure(env, context.outcome), nullptr;
    jobject listing = toListing(env, listed);
    if (listing == nullptr) throwOutOfMemory(env);
    return listing;
}

// What the change did (ERROR_SUCCESS, or CRYPT_E_NOT_FOUND for a deletion of nothing), any
// failure thrown; ERROR_SUCCESS for an argument the virtual machine could not give, thrown too.
template <typename Change>
DWORD changeStore(JNIEnv* env, jboolean localMachine, jstring storeName, jbyteArray encoding,
                  Change change, uint32_t failedStatus) {
    JavaChars name(env, storeName);
    if (!name.valid()) return throwArgumentUnavailable(env, storeName, "storeName"), ERROR_SUCCESS;
    JavaBytes bytes(env, encoding);
    if (!bytes.valid()) return throwArgumentUnavailable(env, encoding, "encoding"), ERROR_SUCCESS;
    diagnostics::JavaCallLog log(env);
    keyops::CallContext context(log.sink());
    const keyops::SystemStore store = {locationOf(localMachine), name.get()};
    keyops::StoreChange done = change(context, store, bytes.data(), bytes.size());
    if (context.outcome.failed())
        throwFailure(env, context.outcome);
    else if (done.error != ERROR_SUCCESS && done.error != static_cast<DWORD>(CRYPT_E_NOT_FOUND))
        throwFailure(env, failedStatus, done.step, done.error);
    return done.error;
}

}  // namespace

extern "C" {

JNIEXPORT jlong JNICALL Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_newKeyHandle(
    JNIEnv* env, jclass, jboolean localMachine, jbyteArray certificate, jstring keyAlgorithm,
    jbyteArray pin) {
    return guardProviderNative(
        env, [&] { return newKeyHandle(env, localMachine, certificate, keyAlgorithm, pin); });
}

// Java frees a handle once, and only when no call is using it.
JNIEXPORT void JNICALL Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_freeKeyHandle(
    JNIEnv* env, jclass, jlong key) {
    guardProviderNative(env, [&] { delete heldKey(key); });
}

JNIEXPORT jbyteArray JNICALL Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_signHash(
    JNIEnv* env, jclass, jlong key, jint digest, jbyteArray hash) {
    return guardProviderNative(env, [&] { return signHash(env, key, digest, hash); });
}

JNIEXPORT jbyteArray JNICALL Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_decrypt(
    JNIEnv* env, jclass, jlong key, jbyteArray cipherText, jboolean oaep) {
    return guardProviderNative(env, [&] { return decrypt(env, key, cipherText, oaep); });
}

JNIEXPORT jbyteArray JNICALL Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_rawRsa(
    JNIEnv* env, jclass, jlong key, jbyteArray block) {
    return guardProviderNative(env, [&] { return rawRsa(env, key, block); });
}

JNIEXPORT jbyteArray JNICALL Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_signCng(
    JNIEnv* env, jclass, jlong key, jbyteArray hash, jint padding, jint digest, jint saltLength) {
    return guardProviderNative(
        env, [&] { return signCng(env, key, hash, padding, digest, saltLength); });
}

JNIEXPORT jbyteArray JNICALL Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_decryptCng(
    JNIEnv* env, jclass, jlong key, jbyteArray cipherText, jboolean oaep, jint digest,
    jbyteArray label) {
    return guardProviderNative(
        env, [&] { return decryptCng(env, key, cipherText, oaep, digest, label); });
}

JNIEXPORT jobject JNICALL Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_listStore(
    JNIEnv* env, jclass, jboolean localMachine, jstring storeName) {
    return guardProviderNative(env, [&] { return listStore(env, localMachine, storeName); });
}

JNIEXPORT void JNICALL Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_addCertificate(
    JNIEnv* env, jclass, jboolean localMachine, jstring storeName, jbyteArray encoding) {
    guardProviderNative(env, [&] {
        changeStore(env, localMachine, storeName, encoding, keyops::addCertificateAt,
                    diagnostics::kStatusCertificateNotAdded);
    });
}

JNIEXPORT jboolean JNICALL Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_deleteCertificate(
    JNIEnv* env, jclass, jboolean localMachine, jstring storeName, jbyteArray encoding) {
    return guardProviderNative(env, [&]() -> jboolean {
        DWORD error = changeStore(env, localMachine, storeName, encoding, keyops::deleteCertificateAt,
                                  diagnostics::kStatusCertificateNotDeleted);
        return error == ERROR_SUCCESS ? JNI_TRUE : JNI_FALSE;
    });
}

}  // extern "C"
