// The objects behind provider, hash and key handles, and the tables that hold them.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/secure_bytes.h"
#include "softcapi/advapi32/providers.h"
#include "softcapi/crypto/openssl_util.h"
#include "softcapi/keystore/key_container.h"
#include "softcapi/keystore/location.h"
#include "softcapi/shim/handle_table.h"

namespace softcapi {

struct SoftProvider {
    const ProviderInfo* info = nullptr;
    std::string containerName;  // as the caller gave it (Latin-1)
    Location location = Location::CurrentUser;  // CRYPT_MACHINE_KEYSET: the machine's

    mutable std::mutex mutex;
    size_t nextAlgorithm = 0;                // PP_ENUMALGS cursor
    std::map<DWORD, SharedKey> unlockedKeys;  // private keys opened with the PIN
    // The PIN given, under which a key put into the container is encrypted: the container's, or
    // one set before its first key, which makes it PIN-protected.
    common::SecureBytes pin;

    // The container as last read; null for a verify-only context. A key put into it through
    // this context replaces it with the container read again.
    std::shared_ptr<const LoadedContainer> loaded() const;
    void setLoaded(std::shared_ptr<const LoadedContainer> container);

    // The private key for a specification: null when the container has no such key
    // (NTE_NO_KEY) or its PIN has not been given (SCARD_W_CARD_NOT_AUTHENTICATED).
    SharedKey privateKey(DWORD keySpec, DWORD& error);

private:
    std::shared_ptr<const LoadedContainer> container_;
};

struct SoftHash {
    std::shared_ptr<SoftProvider> provider;
    ALG_ID algorithm = 0;

    std::mutex mutex;
    MdCtxPtr digest;  // null for SSL3 SHAMD5, whose value can only be set
    bool finished = false;
    std::vector<BYTE> value;

    // Finishes the hash if still open; false when OpenSSL fails.
    bool finish();
};

// A container's key, or a public key imported into a provider (key specification 0).
struct SoftKey {
    std::shared_ptr<SoftProvider> provider;
    DWORD keySpec = 0;
    SharedKey publicKey;
    // CRYPT_EXPORTABLE at its import or generation: the key store keeps no export flag, so only
    // the handle those calls give can export the private key.
    SharedKey exportablePrivateKey;

    std::mutex mutex;
    // The raw RSA result of the last decryption, so that trying the other padding on the same
    // ciphertext (a retry, or a confirmation) needs no second private-key operation.
    std::vector<BYTE> lastCipherText;
    common::SecureBytes lastRawBlock;
};

// A key NCryptCreatePersistedKey or NCryptImportKey made and NCryptFinalizeKey has not yet
// persisted: what it will be made of.
struct KeyDraft {
    std::u16string algorithm;  // NCRYPT_RSA_ALGORITHM or an ECDSA curve's
    bool overwrite = false;    // NCRYPT_OVERWRITE_KEY_FLAG

    std::mutex mutex;
    DWORD bits = 2048;          // NCRYPT_LENGTH_PROPERTY of an RSA key
    SharedKey imported;         // the key NCryptImportKey read; null for one to generate
    common::SecureBytes pin;    // NCRYPT_PIN_PROPERTY: the key is to be PIN-protected
    bool finalizing = false;    // NCryptFinalizeKey has taken it
};

// A CNG object: the key storage provider, or one of its keys (a stored key, a key not yet
// finalized, or a CSP's key seen through it, which shares the CSP's keys).
struct SoftNcryptObject {
    SharedKey publicKey;   // null for the provider and for a key not yet finalized
    std::shared_ptr<KeyDraft> draft;  // a key not yet finalized
    bool persisted = false;  // a key of the key storage provider's own, which NCryptDeleteKey deletes
    std::string name;      // the key's, or the provider's, in UTF-8; empty for an ephemeral key
    // A key's: where it lives (NCRYPT_KEY_TYPE_PROPERTY). The provider's: where the keys it
    // opens live, the machine's when it was opened with NCRYPT_MACHINE_KEY_FLAG.
    Location location = Location::CurrentUser;
    // The container of a stored PIN-protected key, which hands out the private key for its PIN.
    std::shared_ptr<const LoadedContainer> lockedContainer;

    bool isKey() const { return publicKey != nullptr || draft != nullptr; }

    // The private key: null with SCARD_W_CARD_NOT_AUTHENTICATED while a PIN-protected key has
    // not been given its PIN, as a smart card's key answers.
    SharedKey privateKey(DWORD& error) const;
    void setPrivateKey(SharedKey key);
    // NCRYPT_PIN_PROPERTY: unlocks a PIN-protected key (SCARD_W_WRONG_CHV for a wrong PIN);
    // a key without a PIN refuses it with NTE_NOT_SUPPORTED.
    DWORD setPin(const char* pin, size_t pinLength);

private:
    mutable std::mutex mutex_;
    SharedKey privateKey_;
};

HandleTable<SoftProvider>& providerHandles();
HandleTable<SoftNcryptObject>& ncryptHandles();
// BCrypt's public keys: CNG objects without a private key.
HandleTable<SoftNcryptObject>& bcryptKeyHandles();

// A certificate's public key from its SubjectPublicKeyInfo, decoded once for the few that are
// checked over and over; null when it does not decode.
SharedKey rememberedPublicKey(const std::vector<BYTE>& der);
HandleTable<SoftHash>& hashHandles();
HandleTable<SoftKey>& keyHandles();

// The error for a handle that is not in its table: 0 gets NTE_BAD_UID for a provider, anything
// else ERROR_INVALID_PARAMETER, as ADVAPI32 answers.
DWORD badProviderHandle(HCRYPTPROV handle);

}  // namespace softcapi
