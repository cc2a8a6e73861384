// The QDIE provider's natives: each returns its result, or throws the NativeFailure of its own
// call (status, step and Windows error), so that nothing is read back from the status words.
// Every step is logged as the ten natives log theirs.
#include "com_quendrilax_browser_keystore_provider_spi_ProviderNatives.h"

#include <vector>

#include "common/secure_bytes.h"
#include "diagnostics/log_forward.h"
#include "diagnostics/status.h"
#include "javahost/java_host.h"
#include "jni/java_pin.h"
#include "jni/provider_failures.h"
#include "keyops/cng_operations.h"
#include "keyops/decrypt.h"
#include "keyops/sign.h"
#include "keyops/system_stores.h"

namespace {

using common::SecureBytes;
using javahost::JavaBytes;
using javahost::JavaChars;
using javahost::newJavaBytes;
using javahost::ScopedLocalRef;
using provider_natives::guardProviderNative;
using provider_natives::throwArgumentUnavailable;
using provider_natives::throwFailure;
using provider_natives::throwOutOfMemory;

const char kListingClass[] = "com/quendrilax/browser/keystore/provider/spi/StoreListing";
const char kListingConstructor[] = "([[B[Z[Z)V";
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
    std::vector<jboolean> flags(listed.size());
    std::vector<jboolean> cngFlags(listed.size());
    for (jsize i = 0; i < count; ++i) {
        const keyops::ListedCertificate& certificate = listed[static_cast<size_t>(i)];
        // One local reference per certificate would pile up in a large store.
        ScopedLocalRef<jbyteArray> encoding(
            env, resultBytes(env, certificate.encoding.data(), certificate.encoding.size()));
        if (encoding.get() == nullptr) return nullptr;
        env->SetObjectArrayElement(encodings.get(), i, encoding.get());
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
    return env->NewObject(type.get(), constructor, encodings.get(), hasKey.get(), cngKey.get());
}

jbyteArray signHash(JNIEnv* env, jint hashAlgorithm, jstring keyAlgorithm, jbyteArray certificate,
                    jbyteArray hash, jbyteArray pin) {
    JavaBytes certificateBytes(env, certificate);
    if (!certificateBytes.valid()) return throwArgumentUnavailable(env, certificate, "certificate"), nullptr;
    JavaBytes hashBytes(env, hash);
    if (!hashBytes.valid()) return throwArgumentUnavailable(env, hash, "hash"), nullptr;
    JavaChars algorithm(env, keyAlgorithm);
    if (!algorithm.valid()) return throwArgumentUnavailable(env, keyAlgorithm, "keyAlgorithm"), nullptr;
    SecureBytes pinBytes;
    if (!takePin(env, pin, pinBytes)) return throwArgumentUnavailable(env, pin, "pin"), nullptr;

    std::vector<BYTE> signature;
    diagnostics::JavaCallLog log(env);
    keyops::CallContext context(log.sink());
    if (!keyops::signWithCertificate(context, certificateBytes.data(), certificateBytes.size(),
                                     static_cast<ALG_ID>(hashAlgorithm), algorithm.get(),
                                     hashBytes.data(), hashBytes.size(), signature,
                                     pinText(pinBytes), true))
        return throwFailure(env, context.outcome), nullptr;
    return resultBytes(env, signature.data(), signature.size());
}

// One operation with a certificate's key on one byte[] of input: the certificate, the input and
// the PIN taken from Java, `run` given them with the call's context, and its `Result` handed back
// as a byte[], or null with what failed thrown.
template <typename Result, typename Run>
jbyteArray keyOperation(JNIEnv* env, jbyteArray certificate, jbyteArray input,
                        const char* inputName, jbyteArray pin, Run run) {
    JavaBytes certificateBytes(env, certificate);
    if (!certificateBytes.valid()) return throwArgumentUnavailable(env, certificate, "certificate"), nullptr;
    JavaBytes inputBytes(env, input);
    if (!inputBytes.valid()) return throwArgumentUnavailable(env, input, inputName), nullptr;
    SecureBytes pinBytes;
    if (!takePin(env, pin, pinBytes)) return throwArgumentUnavailable(env, pin, "pin"), nullptr;

    Result result;
    diagnostics::JavaCallLog log(env);
    keyops::CallContext context(log.sink());
    if (!run(context, certificateBytes, inputBytes, pinText(pinBytes), result))
        return throwFailure(env, context.outcome), nullptr;
    return resultBytes(env, result.data(), result.size());
}

jbyteArray decrypt(JNIEnv* env, jbyteArray certificate, jbyteArray cipherText, jboolean oaep,
                   jbyteArray pin) {
    const keyops::RsaPadding padding = oaep ? keyops::RsaPadding::Oaep : keyops::RsaPadding::Pkcs1;
    return keyOperation<SecureBytes>(
        env, certificate, cipherText, "cipherText", pin,
        [&](keyops::CallContext& context, const JavaBytes& certificateBytes,
            const JavaBytes& cipherBytes, const char* pinText, SecureBytes& plainText) {
            return keyops::decryptWithPadding(context, certificateBytes.data(),
                                              certificateBytes.size(), cipherBytes.data(),
                                              cipherBytes.size(), padding, plainText, pinText);
        });
}

jbyteArray rawRsa(JNIEnv* env, jbyteArray certificate, jbyteArray block, jbyteArray pin) {
    return keyOperation<SecureBytes>(
        env, certificate, block, "block", pin,
        [](keyops::CallContext& context, const JavaBytes& certificateBytes,
           const JavaBytes& blockBytes, const char* pinText, SecureBytes& result) {
            return keyops::rawRsaWithCertificate(context, certificateBytes.data(),
                                                 certificateBytes.size(), blockBytes.data(),
                                                 blockBytes.size(), result, pinText);
        });
}

jbyteArray signCng(JNIEnv* env, jbyteArray certificate, jbyteArray hash, jint scheme,
                   jint hashAlgorithm, jint saltLength, jbyteArray pin) {
    const keyops::CngPadding padding = {static_cast<DWORD>(scheme),
                                        static_cast<ALG_ID>(hashAlgorithm),
                                        static_cast<DWORD>(saltLength)};
    return keyOperation<std::vector<BYTE>>(
        env, certificate, hash, "hash", pin,
        [&](keyops::CallContext& context, const JavaBytes& certificateBytes,
            const JavaBytes& hashBytes, const char* pinText, std::vector<BYTE>& signature) {
            return keyops::signThroughCng(context, certificateBytes.data(),
                                          certificateBytes.size(), padding, hashBytes.data(),
                                          hashBytes.size(), signature, pinText);
        });
}

jbyteArray decryptCng(JNIEnv* env, jbyteArray certificate, jbyteArray cipherText, jint scheme,
                      jint hashAlgorithm, jbyteArray label, jbyteArray pin) {
    // No label and an empty one are the same to OAEP.
    JavaBytes labelBytes(env, label);
    if (label != nullptr && !labelBytes.valid())
        return throwArgumentUnavailable(env, label, "label"), nullptr;
    const keyops::CngPadding padding = {
        static_cast<DWORD>(scheme), static_cast<ALG_ID>(hashAlgorithm), 0,
        labelBytes.valid() && labelBytes.size() > 0 ? labelBytes.data() : nullptr,
        labelBytes.valid() ? labelBytes.size() : 0};
    return keyOperation<SecureBytes>(
        env, certificate, cipherText, "cipherText", pin,
        [&](keyops::CallContext& context, const JavaBytes& certificateBytes,
            const JavaBytes& cipherBytes, const char* pinText, SecureBytes& plainText) {
            return keyops::decryptThroughCng(context, certificateBytes.data(),
                                             certificateBytes.size(), padding, cipherBytes.data(),
                                             cipherBytes.size(), plainText, pinText);
        });
}

jobject listStore(JNIEnv* env, jstring storeName) {
    JavaChars name(env, storeName);
    if (!name.valid()) return throwArgumentUnavailable(env, storeName, "storeName"), nullptr;
    diagnostics::JavaCallLog log(env);
    keyops::CallContext context(log.sink());
    std::vector<keyops::ListedCertificate> listed = keyops::listStoreEntries(context, name.get());
    if (context.outcome.failed()) return throwFailure(env, context.outcome), nullptr;
    jobject listing = toListing(env, listed);
    if (listing == nullptr) throwOutOfMemory(env);
    return listing;
}

// What the change did (ERROR_SUCCESS, or CRYPT_E_NOT_FOUND for a deletion of nothing), any
// failure thrown; ERROR_SUCCESS for an argument the virtual machine could not give, thrown too.
template <typename Change>
DWORD changeStore(JNIEnv* env, jstring storeName, jbyteArray encoding, Change change,
                  uint32_t failedStatus) {
    JavaChars name(env, storeName);
    if (!name.valid()) return throwArgumentUnavailable(env, storeName, "storeName"), ERROR_SUCCESS;
    JavaBytes bytes(env, encoding);
    if (!bytes.valid()) return throwArgumentUnavailable(env, encoding, "encoding"), ERROR_SUCCESS;
    diagnostics::JavaCallLog log(env);
    keyops::CallContext context(log.sink());
    keyops::StoreChange done = change(context, name.get(), bytes.data(), bytes.size());
    if (context.outcome.failed())
        throwFailure(env, context.outcome);
    else if (done.error != ERROR_SUCCESS && done.error != static_cast<DWORD>(CRYPT_E_NOT_FOUND))
        throwFailure(env, failedStatus, done.step, done.error);
    return done.error;
}

}  // namespace

extern "C" {

JNIEXPORT jbyteArray JNICALL Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_signHash(
    JNIEnv* env, jclass, jint hashAlgorithm, jstring keyAlgorithm, jbyteArray certificate,
    jbyteArray hash, jbyteArray pin) {
    return guardProviderNative(
        env, [&] { return signHash(env, hashAlgorithm, keyAlgorithm, certificate, hash, pin); });
}

JNIEXPORT jbyteArray JNICALL Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_decrypt(
    JNIEnv* env, jclass, jbyteArray certificate, jbyteArray cipherText, jboolean oaep,
    jbyteArray pin) {
    return guardProviderNative(env,
                               [&] { return decrypt(env, certificate, cipherText, oaep, pin); });
}

JNIEXPORT jbyteArray JNICALL Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_rawRsa(
    JNIEnv* env, jclass, jbyteArray certificate, jbyteArray block, jbyteArray pin) {
    return guardProviderNative(env, [&] { return rawRsa(env, certificate, block, pin); });
}

JNIEXPORT jbyteArray JNICALL Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_signCng(
    JNIEnv* env, jclass, jbyteArray certificate, jbyteArray hash, jint scheme, jint hashAlgorithm,
    jint saltLength, jbyteArray pin) {
    return guardProviderNative(env, [&] {
        return signCng(env, certificate, hash, scheme, hashAlgorithm, saltLength, pin);
    });
}

JNIEXPORT jbyteArray JNICALL Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_decryptCng(
    JNIEnv* env, jclass, jbyteArray certificate, jbyteArray cipherText, jint scheme,
    jint hashAlgorithm, jbyteArray label, jbyteArray pin) {
    return guardProviderNative(env, [&] {
        return decryptCng(env, certificate, cipherText, scheme, hashAlgorithm, label, pin);
    });
}

JNIEXPORT jobject JNICALL Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_listStore(
    JNIEnv* env, jclass, jstring storeName) {
    return guardProviderNative(env, [&] { return listStore(env, storeName); });
}

JNIEXPORT void JNICALL Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_addCertificate(
    JNIEnv* env, jclass, jstring storeName, jbyteArray encoding) {
    guardProviderNative(env, [&] {
        changeStore(env, storeName, encoding, keyops::addCertificate,
                    diagnostics::kStatusCertificateNotAdded);
    });
}

JNIEXPORT jboolean JNICALL Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_deleteCertificate(
    JNIEnv* env, jclass, jstring storeName, jbyteArray encoding) {
    return guardProviderNative(env, [&]() -> jboolean {
        DWORD error = changeStore(env, storeName, encoding, keyops::deleteCertificate,
                                  diagnostics::kStatusCertificateNotDeleted);
        return error == ERROR_SUCCESS ? JNI_TRUE : JNI_FALSE;
    });
}

}  // extern "C"
