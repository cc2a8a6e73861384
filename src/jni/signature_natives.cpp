// BrowserSignature's natives: signing, and the two status words.
#include "com_quendrilax_browser_keystore_provider_signature_BrowserSignature.h"

#include <vector>

#include "common/secure_bytes.h"
#include "diagnostics/log_forward.h"
#include "diagnostics/status.h"
#include "javahost/java_host.h"
#include "jni/native_guard.h"
#include "keyops/sign.h"

namespace {

using common::SecureBytes;
using javahost::clearPendingException;
using javahost::JavaBytes;
using javahost::JavaChars;
using javahost::newJavaBytes;

// The PIN: the password's bytes and a terminating zero, in memory that is wiped when it goes.
// False when the virtual machine cannot give the bytes.
bool takePin(JNIEnv* env, jbyteArray password, SecureBytes& pin) {
    jsize length = env->GetArrayLength(password);
    SecureBytes copy(static_cast<size_t>(length) + 1);
    env->GetByteArrayRegion(password, 0, length, reinterpret_cast<jbyte*>(copy.data()));
    if (clearPendingException(env)) return false;
    pin = std::move(copy);
    return true;
}

jbyteArray signData(JNIEnv* env, jint digestAlgorithm, jstring keyAlgorithm, jbyteArray certificate,
                    jbyteArray data, jbyteArray password, bool dataIsHash) {
    JavaBytes dataBytes(env, data);
    JavaBytes certificateBytes(env, certificate);
    JavaChars algorithm(env, keyAlgorithm);
    if (!dataBytes.valid() || !certificateBytes.valid() || !algorithm.valid()) return nullptr;
    // An empty password is no password.
    SecureBytes pin;
    if (password != nullptr && env->GetArrayLength(password) > 0 && !takePin(env, password, pin))
        return nullptr;
    std::vector<BYTE> signature;
    keyops::CallContext context(diagnostics::javaLogSink(env));
    bool signedData = keyops::signWithCertificate(
        context, certificateBytes.data(), certificateBytes.size(),
        static_cast<ALG_ID>(digestAlgorithm), algorithm.get(), dataBytes.data(), dataBytes.size(),
        signature, pin.empty() ? nullptr : reinterpret_cast<const char*>(pin.data()), dataIsHash);
    keyops::recordInStatusWords(context.outcome);
    if (!signedData) return nullptr;
    return newJavaBytes(env, signature.data(), signature.size());
}

}  // namespace

extern "C" {

JNIEXPORT jbyteArray JNICALL
Java_com_quendrilax_browser_keystore_provider_signature_BrowserSignature_signDataWithPassword(
    JNIEnv* env, jclass, jint digestAlgorithm, jstring keyAlgorithm, jbyteArray certificate,
    jbyteArray data, jbyteArray password, jboolean dataIsHash) {
    return guardNative(env, [&] {
        return signData(env, digestAlgorithm, keyAlgorithm, certificate, data, password,
                        dataIsHash == JNI_TRUE);
    });
}

JNIEXPORT jbyteArray JNICALL Java_com_quendrilax_browser_keystore_provider_signature_BrowserSignature_sign(
    JNIEnv* env, jclass, jint digestAlgorithm, jstring keyAlgorithm, jbyteArray certificate,
    jbyteArray data) {
    return guardNative(env, [&] {
        return signData(env, digestAlgorithm, keyAlgorithm, certificate, data, nullptr, false);
    });
}

// The same entry as sign: no PIN reaches the provider through it.
JNIEXPORT jbyteArray JNICALL
Java_com_quendrilax_browser_keystore_provider_signature_BrowserSignature_signWithPassword(
    JNIEnv* env, jclass, jint digestAlgorithm, jstring keyAlgorithm, jbyteArray certificate,
    jbyteArray data) {
    return guardNative(env, [&] {
        return signData(env, digestAlgorithm, keyAlgorithm, certificate, data, nullptr, false);
    });
}

// The two readers of the status words read one word each: nothing there can throw.
JNIEXPORT jint JNICALL Java_com_quendrilax_browser_keystore_provider_signature_BrowserSignature_getError(
    JNIEnv*, jclass) {
    return static_cast<jint>(diagnostics::providerError());
}

JNIEXPORT jint JNICALL
Java_com_quendrilax_browser_keystore_provider_signature_BrowserSignature_getLastError(JNIEnv*, jclass) {
    return static_cast<jint>(diagnostics::lastStatus());
}

}  // extern "C"
