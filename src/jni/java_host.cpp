#include "jni/java_host.h"

JavaBytes::JavaBytes(JNIEnv* env, jbyteArray array) : env_(env), array_(array) {
    if (array == nullptr) return;
    length_ = env->GetArrayLength(array);
    bytes_ = env->GetByteArrayElements(array, nullptr);
    if (bytes_ == nullptr) clearPendingException(env);
}

JavaBytes::~JavaBytes() {
    // Never written: nothing to copy back.
    if (bytes_ != nullptr) env_->ReleaseByteArrayElements(array_, bytes_, JNI_ABORT);
}

JavaChars::JavaChars(JNIEnv* env, jstring string) : env_(env), string_(string) {
    if (string == nullptr) return;
    chars_ = env->GetStringUTFChars(string, nullptr);
    if (chars_ == nullptr) clearPendingException(env);
}

JavaChars::~JavaChars() {
    if (chars_ != nullptr) env_->ReleaseStringUTFChars(string_, chars_);
}

jbyteArray newJavaBytes(JNIEnv* env, const BYTE* bytes, size_t length) {
    jbyteArray array = env->NewByteArray(static_cast<jsize>(length));
    if (array == nullptr) {
        clearPendingException(env);
        return nullptr;
    }
    if (length != 0)
        env->SetByteArrayRegion(array, 0, static_cast<jsize>(length),
                                reinterpret_cast<const jbyte*>(bytes));
    if (clearPendingException(env)) {
        env->DeleteLocalRef(array);
        return nullptr;
    }
    return array;
}
