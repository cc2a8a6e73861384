#include "softcapi/ncrypt/keys.h"

#include "softcapi/keystore/keystore_cache.h"
#include "softcapi/shim/text_encoding.h"

namespace softcapi {

std::shared_ptr<SoftNcryptObject> storedNcryptKey(Location location, const std::string& name,
                                                  DWORD& error) {
    std::shared_ptr<const LoadedContainer> container =
        findContainer(location, KeyFamily::Ksp, name, error);
    if (!container) return nullptr;
    const ContainerKey* stored = container->key(0);
    if (stored == nullptr || (!container->pinProtected() && !stored->privateKey)) {
        error = NTE_BAD_KEYSET;
        return nullptr;
    }
    auto key = std::make_shared<SoftNcryptObject>();
    key->publicKey = stored->publicKey;
    // A PIN-protected key is handed out locked, as a smart card's: NCRYPT_PIN_PROPERTY opens it.
    if (container->pinProtected())
        key->lockedContainer = container;
    else
        key->setPrivateKey(stored->privateKey);
    key->name = container->name();
    key->persisted = true;
    key->location = location;
    return key;
}

std::shared_ptr<SoftNcryptObject> translatedNcryptKey(SoftProvider& provider, DWORD keySpec,
                                                      DWORD& error) {
    std::shared_ptr<const LoadedContainer> container = provider.loaded();
    if (provider.info->family != KeyFamily::Rsa || !container) {
        error = NTE_NOT_SUPPORTED;
        return nullptr;
    }
    SharedKey privateKey = provider.privateKey(keySpec, error);
    if (!privateKey) return nullptr;
    auto key = std::make_shared<SoftNcryptObject>();
    key->publicKey = container->key(keySpec)->publicKey;
    key->setPrivateKey(std::move(privateKey));
    key->name = latin1ToUtf8(provider.containerName);
    key->location = provider.location;
    return key;
}

std::shared_ptr<SoftNcryptObject> ncryptStorageProvider(Location location) {
    auto provider = std::make_shared<SoftNcryptObject>();
    provider->name = kKeyStorageProviderName;
    provider->location = location;
    return provider;
}

}  // namespace softcapi
