// A PIN taken from a Java byte array for one native call.
#pragma once

#include <jni.h>

#include "common/secure_bytes.h"
#include "javahost/java_host.h"

// The password's bytes and a terminating zero, in memory that is wiped when it goes. True with
// no PIN for a null or empty array; false when the virtual machine cannot give the bytes.
inline bool takePin(JNIEnv* env, jbyteArray password, common::SecureBytes& pin) {
    if (password == nullptr) return true;
    jsize length = env->GetArrayLength(password);
    if (length == 0) return true;
    common::SecureBytes copy(static_cast<size_t>(length) + 1);
    env->GetByteArrayRegion(password, 0, length, reinterpret_cast<jbyte*>(copy.data()));
    if (javahost::clearPendingException(env)) return false;
    pin = std::move(copy);
    return true;
}

// The PIN as the core takes it: a C string, or null for none.
inline const char* pinText(const common::SecureBytes& pin) {
    return pin.empty() ? nullptr : reinterpret_cast<const char*>(pin.data());
}
