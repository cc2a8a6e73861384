// BrowserSignature's natives: signing, and the two status words.
#include "com_quendrilax_browser_keystore_provider_signature_BrowserSignature.h"

#include <vector>

#include "common/secure_bytes.h"
#include "diagnostics/log_forward.h"
#include "diagnostics/status.h"
#include "javahost/java_host.h"
#include "jni/java_pin.h"
#include "jni/native_guard.h"
#include "keyops/sign.h"

namespace {

using common::SecureBytes;
using javahost::JavaBytes;
using javahost::JavaChars;
using javahost::newJavaBytes;

jbyteArray signData(JNIEnv* env, jint digestAlgorithm, jstring keyAlgorithm, jbyteArray certificate,
                    jbyteArray data, jbyteArray password, bool dataIsHash) {
    JavaBytes dataBytes(env, data);
    JavaBytes certificateBytes(env, certificate);
    JavaChars algorithm(env, keyAlgorithm);
    if (!dataBytes.valid() || !certificateBytes.valid() || !algorithm.valid()) return nullptr;
    // An empty password is no password.
    SecureBytes pin;
    if (!takePin(env, password, pin)) return nullptr;
    std::vector<BYTE> signature;
    keyops::CallContext context(diagnostics::javaLogSink(env));
    bool signedData = keyops::signWithCertificate(
        context, certificateBytes.data(), certificateBytes.size(),
        static_cast<ALG_ID>(digestAlgorithm), algorithm.get(), dataBytes.data(), dataBytes.size(),
        signature, pinText(pin), dataIsHash);
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
