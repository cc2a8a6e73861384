// A JNIEnv of our own for driving the natives of the shipped DLL without a virtual machine: a
// function table holding only the JNI functions the library calls (any other entry is null, so a
// call the library should not make crashes the test), over plain byte buffers and strings. It
// records each call of QDBrowserProvider.logJNI and what the provider's natives throw or make
// (NativeFailure, StoreListing), and every misuse a real JVM would punish: a
// call made over a pending exception, a reference used after deletion or of the wrong kind,
// elements or characters never given back, too many local references held at once.
#pragma once

#include <jni.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class FakeJniEnv {
public:
    using Bytes = std::vector<uint8_t>;

    FakeJniEnv();
    FakeJniEnv(const FakeJniEnv&) = delete;
    FakeJniEnv& operator=(const FakeJniEnv&) = delete;

    // Calls an export as the virtual machine would: this environment, a class reference the
    // natives never use, then the Java arguments. Local references of earlier calls stop counting
    // (a JVM frees them when the call returns); what they returned stays readable here.
    template <typename Native, typename... Arguments>
    auto call(Native native, Arguments... arguments) {
        beginNativeCall();
        return native(&env_, nullptr, arguments...);
    }

    // Java arguments, as the application would pass them.
    jbyteArray newByteArray(const Bytes& bytes);
    jobjectArray newByteArrays(const std::vector<Bytes>& arrays);
    jstring newString(const std::string& text);
    // The contents of what a native returned.
    Bytes bytesOf(jbyteArray array);
    std::vector<Bytes> elementsOf(jobjectArray array);
    // A StoreListing the provider's listing returned: each encoding with whether it has a key.
    std::vector<std::pair<Bytes, bool>> listingOf(jobject listing);

    // What a native threw, as the Java code that calls it catches it: a NativeFailure with its
    // status, step and Windows error, or another Throwable with its message.
    struct Thrown {
        std::string className;
        jint status = 0;
        std::string step;
        jint windowsError = 0;
        std::string message;
    };
    // Takes the pending exception, if any, as a catch block would.
    std::optional<Thrown> catchThrown();

    // The messages the natives handed to logJNI, in order.
    const std::vector<std::string>& loggedToJava() const { return loggedToJava_; }
    void forgetLoggedToJava() { loggedToJava_.clear(); }
    // Makes logJNI throw, as a receiver whose own logging fails would.
    void makeReceiverThrow() { receiverThrows_ = true; }
    bool exceptionPending() const { return pending_; }

    // What a JVM would have refused or leaked so far, one line per misuse; empty when none.
    std::vector<std::string> misuse() const;

private:
    enum class Kind { Class, ByteArray, String, ObjectArray, BooleanArray, Instance };
    struct Object {
        Kind kind;
        std::string name;  // a class's name, a string's modified UTF-8 characters, an instance's class
        Bytes bytes;       // an array's elements; a NativeFailure's status and error
        std::vector<std::shared_ptr<Object>> elements;  // an array's; an instance's fields
    };
    struct Reference {
        std::shared_ptr<Object> object;
        bool counted = false;  // made by the running native, freed by it or by its return
        bool deleted = false;
    };

    static FakeJniEnv& of(JNIEnv* env);
    void beginNativeCall();
    jobject refer(std::shared_ptr<Object> object, bool counted);
    Object* resolve(jobject reference, Kind kind, const char* function);
    // False (misuse recorded) when an exception is pending: only a few functions may be called then.
    bool callable(const char* function);
    void raise() { pending_ = true; }

    static jclass JNICALL findClass(JNIEnv* env, const char* name);
    static jmethodID JNICALL getStaticMethodID(JNIEnv* env, jclass type, const char* name,
                                               const char* signature);
    static jstring JNICALL newStringUTF(JNIEnv* env, const char* text);
    static void JNICALL callStaticVoidMethodV(JNIEnv* env, jclass type, jmethodID method,
                                              va_list arguments);
    static jboolean JNICALL exceptionCheck(JNIEnv* env);
    static void JNICALL exceptionClear(JNIEnv* env);
    static jsize JNICALL getArrayLength(JNIEnv* env, jarray array);
    static jbyte* JNICALL getByteArrayElements(JNIEnv* env, jbyteArray array, jboolean* isCopy);
    static void JNICALL releaseByteArrayElements(JNIEnv* env, jbyteArray array, jbyte* elements,
                                                 jint mode);
    static void JNICALL getByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize length,
                                           jbyte* buffer);
    static const char* JNICALL getStringUTFChars(JNIEnv* env, jstring string, jboolean* isCopy);
    static void JNICALL releaseStringUTFChars(JNIEnv* env, jstring string, const char* chars);
    static jbyteArray JNICALL newByteArrayJni(JNIEnv* env, jsize length);
    static jobject JNICALL getObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index);
    static void JNICALL setByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize length,
                                           const jbyte* buffer);
    static jclass JNICALL getObjectClass(JNIEnv* env, jobject object);
    static jobjectArray JNICALL newObjectArray(JNIEnv* env, jsize length, jclass type, jobject initial);
    static void JNICALL setObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index,
                                              jobject element);
    static void JNICALL deleteLocalRef(JNIEnv* env, jobject reference);
    static jmethodID JNICALL getMethodID(JNIEnv* env, jclass type, const char* name,
                                         const char* signature);
    static jobject JNICALL newObjectV(JNIEnv* env, jclass type, jmethodID method, va_list arguments);
    static jint JNICALL throwObject(JNIEnv* env, jthrowable throwable);
    static jint JNICALL throwNew(JNIEnv* env, jclass type, const char* message);
    static jbooleanArray JNICALL newBooleanArray(JNIEnv* env, jsize length);
    static void JNICALL setBooleanArrayRegion(JNIEnv* env, jbooleanArray array, jsize start,
                                              jsize length, const jboolean* buffer);

    JNINativeInterface_ table_{};
    JNIEnv env_{};
    std::map<jobject, Reference> references_;
    uintptr_t nextReference_ = 0x1000;
    // Elements and characters handed out and not yet given back, owned here until they are.
    std::map<const void*, std::unique_ptr<Bytes>> lent_;
    std::vector<std::string> misuse_;
    std::vector<std::string> loggedToJava_;
    bool pending_ = false;
    std::shared_ptr<Object> thrown_;  // the pending exception, when a native threw one
    bool receiverThrows_ = false;
    int liveLocal_ = 0;
    int peakLocal_ = 0;  // the most any one native call held at once
};
