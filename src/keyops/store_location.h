// Where a system store is: the current user's stores or the local machine's, as CertOpenStore
// names them.
#pragma once

#include "keyops/capi.h"

namespace keyops {

enum class StoreLocation { CurrentUser, LocalMachine };

inline DWORD systemStoreFlag(StoreLocation location) {
    return location == StoreLocation::LocalMachine ? CERT_SYSTEM_STORE_LOCAL_MACHINE
                                                   : CERT_SYSTEM_STORE_CURRENT_USER;
}

// Where a certificate's key is looked for: the "My" store of a location, and whether its key is
// opened in the keyset its key-provider property names (a service's key is the machine's) or, as
// the ten natives open every key, as the user's.
struct KeySource {
    StoreLocation location = StoreLocation::CurrentUser;
    bool keysetFromProperty = false;
};

// The ten natives' source: the user's "My", every key opened as the user's.
inline constexpr KeySource kUsersPersonalStore{};

// The provider's: the location's "My", each key where its property says.
inline KeySource personalStoreOf(StoreLocation location) { return {location, true}; }

}  // namespace keyops
