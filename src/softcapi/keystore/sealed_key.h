// A machine container's private key as the key store keeps it: AES-256-GCM under the machine's
// secret, a fresh nonce each time, with the row's place (family, container name, key
// specification) authenticated beside it, so that a row moved to another container is refused.
#pragma once

#include <string>

#include "common/secure_bytes.h"
#include "softcapi/keystore/keystore_rows.h"

namespace softcapi {

// Where a key's row stands.
struct KeyPlace {
    KeyFamily family;
    const std::string& container;
    DWORD keySpec;
};

// The nonce, the ciphertext and the tag; throws DatabaseError(NTE_FAIL) when OpenSSL fails.
common::SecureBytes sealKey(const common::SecureBytes& secret, const KeyPlace& place,
                            const common::SecureBytes& plain);

// False when the sealed bytes, their place or the secret are not what sealed them.
bool unsealKey(const common::SecureBytes& secret, const KeyPlace& place,
               const common::SecureBytes& sealed, common::SecureBytes& plain);

// Seals, or unseals, every key of a container read or about to be written, in place; unsealing
// throws DatabaseError(NTE_KEYSET_ENTRY_BAD) for a key that does not open.
void sealContainerKeys(const common::SecureBytes& secret, ContainerRecord& container);
void unsealContainerKeys(const common::SecureBytes& secret, ContainerRecord& container);

}  // namespace softcapi
