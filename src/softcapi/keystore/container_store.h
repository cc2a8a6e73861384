// The one way a key reaches a container of the key store, whoever makes it (the administration,
// CryptImportKey, CryptGenKey, NCryptFinalizeKey): its public key and PKCS#8 (under the PIN when
// there is one), and for the machine's location sealed under the machine's secret.
#pragma once

#include <string>

#include "softcapi/crypto/openssl_util.h"
#include "softcapi/keystore/keystore_rows.h"
#include "softcapi/keystore/location.h"

namespace softcapi {

// The stored form of a key pair, PIN-encrypted when `pin` is not empty. Throws
// DatabaseError(NTE_FAIL), or NTE_NO_MEMORY, when OpenSSL cannot encode it.
StoredKey storedKeyOf(EVP_PKEY* key, const std::string& pin);

// Inside a write transaction of the location's key store: a new container with its keys.
void storeContainer(Connection& db, Location location, ContainerRecord container);

// The same for one key put into a container that exists; false when it does not.
bool storeContainerKey(Connection& db, Location location, KeyFamily family,
                       const std::string& container, DWORD keySpec, StoredKey key,
                       bool pinProtected);

}  // namespace softcapi
