// RSACipher's natives: decryption with a certificate's key-exchange key.
#include "com_quendrilax_browser_cipher_RSACipher.h"

#include "diagnostics/log_forward.h"
#include "javahost/java_host.h"
#include "jni/native_guard.h"
#include "keyops/decrypt.h"

namespace {

using common::SecureBytes;
using javahost::JavaBytes;
using javahost::newJavaBytes;

jbyteArray decryptCipherText(JNIEnv* env, jbyteArray certificate, jbyteArray cipherText) {
    JavaBytes cipherBytes(env, cipherText);
    JavaBytes certificateBytes(env, certificate);
    if (!cipherBytes.valid() || !certificateBytes.valid()) return nullptr;
    SecureBytes plainText;
    keyops::CallContext context(diagnostics::javaLogSink(env));
    bool decrypted = keyops::decryptWithCertificate(context, certificateBytes.data(),
                                                    certificateBytes.size(), cipherBytes.data(),
                                                    cipherBytes.size(), plainText);
    keyops::recordInStatusWords(context.outcome);
    if (!decrypted) return nullptr;
    return newJavaBytes(env, plainText.data(), plainText.size());
}

}  // namespace

extern "C" {

// The password plays no part: decryption sets no PIN on the provider.
JNIEXPORT jbyteArray JNICALL Java_com_quendrilax_browser_cipher_RSACipher_decryptWithPassword(
    JNIEnv* env, jclass, jbyteArray certificate, jbyteArray cipherText, jbyteArray) {
    return guardNative(env, [&] { return decryptCipherText(env, certificate, cipherText); });
}

JNIEXPORT jbyteArray JNICALL Java_com_quendrilax_browser_cipher_RSACipher_decrypt(
    JNIEnv* env, jclass, jbyteArray certificate, jbyteArray cipherText) {
    return guardNative(env, [&] { return decryptCipherText(env, certificate, cipherText); });
}

}  // extern "C"
