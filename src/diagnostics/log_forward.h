// Hands a log message to the Java application through the static method
// QDBrowserProvider.logJNI(String), leaving no Java exception pending.
#pragma once

#include <cstddef>

#include "diagnostics/jni_env.h"
#include "diagnostics/log.h"

// jni.h's own types, declared as it declares them for C++.
class _jclass;
struct _jmethodID;

namespace diagnostics {

// The longest message with every byte widened to two, and the terminator.
constexpr size_t kJavaTextCapacity = 2 * (kLogMessageCapacity - 1) + 1;

// Names narrowed from UTF-16 keep their low byte, so a message is Latin-1; NewStringUTF reads
// modified UTF-8, where bytes 0x80-0xFF must be two-byte sequences or the JVM mangles them.
// length is at most kLogMessageCapacity - 1; text comes back terminated.
void latin1ToModifiedUtf8(const char* message, size_t length, char (&text)[kJavaTextCapacity]);

// message holds length Latin-1 bytes (at most 511); Java receives them as the same characters.
void forwardLogLine(JNIEnv* env, const char* message, size_t length);

// The sink of a native call: each line to QDBrowserProvider.logJNI through `env`; none when env
// is null.
LogSink javaLogSink(JNIEnv* env);

// The log of one call of the provider's natives: decided once (LogSession), and
// QDBrowserProvider.logJNI looked up at the first line and kept only for the call, as JNI's
// local references are; QDBrowserProvider.takesLogLines asked then, once, so that lines nobody
// takes are not made into Java strings.
class JavaCallLog {
public:
    explicit JavaCallLog(JNIEnv* env) : env_(env) {}
    ~JavaCallLog();
    JavaCallLog(const JavaCallLog&) = delete;
    JavaCallLog& operator=(const JavaCallLog&) = delete;

    LogSink sink();

private:
    void forward(const char* message, size_t length);

    JNIEnv* env_;
    LogSession session_;
    bool lookedUp_ = false;
    _jclass* receiver_ = nullptr;
    _jmethodID* method_ = nullptr;
};

}  // namespace diagnostics
