// The JNI environment type, declared without jni.h so the core can pass it through to the log.
#pragma once

struct JNIEnv_;
typedef JNIEnv_ JNIEnv;  // the same type jni.h declares for C++
