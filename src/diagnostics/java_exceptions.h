// Java exceptions raised under a native call, discarded: no exception the library meets ever
// reaches the Java caller.
#pragma once

#include <jni.h>

// Discards whatever exception a JNI call left pending; true if there was one.
bool clearPendingException(JNIEnv* env);
