#include "diagnostics/log_forward.h"

#include <jni.h>

#include "javahost/java_host.h"

namespace diagnostics {

namespace {

using javahost::clearPendingException;
using javahost::ScopedLocalRef;

const char kReceiverClass[] = "com/quendrilax/browser/keystore/provider/QDBrowserProvider";
const char kReceiverMethod[] = "logJNI";
const char kReceiverSignature[] = "(Ljava/lang/String;)V";

}  // namespace

void latin1ToModifiedUtf8(const char* message, size_t length, char (&text)[kJavaTextCapacity]) {
    size_t out = 0;
    for (size_t in = 0; in < length; ++in) {
        const unsigned char byte = static_cast<unsigned char>(message[in]);
        if (byte < 0x80) {
            text[out++] = static_cast<char>(byte);
        } else {
            text[out++] = static_cast<char>(0xC0 | (byte >> 6));
            text[out++] = static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    text[out] = '\0';
}

void forwardLogLine(JNIEnv* env, const char* message, size_t length) {
    const ScopedLocalRef<jclass> receiver(env, env->FindClass(kReceiverClass));
    if (clearPendingException(env) || receiver.get() == nullptr) return;
    const jmethodID method = env->GetStaticMethodID(receiver.get(), kReceiverMethod, kReceiverSignature);
    if (clearPendingException(env) || method == nullptr) return;

    char text[kJavaTextCapacity];
    latin1ToModifiedUtf8(message, length, text);
    const ScopedLocalRef<jstring> line(env, env->NewStringUTF(text));
    // Out of memory leaves an exception pending, and no Java method may be called over one.
    if (clearPendingException(env) || line.get() == nullptr) return;
    env->CallStaticVoidMethod(receiver.get(), method, line.get());
    clearPendingException(env);
}

LogSink javaLogSink(JNIEnv* env) {
    if (env == nullptr) return LogSink();
    return LogSink([](void* target, const char* text, size_t length) {
        forwardLogLine(static_cast<JNIEnv*>(target), text, length);
    }, env);
}

}  // namespace diagnostics
