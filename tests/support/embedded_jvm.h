// The one JVM of a test process (a process can create only one), running with -Xcheck:jni and
// the class path the build gives the test.
#pragma once

#include <jni.h>

// The main thread's environment; the JVM is created on first use and lives until exit.
JNIEnv* testJvm();
