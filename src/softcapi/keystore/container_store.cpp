#include "softcapi/keystore/container_store.h"

#include "softcapi/keystore/machine_secret.h"
#include "softcapi/keystore/sealed_key.h"

namespace softcapi {

StoredKey storedKeyOf(EVP_PKEY* key, const std::string& pin) {
    StoredKey stored;
    stored.publicKey = encodePublicKey(key);
    stored.pkcs8 = pin.empty() ? encodePrivateKey(key) : encryptPrivateKey(key, pin);
    if (stored.publicKey.empty() || stored.pkcs8.empty())
        throw DatabaseError(windowsErrorForOpenSsl(NTE_FAIL));
    return stored;
}

void storeContainer(Connection& db, Location location, ContainerRecord container) {
    // The machine's private keys are kept sealed, for root alone to open.
    if (location == Location::LocalMachine) sealContainerKeys(machineSecretForSealing(), container);
    insertContainer(db, container);
}

bool storeContainerKey(Connection& db, Location location, KeyFamily family,
                       const std::string& container, DWORD keySpec, StoredKey key,
                       bool pinProtected) {
    if (location == Location::LocalMachine)
        key.pkcs8 = sealKey(machineSecretForSealing(), {family, container, keySpec}, key.pkcs8);
    return putContainerKey(db, family, container, keySpec, key, pinProtected);
}

}  // namespace softcapi
