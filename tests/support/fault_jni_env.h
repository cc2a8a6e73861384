// A JNI environment for driving the natives directly: every call goes to a real JVM, except that
// the nth call of a kind that can fail for want of memory throws OutOfMemoryError and returns
// null, as the JVM does when the heap is full. It counts what the natives take and give back:
// array elements, string characters and local references. Only the JNI functions the library
// is known to call are present; any other is a null pointer, so a new one is noticed at once.
#pragma once

#include <jni.h>

class FaultInjectingJniEnv {
public:
    explicit FaultInjectingJniEnv(JNIEnv* real);
    FaultInjectingJniEnv(const FaultInjectingJniEnv&) = delete;
    FaultInjectingJniEnv& operator=(const FaultInjectingJniEnv&) = delete;

    JNIEnv* env() { return &wrapped_.env; }
    JNIEnv* real() const { return real_; }

    // The nth (from 1) call that can fail for memory does.
    void failAllocation(int nth) { failAt_ = nth; }
    int allocations() const { return allocations_; }

    // Array elements and string characters not given back.
    int heldElements() const { return heldElements_; }
    // Local references made and not deleted, and the most there have been at once.
    int localReferences() const { return localReferences_; }
    int localReferencePeak() const { return localReferencePeak_; }

    // Used by the table's entries.
    static FaultInjectingJniEnv& of(JNIEnv* env);
    bool failing();
    void tookElements(int delta) { heldElements_ += delta; }
    void madeReference(int delta) {
        localReferences_ += delta;
        if (localReferences_ > localReferencePeak_) localReferencePeak_ = localReferences_;
    }

private:
    struct Wrapped {
        JNIEnv env;
        FaultInjectingJniEnv* owner;
    };

    JNIEnv* real_;
    JNINativeInterface_ table_{};
    Wrapped wrapped_;
    int failAt_ = 0;
    int allocations_ = 0;
    int heldElements_ = 0;
    int localReferences_ = 0;
    int localReferencePeak_ = 0;
};
