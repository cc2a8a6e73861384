#include "softcapi/keystore/key_container.h"

#include <openssl/crypto.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include "softcapi/crypto/signature_schemes.h"
#include "softcapi/shim/last_error.h"

namespace softcapi {

namespace {

// The PIN is remembered only as HMAC-SHA-256 under a key that lives and dies with the process.
const std::array<unsigned char, 32>& processPinKey() {
    static const std::array<unsigned char, 32> kKey = [] {
        std::array<unsigned char, 32> key{};
        RAND_bytes(key.data(), static_cast<int>(key.size()));
        return key;
    }();
    return kKey;
}

std::array<unsigned char, 32> pinDigest(const char* pin, size_t pinLength) {
    std::array<unsigned char, 32> digest{};
    unsigned int size = 0;
    const auto& key = processPinKey();
    HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
         reinterpret_cast<const unsigned char*>(pin), pinLength, digest.data(), &size);
    return digest;
}

// RSA signs the probe as a SHA-1 hash, DSA and ECDSA as it is.
PkeyCtxPtr probeContext(EVP_PKEY* key, bool signing) {
    if (EVP_PKEY_is_a(key, "RSA") == 1) return rsaSignatureContext(key, CALG_SHA1, 0, signing);
    if (EVP_PKEY_is_a(key, "DSA") == 1) return dssSignatureContext(key, signing);
    PkeyCtxPtr context(EVP_PKEY_CTX_new(key, nullptr));
    if (!context || (signing ? EVP_PKEY_sign_init(context.get())
                             : EVP_PKEY_verify_init(context.get())) != 1)
        return nullptr;
    return context;
}

}  // namespace

bool keyPairMatches(EVP_PKEY* privateKey, EVP_PKEY* publicKey) {
    static const unsigned char kProbe[20] = {'q', 'd', 'i', 'e', ' ', 'k', 'e', 'y', ' ', 'p',
                                             'a', 'i', 'r', ' ', 'p', 'r', 'o', 'b', 'e', '.'};
    if (EVP_PKEY_eq(privateKey, publicKey) != 1) return false;
    PkeyCtxPtr signing = probeContext(privateKey, true);
    PkeyCtxPtr verifying = probeContext(publicKey, false);
    std::vector<unsigned char> signature(EVP_PKEY_get_size(privateKey));
    size_t length = signature.size();
    return signing && verifying &&
           EVP_PKEY_sign(signing.get(), signature.data(), &length, kProbe, sizeof(kProbe)) == 1 &&
           EVP_PKEY_verify(verifying.get(), signature.data(), length, kProbe, sizeof(kProbe)) == 1;
}

std::shared_ptr<const LoadedContainer> LoadedContainer::load(const ContainerRecord& record,
                                                             DWORD& error) {
    OpenSslErrorScope scope;
    auto container = std::make_shared<LoadedContainer>();
    container->family_ = record.family;
    container->name_ = record.name;
    container->pinProtected_ = record.pinProtected;
    for (const auto& [keySpec, stored] : record.keys) {
        ContainerKey key;
        key.publicKey = shareKey(decodePublicKey(stored.publicKey));
        if (record.pinProtected) {
            key.encrypted = common::SecureBytes(stored.pkcs8.data(), stored.pkcs8.size());
        } else {
            key.privateKey = shareKey(decodePrivateKey(stored.pkcs8));
        }
        if (!key.publicKey ||
            (!record.pinProtected &&
             (!key.privateKey || !keyPairMatches(key.privateKey.get(), key.publicKey.get())))) {
            error = windowsErrorForOpenSsl(NTE_BAD_KEY);
            return nullptr;
        }
        container->keys_.emplace(keySpec, std::move(key));
    }
    return container;
}

const ContainerKey* LoadedContainer::key(DWORD keySpec) const {
    auto found = keys_.find(keySpec);
    return found != keys_.end() ? &found->second : nullptr;
}

DWORD LoadedContainer::unlock(const char* pin, size_t pinLength,
                              std::map<DWORD, SharedKey>& keys) const {
    OpenSslErrorScope scope;
    PinDigest digest = pinDigest(pin, pinLength);
    std::lock_guard<std::mutex> lock(unlockMutex_);
    if (unlocked_ && CRYPTO_memcmp(digest.data(), verifiedPin_.data(), digest.size()) == 0) {
        keys = unlockedKeys_;
        return ERROR_SUCCESS;
    }
    std::map<DWORD, SharedKey> opened;
    for (const auto& [keySpec, key] : keys_) {
        PkeyPtr privateKey = decryptPrivateKey(key.encrypted, pin, pinLength);
        // A wrong PIN can, rarely, decrypt to well-formed garbage: the key must match its public half.
        if (!privateKey || !keyPairMatches(privateKey.get(), key.publicKey.get()))
            return SCARD_W_WRONG_CHV;
        opened.emplace(keySpec, shareKey(std::move(privateKey)));
    }
    // Marked unlocked only once the keys are all in place: copying them can run out of memory.
    unlockedKeys_ = opened;
    verifiedPin_ = digest;
    unlocked_ = true;
    keys = std::move(opened);
    return ERROR_SUCCESS;
}

}  // namespace softcapi
