#include "support/fault_jni_env.h"

#include <cstddef>

namespace {

JNIEnv* realOf(JNIEnv* env) {
    return FaultInjectingJniEnv::of(env).real();
}

// Throws OutOfMemoryError in the real environment when this call is the one to fail.
bool outOfMemory(JNIEnv* env) {
    FaultInjectingJniEnv& owner = FaultInjectingJniEnv::of(env);
    if (!owner.failing()) return false;
    JNIEnv* real = owner.real();
    jclass error = real->FindClass("java/lang/OutOfMemoryError");
    real->ThrowNew(error, "injected by the test");
    real->DeleteLocalRef(error);
    return true;
}

template <typename Reference>
Reference counted(JNIEnv* env, Reference reference) {
    if (reference != nullptr) FaultInjectingJniEnv::of(env).madeReference(+1);
    return reference;
}

jclass JNICALL findClass(JNIEnv* env, const char* name) {
    if (outOfMemory(env)) return nullptr;
    return counted(env, realOf(env)->FindClass(name));
}

jmethodID JNICALL getStaticMethodId(JNIEnv* env, jclass type, const char* name, const char* sig) {
    if (outOfMemory(env)) return nullptr;
    return realOf(env)->GetStaticMethodID(type, name, sig);
}

jstring JNICALL newStringUtf(JNIEnv* env, const char* chars) {
    if (outOfMemory(env)) return nullptr;
    return counted(env, realOf(env)->NewStringUTF(chars));
}

void JNICALL callStaticVoidMethodV(JNIEnv* env, jclass type, jmethodID method, va_list args) {
    realOf(env)->CallStaticVoidMethodV(type, method, args);
}

jboolean JNICALL callStaticBooleanMethodV(JNIEnv* env, jclass type, jmethodID method,
                                          va_list args) {
    return realOf(env)->CallStaticBooleanMethodV(type, method, args);
}

jboolean JNICALL exceptionCheck(JNIEnv* env) {
    return realOf(env)->ExceptionCheck();
}

void JNICALL exceptionClear(JNIEnv* env) {
    realOf(env)->ExceptionClear();
}

jsize JNICALL getArrayLength(JNIEnv* env, jarray array) {
    return realOf(env)->GetArrayLength(array);
}

jbyte* JNICALL getByteArrayElements(JNIEnv* env, jbyteArray array, jboolean* isCopy) {
    if (outOfMemory(env)) return nullptr;
    jbyte* bytes = realOf(env)->GetByteArrayElements(array, isCopy);
    if (bytes != nullptr) FaultInjectingJniEnv::of(env).tookElements(+1);
    return bytes;
}

void JNICALL releaseByteArrayElements(JNIEnv* env, jbyteArray array, jbyte* bytes, jint mode) {
    FaultInjectingJniEnv::of(env).tookElements(-1);
    realOf(env)->ReleaseByteArrayElements(array, bytes, mode);
}

void JNICALL getByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize length,
                                jbyte* buffer) {
    realOf(env)->GetByteArrayRegion(array, start, length, buffer);
}

const char* JNICALL getStringUtfChars(JNIEnv* env, jstring string, jboolean* isCopy) {
    if (outOfMemory(env)) return nullptr;
    const char* chars = realOf(env)->GetStringUTFChars(string, isCopy);
    if (chars != nullptr) FaultInjectingJniEnv::of(env).tookElements(+1);
    return chars;
}

void JNICALL releaseStringUtfChars(JNIEnv* env, jstring string, const char* chars) {
    FaultInjectingJniEnv::of(env).tookElements(-1);
    realOf(env)->ReleaseStringUTFChars(string, chars);
}

jbyteArray JNICALL newByteArray(JNIEnv* env, jsize length) {
    if (outOfMemory(env)) return nullptr;
    return counted(env, realOf(env)->NewByteArray(length));
}

void JNICALL setByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize length,
                                const jbyte* buffer) {
    realOf(env)->SetByteArrayRegion(array, start, length, buffer);
}

jclass JNICALL getObjectClass(JNIEnv* env, jobject object) {
    return counted(env, realOf(env)->GetObjectClass(object));
}

jobjectArray JNICALL newObjectArray(JNIEnv* env, jsize length, jclass type, jobject initial) {
    if (outOfMemory(env)) return nullptr;
    return counted(env, realOf(env)->NewObjectArray(length, type, initial));
}

void JNICALL setObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index, jobject value) {
    realOf(env)->SetObjectArrayElement(array, index, value);
}

jmethodID JNICALL getMethodId(JNIEnv* env, jclass type, const char* name, const char* sig) {
    if (outOfMemory(env)) return nullptr;
    return realOf(env)->GetMethodID(type, name, sig);
}

jobject JNICALL newObjectV(JNIEnv* env, jclass type, jmethodID method, va_list args) {
    if (outOfMemory(env)) return nullptr;
    return counted(env, realOf(env)->NewObjectV(type, method, args));
}

jint JNICALL throwObject(JNIEnv* env, jthrowable throwable) {
    return realOf(env)->Throw(throwable);
}

jint JNICALL throwNew(JNIEnv* env, jclass type, const char* message) {
    return realOf(env)->ThrowNew(type, message);
}

jbooleanArray JNICALL newBooleanArray(JNIEnv* env, jsize length) {
    if (outOfMemory(env)) return nullptr;
    return counted(env, realOf(env)->NewBooleanArray(length));
}

void JNICALL setBooleanArrayRegion(JNIEnv* env, jbooleanArray array, jsize start, jsize length,
                                   const jboolean* buffer) {
    realOf(env)->SetBooleanArrayRegion(array, start, length, buffer);
}

void JNICALL deleteLocalRef(JNIEnv* env, jobject reference) {
    if (reference != nullptr) FaultInjectingJniEnv::of(env).madeReference(-1);
    realOf(env)->DeleteLocalRef(reference);
}

}  // namespace

FaultInjectingJniEnv::FaultInjectingJniEnv(JNIEnv* real) : real_(real) {
    table_.FindClass = findClass;
    table_.GetStaticMethodID = getStaticMethodId;
    table_.NewStringUTF = newStringUtf;
    table_.CallStaticVoidMethodV = callStaticVoidMethodV;
    table_.CallStaticBooleanMethodV = callStaticBooleanMethodV;
    table_.ExceptionCheck = exceptionCheck;
    table_.ExceptionClear = exceptionClear;
    table_.GetArrayLength = getArrayLength;
    table_.GetByteArrayElements = getByteArrayElements;
    table_.ReleaseByteArrayElements = releaseByteArrayElements;
    table_.GetByteArrayRegion = getByteArrayRegion;
    table_.GetStringUTFChars = getStringUtfChars;
    table_.ReleaseStringUTFChars = releaseStringUtfChars;
    table_.NewByteArray = newByteArray;
    table_.SetByteArrayRegion = setByteArrayRegion;
    table_.GetObjectClass = getObjectClass;
    table_.NewObjectArray = newObjectArray;
    table_.SetObjectArrayElement = setObjectArrayElement;
    table_.DeleteLocalRef = deleteLocalRef;
    // What the provider's natives use besides: their failures and listings are Java objects.
    table_.GetMethodID = getMethodId;
    table_.NewObjectV = newObjectV;
    table_.Throw = throwObject;
    table_.ThrowNew = throwNew;
    table_.NewBooleanArray = newBooleanArray;
    table_.SetBooleanArrayRegion = setBooleanArrayRegion;
    wrapped_.env.functions = &table_;
    wrapped_.owner = this;
}

FaultInjectingJniEnv& FaultInjectingJniEnv::of(JNIEnv* env) {
    static_assert(offsetof(Wrapped, env) == 0, "the environment leads its wrapper");
    return *reinterpret_cast<Wrapped*>(env)->owner;
}

bool FaultInjectingJniEnv::failing() {
    return ++allocations_ == failAt_;
}
