// The Java side of a native call, taken in scoped pieces: array bytes and string characters
// given back to the virtual machine when the scope ends, new arrays, and no Java exception ever
// left pending for the caller to meet.
#pragma once

#include <jni.h>

#include <cstddef>

#include "diagnostics/java_exceptions.h"
#include "keyops/capi.h"

// The elements of a byte array, read only. Not valid() for a null array or when the virtual
// machine cannot provide them.
class JavaBytes {
public:
    JavaBytes(JNIEnv* env, jbyteArray array);
    ~JavaBytes();
    JavaBytes(const JavaBytes&) = delete;
    JavaBytes& operator=(const JavaBytes&) = delete;

    bool valid() const { return bytes_ != nullptr; }
    const BYTE* data() const { return reinterpret_cast<const BYTE*>(bytes_); }
    DWORD size() const { return static_cast<DWORD>(length_); }

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
    JavaChars(JNIEnv* env, jstring string);
    ~JavaChars();
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
jbyteArray newJavaBytes(JNIEnv* env, const BYTE* bytes, size_t length);
