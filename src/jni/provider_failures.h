// How the provider's natives end a call that did not succeed: with a Java exception pending,
// made in this one place. A failure of the core is a NativeFailure carrying its own status, step
// and Windows error; a failure of the virtual machine's or the library's memory an
// OutOfMemoryError; a null argument a NullPointerException.
#pragma once

#include <jni.h>

#include <type_traits>

#include "keyops/outcome.h"

namespace provider_natives {

// Throws the NativeFailure of the outcome.
void throwFailure(JNIEnv* env, const keyops::Outcome& outcome);

// Throws the NativeFailure of a step that failed outside the outcome (an add or a delete).
void throwFailure(JNIEnv* env, uint32_t status, const char* step, DWORD windowsError);

// For an argument the virtual machine could not give: NullPointerException naming it when it
// is null, else OutOfMemoryError (whatever the virtual machine left pending is cleared first).
void throwArgumentUnavailable(JNIEnv* env, const void* argument, const char* name);

// OutOfMemoryError, unless an exception is pending already.
void throwOutOfMemory(JNIEnv* env);

void throwUnexpected(JNIEnv* env);

// IllegalArgumentException with the message, for what Java never passes.
void throwIllegalArgument(JNIEnv* env, const char* message);

// Runs a native's body; a C++ exception that escapes it becomes a Java one.
template <typename Body>
auto guardProviderNative(JNIEnv* env, Body body) noexcept -> decltype(body()) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        throwOutOfMemory(env);
    } catch (...) {
        throwUnexpected(env);
    }
    if constexpr (!std::is_void_v<decltype(body())>) return {};
}

}  // namespace provider_natives
