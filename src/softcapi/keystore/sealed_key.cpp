#include "softcapi/keystore/sealed_key.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include "softcapi/crypto/openssl_util.h"

namespace softcapi {

namespace {

const size_t kNonceSize = 12;
const size_t kTagSize = 16;

using CipherContext = OpenSslPtr<EVP_CIPHER_CTX>;

// What the tag binds besides the key: the row's place, each number as four bytes.
std::vector<unsigned char> associatedData(const KeyPlace& place) {
    std::vector<unsigned char> data;
    for (DWORD number : {static_cast<DWORD>(place.family), place.keySpec})
        for (int shift = 24; shift >= 0; shift -= 8) data.push_back((number >> shift) & 0xff);
    data.insert(data.end(), place.container.begin(), place.container.end());
    return data;
}

bool begin(EVP_CIPHER_CTX* context, bool sealing, const common::SecureBytes& secret,
           const unsigned char* nonce, const KeyPlace& place) {
    const std::vector<unsigned char> aad = associatedData(place);
    int length = 0;
    return secret.size() == 32 &&
           EVP_CipherInit_ex(context, EVP_aes_256_gcm(), nullptr, secret.data(), nonce,
                             sealing ? 1 : 0) == 1 &&
           EVP_CipherUpdate(context, nullptr, &length, aad.data(), static_cast<int>(aad.size())) == 1;
}

}  // namespace

common::SecureBytes sealKey(const common::SecureBytes& secret, const KeyPlace& place,
                            const common::SecureBytes& plain) {
    OpenSslErrorScope scope;
    common::SecureBytes sealed(kNonceSize + plain.size() + kTagSize);
    unsigned char* nonce = sealed.data();
    unsigned char* body = nonce + kNonceSize;
    CipherContext context(EVP_CIPHER_CTX_new());
    int length = 0;
    int last = 0;
    if (!context || RAND_bytes(nonce, static_cast<int>(kNonceSize)) != 1 ||
        !begin(context.get(), true, secret, nonce, place) ||
        EVP_CipherUpdate(context.get(), body, &length, plain.data(), static_cast<int>(plain.size())) != 1 ||
        EVP_CipherFinal_ex(context.get(), body + length, &last) != 1 ||
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, static_cast<int>(kTagSize),
                            body + plain.size()) != 1)
        throw DatabaseError(NTE_FAIL);
    return sealed;
}

bool unsealKey(const common::SecureBytes& secret, const KeyPlace& place,
               const common::SecureBytes& sealed, common::SecureBytes& plain) {
    OpenSslErrorScope scope;
    if (sealed.size() < kNonceSize + kTagSize) return false;
    const size_t bodySize = sealed.size() - kNonceSize - kTagSize;
    const unsigned char* nonce = sealed.data();
    const unsigned char* body = nonce + kNonceSize;
    common::SecureBytes opened(bodySize);
    CipherContext context(EVP_CIPHER_CTX_new());
    int length = 0;
    int last = 0;
    if (!context || !begin(context.get(), false, secret, nonce, place) ||
        EVP_CipherUpdate(context.get(), opened.data(), &length, body, static_cast<int>(bodySize)) != 1 ||
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(kTagSize),
                            const_cast<unsigned char*>(body + bodySize)) != 1 ||
        EVP_CipherFinal_ex(context.get(), opened.data() + length, &last) != 1)
        return false;
    plain = std::move(opened);
    return true;
}

void sealContainerKeys(const common::SecureBytes& secret, ContainerRecord& container) {
    for (auto& [keySpec, key] : container.keys)
        key.pkcs8 = sealKey(secret, {container.family, container.name, keySpec}, key.pkcs8);
}

void unsealContainerKeys(const common::SecureBytes& secret, ContainerRecord& container) {
    for (auto& [keySpec, key] : container.keys) {
        common::SecureBytes plain;
        if (!unsealKey(secret, {container.family, container.name, keySpec}, key.pkcs8, plain))
            throw DatabaseError(NTE_KEYSET_ENTRY_BAD);
        key.pkcs8 = std::move(plain);
    }
}

}  // namespace softcapi
