#include "jni/provider_failures.h"

#include <new>

#include "javahost/java_host.h"

namespace provider_natives {

namespace {

using javahost::clearPendingException;
using javahost::ScopedLocalRef;

const char kFailureClass[] = "com/quendrilax/browser/keystore/provider/spi/NativeFailure";
const char kFailureConstructor[] = "(ILjava/lang/String;I)V";
const char kOutOfMemoryClass[] = "java/lang/OutOfMemoryError";
const char kNullPointerClass[] = "java/lang/NullPointerException";
const char kProviderExceptionClass[] = "java/security/ProviderException";

const char kNativeMemory[] = "the QDIEProvider library ran out of memory";
const char kUnexpected[] = "unexpected failure inside the QDIEProvider library";

void throwNew(JNIEnv* env, const char* className, const char* message) {
    ScopedLocalRef<jclass> type(env, env->FindClass(className));
    // What could not be found or made has left its own error pending.
    if (type.get() != nullptr) env->ThrowNew(type.get(), message);
}

}  // namespace

void throwFailure(JNIEnv* env, uint32_t status, const char* step, DWORD windowsError) {
    ScopedLocalRef<jclass> type(env, env->FindClass(kFailureClass));
    if (type.get() == nullptr) return;
    jmethodID constructor = env->GetMethodID(type.get(), "<init>", kFailureConstructor);
    if (constructor == nullptr) return;
    ScopedLocalRef<jstring> stepName(env, step != nullptr ? env->NewStringUTF(step) : nullptr);
    if (env->ExceptionCheck()) return;
    ScopedLocalRef<jobject> failure(
        env, env->NewObject(type.get(), constructor, static_cast<jint>(status), stepName.get(),
                            static_cast<jint>(windowsError)));
    if (failure.get() != nullptr) env->Throw(static_cast<jthrowable>(failure.get()));
}

void throwFailure(JNIEnv* env, const keyops::Outcome& outcome) {
    throwFailure(env, outcome.code(), outcome.step(), outcome.windowsError());
}

void throwArgumentUnavailable(JNIEnv* env, const void* argument, const char* name) {
    clearPendingException(env);
    if (argument == nullptr)
        throwNew(env, kNullPointerClass, name);
    else
        throwNew(env, kOutOfMemoryClass, name);
}

void throwIllegalArgument(JNIEnv* env, const char* message) {
    clearPendingException(env);
    throwNew(env, "java/lang/IllegalArgumentException", message);
}

void throwOutOfMemory(JNIEnv* env) {
    if (!env->ExceptionCheck()) throwNew(env, kOutOfMemoryClass, kNativeMemory);
}

void throwUnexpected(JNIEnv* env) {
    clearPendingException(env);
    throwNew(env, kProviderExceptionClass, kUnexpected);
}

}  // namespace provider_natives
