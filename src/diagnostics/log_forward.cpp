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
const char kTakerQuestion[] = "takesLogLines";
const char kTakerSignature[] = "()Z";

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

namespace {

// Hands the message to the receiver; no exception stays pending.
void callReceiver(JNIEnv* env, jclass receiver, jmethodID method, const char* message,
                  size_t length) {
    char text[kJavaTextCapacity];
    latin1ToModifiedUtf8(message, length, text);
    const ScopedLocalRef<jstring> line(env, env->NewStringUTF(text));
    // Out of memory leaves an exception pending, and no Java method may be called over one.
    if (clearPendingException(env) || line.get() == nullptr) return;
    env->CallStaticVoidMethod(receiver, method, line.get());
    clearPendingException(env);
}

// QDBrowserProvider.logJNI's class (a new local reference) and method; false when either is
// missing.
bool lookUpReceiver(JNIEnv* env, jclass& receiver, jmethodID& method) {
    receiver = env->FindClass(kReceiverClass);
    if (clearPendingException(env) || receiver == nullptr) return false;
    method = env->GetStaticMethodID(receiver, kReceiverMethod, kReceiverSignature);
    if (!clearPendingException(env) && method != nullptr) return true;
    env->DeleteLocalRef(receiver);
    receiver = nullptr;
    return false;
}

// Whether Java has anywhere to put the call's lines (a listener, a logger at DEBUG): asked once,
// so that a call nobody listens to makes no string and no call into Java for its lines.
bool takesLines(JNIEnv* env, jclass receiver) {
    jmethodID question = env->GetStaticMethodID(receiver, kTakerQuestion, kTakerSignature);
    if (clearPendingException(env) || question == nullptr) return true;
    const jboolean takes = env->CallStaticBooleanMethod(receiver, question);
    return clearPendingException(env) || takes == JNI_TRUE;
}

}  // namespace

void forwardLogLine(JNIEnv* env, const char* message, size_t length) {
    jclass receiver = nullptr;
    jmethodID method = nullptr;
    if (!lookUpReceiver(env, receiver, method)) return;
    const ScopedLocalRef<jclass> owned(env, receiver);
    callReceiver(env, receiver, method, message, length);
}

JavaCallLog::~JavaCallLog() {
    if (receiver_ != nullptr) env_->DeleteLocalRef(receiver_);
}

void JavaCallLog::forward(const char* message, size_t length) {
    if (!lookedUp_) {
        lookedUp_ = true;
        jclass receiver = nullptr;
        jmethodID method = nullptr;
        if (lookUpReceiver(env_, receiver, method)) {
            if (takesLines(env_, receiver)) {
                receiver_ = receiver;
                method_ = method;
            } else {
                env_->DeleteLocalRef(receiver);
            }
        }
    }
    if (receiver_ != nullptr) callReceiver(env_, receiver_, method_, message, length);
}

LogSink JavaCallLog::sink() {
    if (env_ == nullptr) return LogSink(nullptr, nullptr, &session_);
    return LogSink([](void* target, const char* text, size_t length) {
        static_cast<JavaCallLog*>(target)->forward(text, length);
    }, this, &session_);
}

LogSink javaLogSink(JNIEnv* env) {
    if (env == nullptr) return LogSink();
    return LogSink([](void* target, const char* text, size_t length) {
        forwardLogLine(static_cast<JNIEnv*>(target), text, length);
    }, env);
}

}  // namespace diagnostics
