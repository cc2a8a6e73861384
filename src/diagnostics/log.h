// The diagnostic log: one line per event in <profile>/.quendrilax/jni.log, each line also handed
// to the Java method QDBrowserProvider.logJNI. Logging is on exactly while that folder exists;
// every failure inside the log is silent.
#pragma once

#include <cstddef>

#include "diagnostics/jni_env.h"

namespace diagnostics {

// The longest message a line holds, terminator included; longer messages are cut to fit.
constexpr size_t kLogMessageCapacity = 512;

// Appends "MM/DD/YY HH:MM:SS - message" to the file and, when env is not null, forwards the
// message to Java. Nothing is forwarded when the file could not be opened. No Java exception
// is left pending on return.
void writeLog(const char* message, JNIEnv* env);

// Deletes the log file when it has grown past 512 KiB (524,288 bytes; that size itself stays).
void trimLogFile();

#if defined(__GNUC__)
#define QDIE_PRINTF_FORMAT(formatIndex, firstArg) __attribute__((format(printf, formatIndex, firstArg)))
#else
#define QDIE_PRINTF_FORMAT(formatIndex, firstArg)
#endif

// printf-style: the message is formatted (cut at 511 bytes) only once the file has opened, then
// written and forwarded as writeLog does, with each control byte (below 0x20, and 0x7F) written
// as "\xHH": the values are names from the store or the provider, which must not break a line.
// Its arguments come in writeLog's order, the message's format before env, then the values.
void writeLogFormatted(const char* format, JNIEnv* env, ...) QDIE_PRINTF_FORMAT(1, 3);

}  // namespace diagnostics
