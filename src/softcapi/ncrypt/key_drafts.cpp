#include "softcapi/ncrypt/key_drafts.h"

#include <openssl/crypto.h>

#include <cstring>

#include "softcapi/keystore/container_store.h"
#include "softcapi/keystore/key_rules.h"
#include "softcapi/keystore/keystore_cache.h"
#include "softcapi/keystore/keystore_file.h"
#include "softcapi/ncrypt/keys.h"
#include "softcapi/shim/text_encoding.h"

namespace softcapi {

namespace {

const DWORD kRsaBitsStep = 64;

PkeyPtr generate(const std::u16string& algorithm, DWORD bits) {
    if (algorithm == NCRYPT_RSA_ALGORITHM) return PkeyPtr(EVP_RSA_gen(bits));
    if (algorithm == NCRYPT_ECDSA_P256_ALGORITHM) return PkeyPtr(EVP_EC_gen("P-256"));
    if (algorithm == NCRYPT_ECDSA_P384_ALGORITHM) return PkeyPtr(EVP_EC_gen("P-384"));
    return PkeyPtr(EVP_EC_gen("P-521"));
}

// The PIN as the PKCS#8 encryption takes it, wiped on destruction.
class PinCopy {
public:
    explicit PinCopy(const common::SecureBytes& pin)
        : text_(reinterpret_cast<const char*>(pin.data()), pin.size()) {}
    ~PinCopy() { OPENSSL_cleanse(text_.data(), text_.size()); }
    PinCopy(const PinCopy&) = delete;
    PinCopy& operator=(const PinCopy&) = delete;
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

// Writes the key under its name, in place of one of that name when the draft may overwrite it.
DWORD persist(const SoftNcryptObject& draftKey, EVP_PKEY* key, const std::string& pin) {
    try {
        KeystoreWriter writer(draftKey.location);
        Connection& db = writer.connection();
        if (containerExists(db, KeyFamily::Ksp, draftKey.name)) {
            if (!draftKey.draft->overwrite) return NTE_EXISTS;
            deleteContainer(db, KeyFamily::Ksp, draftKey.name);
        }
        ContainerRecord container;
        container.family = KeyFamily::Ksp;
        container.name = draftKey.name;
        container.pinProtected = !pin.empty();
        container.keys[0] = storedKeyOf(key, pin);
        storeContainer(db, draftKey.location, std::move(container));
        writer.commit();
    } catch (const DatabaseError& failure) {
        return failure.code;
    }
    return ERROR_SUCCESS;
}

}  // namespace

bool pinFromProperty(const BYTE* input, DWORD size, common::SecureBytes& pin) {
    const size_t units = size / sizeof(char16_t);
    if (input == nullptr || size % sizeof(char16_t) != 0 || units == 0) return false;
    std::u16string text(units, u'\0');
    std::memcpy(text.data(), input, size);
    const bool terminated = text.back() == u'\0';
    text.pop_back();
    std::string utf8 = utf16ToUtf8(text);
    pin = common::SecureBytes(reinterpret_cast<const BYTE*>(utf8.data()), utf8.size());
    OPENSSL_cleanse(utf8.data(), utf8.size());
    OPENSSL_cleanse(text.data(), text.size() * sizeof(char16_t));
    return terminated;
}

DWORD setDraftProperty(KeyDraft& draft, const std::u16string& property, const BYTE* input,
                       DWORD size) {
    DWORD value = 0;
    const bool number = input != nullptr && size == sizeof(DWORD);
    if (number) std::memcpy(&value, input, sizeof(value));
    std::lock_guard<std::mutex> lock(draft.mutex);
    if (draft.finalizing) return NTE_BAD_KEY_STATE;
    if (property == NCRYPT_LENGTH_PROPERTY) {
        if (draft.algorithm != NCRYPT_RSA_ALGORITHM || draft.imported) return NTE_NOT_SUPPORTED;
        if (!number || value < static_cast<DWORD>(leastRsaBits(KeyFamily::Ksp)) ||
            value > kMostRsaBits || value % kRsaBitsStep != 0)
            return NTE_INVALID_PARAMETER;
        draft.bits = value;
        return ERROR_SUCCESS;
    }
    if (property == NCRYPT_PIN_PROPERTY) {
        common::SecureBytes pin;
        if (!pinFromProperty(input, size, pin) || pin.empty()) return NTE_INVALID_PARAMETER;
        draft.pin = std::move(pin);
        return ERROR_SUCCESS;
    }
    if (property == NCRYPT_EXPORT_POLICY_PROPERTY) {
        if (!number) return NTE_INVALID_PARAMETER;
        return value == 0 ? ERROR_SUCCESS : NTE_NOT_SUPPORTED;
    }
    return NTE_NOT_SUPPORTED;
}

DWORD checkNameFree(Location location, const std::string& name) {
    if (!mayChangeKeystore(location)) return E_ACCESSDENIED;
    DWORD error = ERROR_SUCCESS;
    // A key that is there but does not open (damaged) holds its name all the same.
    if (findContainer(location, KeyFamily::Ksp, name, error) ||
        error == static_cast<DWORD>(NTE_KEYSET_ENTRY_BAD) || error == static_cast<DWORD>(NTE_BAD_KEY))
        return NTE_EXISTS;
    return error == static_cast<DWORD>(NTE_BAD_KEYSET) ? ERROR_SUCCESS : error;
}

namespace {

// The finished key of a draft: its key generated when it was not imported, persisted when it
// has a name.
std::shared_ptr<SoftNcryptObject> finishedKey(const SoftNcryptObject& draftKey, SharedKey key,
                                              DWORD bits, const common::SecureBytes& pin,
                                              DWORD& error) {
    OpenSslErrorScope scope;
    if (!key) key = shareKey(generate(draftKey.draft->algorithm, bits));
    if (!key) {
        error = windowsErrorForOpenSsl(NTE_FAIL);
        return nullptr;
    }
    const PinCopy pinText(pin);
    if (!draftKey.name.empty()) {
        error = persist(draftKey, key.get(), pinText.text());
        if (error != ERROR_SUCCESS) return nullptr;
        // As any opener finds it, with the PIN its maker gave.
        std::shared_ptr<SoftNcryptObject> stored =
            storedNcryptKey(draftKey.location, draftKey.name, error);
        if (stored && !pin.empty())
            error = stored->setPin(pinText.text().c_str(), pinText.text().size());
        return error == ERROR_SUCCESS ? stored : nullptr;
    }
    auto ephemeral = std::make_shared<SoftNcryptObject>();
    ephemeral->publicKey = shareKey(decodePublicKey(encodePublicKey(key.get())));
    if (!ephemeral->publicKey) {
        error = windowsErrorForOpenSsl(NTE_FAIL);
        return nullptr;
    }
    ephemeral->setPrivateKey(std::move(key));
    ephemeral->location = draftKey.location;
    return ephemeral;
}

}  // namespace

std::shared_ptr<SoftNcryptObject> finalizeDraft(const SoftNcryptObject& draftKey, DWORD& error) {
    KeyDraft& draft = *draftKey.draft;
    SharedKey key;
    DWORD bits = 0;
    common::SecureBytes pin;
    {
        std::lock_guard<std::mutex> lock(draft.mutex);
        if (draft.finalizing) {
            error = NTE_BAD_KEY_STATE;
            return nullptr;
        }
        draft.finalizing = true;
        key = draft.imported;
        bits = draft.bits;
        pin = common::SecureBytes(draft.pin.data(), draft.pin.size());
    }
    // A failed finalization can be tried again.
    auto release = [&draft] {
        std::lock_guard<std::mutex> lock(draft.mutex);
        draft.finalizing = false;
    };
    std::shared_ptr<SoftNcryptObject> finished;
    try {
        finished = finishedKey(draftKey, std::move(key), bits, pin, error);
    } catch (...) {
        release();
        throw;
    }
    if (!finished) release();
    return finished;
}

}  // namespace softcapi
