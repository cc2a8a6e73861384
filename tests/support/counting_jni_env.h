// A JNIEnv that hands every call on to a real one and counts the local references made and
// deleted through it. A JVM grows a frame's local references without limit and -Xcheck:jni does
// not complain either, so counting is how a test sees a native that keeps one per item.
#pragma once

#include <jni.h>

class CountingJniEnv {
public:
    explicit CountingJniEnv(JNIEnv* real);
    CountingJniEnv(const CountingJniEnv&) = delete;
    CountingJniEnv& operator=(const CountingJniEnv&) = delete;

    // Pass this to the code under test. Only the calls the natives and the log make are
    // passed on; any other leaves a null entry and crashes the test, to be added here.
    JNIEnv* env() { return &env_; }

    // References made and not yet deleted, and the most there have been at once.
    int live() const { return live_; }
    int peak() const { return peak_; }

private:
    static CountingJniEnv& of(JNIEnv* env);
    template <typename Ref>
    Ref made(Ref ref);
    void deleted();

    // First member: a call's JNIEnv* is the address of this object.
    JNIEnv env_;
    JNIEnv* real_;
    JNINativeInterface_ table_{};
    int live_ = 0;
    int peak_ = 0;
};
