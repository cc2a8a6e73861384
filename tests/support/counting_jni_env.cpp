#include "support/counting_jni_env.h"

#include <cstdarg>
#include <type_traits>

CountingJniEnv::CountingJniEnv(JNIEnv* real) : real_(real) {
    // Calls that make no local reference.
    table_.GetArrayLength = [](JNIEnv* env, jarray array) {
        return of(env).real_->GetArrayLength(array);
    };
    table_.GetByteArrayElements = [](JNIEnv* env, jbyteArray array, jboolean* isCopy) {
        return of(env).real_->GetByteArrayElements(array, isCopy);
    };
    table_.ReleaseByteArrayElements = [](JNIEnv* env, jbyteArray array, jbyte* bytes, jint mode) {
        of(env).real_->ReleaseByteArrayElements(array, bytes, mode);
    };
    table_.GetByteArrayRegion = [](JNIEnv* env, jbyteArray array, jsize start, jsize length,
                                   jbyte* bytes) {
        of(env).real_->GetByteArrayRegion(array, start, length, bytes);
    };
    table_.SetByteArrayRegion = [](JNIEnv* env, jbyteArray array, jsize start, jsize length,
                                   const jbyte* bytes) {
        of(env).real_->SetByteArrayRegion(array, start, length, bytes);
    };
    table_.GetStringUTFChars = [](JNIEnv* env, jstring string, jboolean* isCopy) {
        return of(env).real_->GetStringUTFChars(string, isCopy);
    };
    table_.ReleaseStringUTFChars = [](JNIEnv* env, jstring string, const char* chars) {
        of(env).real_->ReleaseStringUTFChars(string, chars);
    };
    table_.SetObjectArrayElement = [](JNIEnv* env, jobjectArray array, jsize index, jobject value) {
        of(env).real_->SetObjectArrayElement(array, index, value);
    };
    table_.GetStaticMethodID = [](JNIEnv* env, jclass type, const char* name, const char* signature) {
        return of(env).real_->GetStaticMethodID(type, name, signature);
    };
    table_.CallStaticVoidMethodV = [](JNIEnv* env, jclass type, jmethodID method, va_list arguments) {
        of(env).real_->CallStaticVoidMethodV(type, method, arguments);
    };
    table_.ExceptionCheck = [](JNIEnv* env) { return of(env).real_->ExceptionCheck(); };
    table_.ExceptionClear = [](JNIEnv* env) { of(env).real_->ExceptionClear(); };

    // Calls that make one, and the one that deletes it.
    table_.NewByteArray = [](JNIEnv* env, jsize length) {
        return of(env).made(of(env).real_->NewByteArray(length));
    };
    table_.NewObjectArray = [](JNIEnv* env, jsize length, jclass type, jobject initial) {
        return of(env).made(of(env).real_->NewObjectArray(length, type, initial));
    };
    table_.GetObjectClass = [](JNIEnv* env, jobject object) {
        return of(env).made(of(env).real_->GetObjectClass(object));
    };
    table_.FindClass = [](JNIEnv* env, const char* name) {
        return of(env).made(of(env).real_->FindClass(name));
    };
    table_.NewStringUTF = [](JNIEnv* env, const char* chars) {
        return of(env).made(of(env).real_->NewStringUTF(chars));
    };
    table_.DeleteLocalRef = [](JNIEnv* env, jobject ref) {
        of(env).real_->DeleteLocalRef(ref);
        if (ref != nullptr) of(env).deleted();
    };
    env_.functions = &table_;
}

CountingJniEnv& CountingJniEnv::of(JNIEnv* env) { return *reinterpret_cast<CountingJniEnv*>(env); }

template <typename Ref>
Ref CountingJniEnv::made(Ref ref) {
    if (ref != nullptr && ++live_ > peak_) peak_ = live_;
    return ref;
}

void CountingJniEnv::deleted() { --live_; }

static_assert(std::is_standard_layout_v<CountingJniEnv>, "a JNIEnv* must lead to its counter");
