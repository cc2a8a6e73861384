// The replaced operator new of support/failing_allocator.h, preloaded into a JUnit JVM and armed
// from Java: a test arms its thread around a native call and reads back what happened. Built as
// a library of its own for that JVM alone.
#include <jni.h>

#include "support/failing_allocator.h"

namespace {

thread_local ArmedAllocations* tArmed = nullptr;
thread_local int tLastCount = 0;
thread_local bool tLastFailed = false;

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_com_quendrilax_browser_testing_AllocationFaults_arm(JNIEnv*, jclass,
                                                                               jint failAt) {
    delete tArmed;
    tArmed = new ArmedAllocations(failAt);
}

JNIEXPORT jint JNICALL Java_com_quendrilax_browser_testing_AllocationFaults_disarm(JNIEnv*, jclass) {
    if (tArmed == nullptr) return 0;
    tLastCount = tArmed->count();
    tLastFailed = tArmed->failed();
    delete tArmed;
    tArmed = nullptr;
    return tLastCount;
}

JNIEXPORT jboolean JNICALL Java_com_quendrilax_browser_testing_AllocationFaults_failed(JNIEnv*,
                                                                                      jclass) {
    return tLastFailed ? JNI_TRUE : JNI_FALSE;
}

}  // extern "C"
