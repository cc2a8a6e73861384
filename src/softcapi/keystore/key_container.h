// A key container read from the key store: its keys parsed once and shared by every handle that
// opens it. A PIN-protected container hands out private keys only to a caller that knows the PIN.
#pragma once

#include <array>
#include <map>
#include <mutex>
#include <string>

#include "softcapi/crypto/openssl_util.h"
#include "softcapi/keystore/keystore_rows.h"

namespace softcapi {

// Whether an RSA, DSA or EC private key signs what the public key verifies. A key damaged in storage
// or in a file can still parse, and even match the public key's numbers, yet sign with the wrong
// ones; a signature nobody can verify is never made.
bool keyPairMatches(EVP_PKEY* privateKey, EVP_PKEY* publicKey);

struct ContainerKey {
    SharedKey publicKey;
    SharedKey privateKey;     // null while the container's PIN has not been given
    common::SecureBytes encrypted;    // the PBES2 PKCS#8 of a PIN-protected key
};

class LoadedContainer {
public:
    // Parses the keys of a stored container; false when a stored key cannot be read.
    static std::shared_ptr<const LoadedContainer> load(const ContainerRecord& record,
                                                      DWORD& error);

    KeyFamily family() const { return family_; }
    const std::string& name() const { return name_; }
    bool pinProtected() const { return pinProtected_; }
    // False for a container CRYPT_NEWKEYSET made that has had no key put into it yet.
    bool holdsKeys() const { return !keys_.empty(); }
    // The key of a specification, null when the container has none.
    const ContainerKey* key(DWORD keySpec) const;

    // Private keys of a PIN-protected container for a caller that gives its PIN. A PIN once
    // verified is remembered (as a keyed digest) with the keys, so later unlocks skip PBKDF2.
    // SCARD_W_WRONG_CHV for a wrong PIN.
    DWORD unlock(const char* pin, size_t pinLength, std::map<DWORD, SharedKey>& keys) const;

private:
    using PinDigest = std::array<unsigned char, 32>;

    KeyFamily family_ = KeyFamily::Rsa;
    std::string name_;
    bool pinProtected_ = false;
    std::map<DWORD, ContainerKey> keys_;

    mutable std::mutex unlockMutex_;
    mutable bool unlocked_ = false;
    mutable PinDigest verifiedPin_{};
    mutable std::map<DWORD, SharedKey> unlockedKeys_;
};

}  // namespace softcapi
