// How the provider's natives read what Java passes for a store's location and a key handle.
#pragma once

#include <jni.h>

#include <cstdint>

#include "keyops/held_key.h"
#include "keyops/store_location.h"

namespace provider_natives {

inline keyops::StoreLocation locationOf(jboolean localMachine) {
    return localMachine ? keyops::StoreLocation::LocalMachine : keyops::StoreLocation::CurrentUser;
}

// A handle Java holds, made by newKeyHandle or newContainerKeyHandle.
inline keyops::HeldKey* heldKey(jlong key) {
    return reinterpret_cast<keyops::HeldKey*>(static_cast<intptr_t>(key));
}

inline jlong handleOf(keyops::HeldKey* key) {
    return static_cast<jlong>(reinterpret_cast<intptr_t>(key));
}

}  // namespace provider_natives
