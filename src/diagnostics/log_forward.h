// Hands a log message to the Java application through the static method
// QDBrowserProvider.logJNI(String), leaving no Java exception pending.
#pragma once

#include <cstddef>

#include "diagnostics/jni_env.h"

// message holds length Latin-1 bytes (at most 511); Java receives them as the same characters.
void forwardLogLine(JNIEnv* env, const char* message, size_t length);
