// The library's side of the JNI environment, in scoped pieces: array bytes and string characters
// given back to the virtual machine when the scope ends, local references deleted, new arrays,
// and no Java exception ever left pending for the caller to meet. Header-only: the log's
// forwarding and the natives both build on it, and it needs nothing but jni.h.
#pragma once

#include <jni.h>

#include <cstddef>
#include <cstdint>

namespace javahost {

// Discards whatever exception a JNI call left pending; true if there was one.
inline bool clearPendingException(JNIEnv* env) {
    if (!env->ExceptionCheck()) return false;
    env->ExceptionClear();
    return true;
}

// A local reference deleted when it goes out of scope: the log is called in loops, and a native
// call may only hold a few local references at once.
template <typename Ref>
class ScopedLocalRef {
public:
    ScopedLocalRef(JNIEnv* env, Ref ref) : env_(env), ref_(ref) {}
    ~ScopedLocalRef() {
        if (ref_ != nullptr) env_->DeleteLocalRef(ref_);
    }
    ScopedLocalRef(const ScopedLocalRef&) = delete;
    ScopedLocalRef& operator=(const ScopedLocalRef&) = delete;

    Ref get() const { return ref_; }

private:
    JNIEnv* env_;
    Ref ref_;
};

// The elements of a byte array, read only. Not valid() for a null array or when the virtual
// machine cannot provide them.
class JavaBytes {
public:
    JavaBytes(JNIEnv* env, jbyteArray array) : env_(env), array_(array) {
        if (array == nullptr) return;
        length_ = env->GetArrayLength(array);
        bytes_ = env->GetByteArrayElements(array, nullptr);
        if (bytes_ == nullptr) clearPendingException(env);
    }
    ~JavaBytes() {
        // Never written: nothing to copy back.
        if (bytes_ != nullptr) env_->ReleaseByteArrayElements(array_, bytes_, JNI_ABORT);
    }
    JavaBytes(const JavaBytes&) = delete;
    JavaBytes& operator=(const JavaBytes&) = delete;

    bool valid() const { return bytes_ != nullptr; }
    const unsigned char* data() const { return reinterpret_cast<const unsigned char*>(bytes_); }
    uint32_t size() const { return static_cast<uint32_t>(length_); }

private:
    JNIEnv* env_;
    jbyteArray array_;
    jsize length_ = 0;
    jbyte* bytes_ = nullptr;
};

// The modified UTF-8 characters of a string. Not valid() for a null string or when the virtual
// machine cannot provide them.
class JavaChars {
public:
    JavaChars(JNIEnv* env, jstring string) : env_(env), string_(string) {
        if (string == nullptr) return;
        chars_ = env->GetStringUTFChars(string, nullptr);
        if (chars_ == nullptr) clearPendingException(env);
    }
    ~JavaChars() {
        if (chars_ != nullptr) env_->ReleaseStringUTFChars(string_, chars_);
    }
    JavaChars(const JavaChars&) = delete;
    JavaChars& operator=(const JavaChars&) = delete;

    bool valid() const { return chars_ != nullptr; }
    const char* get() const { return chars_; }

private:
    JNIEnv* env_;
    jstring string_;
    const char* chars_ = nullptr;
};

// A new byte[] holding a copy of the bytes, or null (exception cleared) when it cannot be made.
inline jbyteArray newJavaBytes(JNIEnv* env, const unsigned char* bytes, size_t length) {
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

}  // namespace javahost
