// The last guard of every native: a C++ exception (std::bad_alloc above all) must never unwind
// into the virtual machine, which cannot catch it and would end the process.
#pragma once

#include <jni.h>

#include <type_traits>

#include "javahost/java_host.h"

// Runs a native's body. Whatever it throws ends the native with its empty result (null, or
// nothing) and no Java exception pending; what the body held is released as the stack unwinds.
template <typename Body>
auto guardNative(JNIEnv* env, Body body) noexcept -> decltype(body()) {
    try {
        return body();
    } catch (...) {
        javahost::clearPendingException(env);
    }
    if constexpr (!std::is_void_v<decltype(body())>) return {};
}
