#include "softcapi/shim/crypt_objects.h"

namespace softcapi {

std::shared_ptr<const LoadedContainer> SoftProvider::loaded() const {
    std::lock_guard<std::mutex> lock(mutex);
    return container_;
}

void SoftProvider::setLoaded(std::shared_ptr<const LoadedContainer> container) {
    std::lock_guard<std::mutex> lock(mutex);
    container_ = std::move(container);
}

SharedKey SoftProvider::privateKey(DWORD keySpec, DWORD& error) {
    std::lock_guard<std::mutex> lock(mutex);
    const ContainerKey* key = container_ ? container_->key(keySpec) : nullptr;
    if (key == nullptr) {
        error = NTE_NO_KEY;
        return nullptr;
    }
    if (!container_->pinProtected()) return key->privateKey;
    auto unlocked = unlockedKeys.find(keySpec);
    if (unlocked == unlockedKeys.end()) {
        error = SCARD_W_CARD_NOT_AUTHENTICATED;
        return nullptr;
    }
    return unlocked->second;
}

SharedKey SoftNcryptObject::privateKey(DWORD& error) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!privateKey_) error = SCARD_W_CARD_NOT_AUTHENTICATED;
    return privateKey_;
}

void SoftNcryptObject::setPrivateKey(SharedKey key) {
    std::lock_guard<std::mutex> lock(mutex_);
    privateKey_ = std::move(key);
}

DWORD SoftNcryptObject::setPin(const char* pin, size_t pinLength) {
    if (!lockedContainer) return NTE_NOT_SUPPORTED;
    std::map<DWORD, SharedKey> keys;
    DWORD error = lockedContainer->unlock(pin, pinLength, keys);
    if (error != ERROR_SUCCESS) return error;
    auto key = keys.find(0);
    if (key == keys.end()) return NTE_BAD_KEYSET;
    setPrivateKey(key->second);
    return ERROR_SUCCESS;
}

bool SoftHash::finish() {
    if (finished) return true;
    if (!digest) return false;
    unsigned int size = 0;
    value.resize(EVP_MAX_MD_SIZE);
    if (EVP_DigestFinal_ex(digest.get(), value.data(), &size) != 1) return false;
    value.resize(size);
    finished = true;
    return true;
}

HandleTable<SoftProvider>& providerHandles() {
    static auto* table = new HandleTable<SoftProvider>();
    return *table;
}

HandleTable<SoftNcryptObject>& ncryptHandles() {
    static auto* table = new HandleTable<SoftNcryptObject>();
    return *table;
}

HandleTable<SoftNcryptObject>& bcryptKeyHandles() {
    static auto* table = new HandleTable<SoftNcryptObject>();
    return *table;
}

HandleTable<SoftHash>& hashHandles() {
    static auto* table = new HandleTable<SoftHash>();
    return *table;
}

HandleTable<SoftKey>& keyHandles() {
    static auto* table = new HandleTable<SoftKey>();
    return *table;
}

DWORD badProviderHandle(HCRYPTPROV handle) {
    return handle == 0 ? NTE_BAD_UID : ERROR_INVALID_PARAMETER;
}

}  // namespace softcapi
