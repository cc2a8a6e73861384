// Keys put into a provider context's container: imported from a PRIVATEKEYBLOB or generated,
// written to the key store at once (PIN-encrypted when the context has a PIN, sealed for the
// machine), as a CSP persists a container's key.
#include <openssl/crypto.h>

#include <string>

#include "softcapi/crypto/private_key_blobs.h"
#include "softcapi/keystore/container_store.h"
#include "softcapi/keystore/key_rules.h"
#include "softcapi/keystore/keystore_cache.h"
#include "softcapi/keystore/keystore_file.h"
#include "softcapi/shim/crypt_objects.h"
#include "softcapi/shim/entry_guard.h"
#include "softcapi/shim/last_error.h"

using namespace softcapi;

namespace {

const DWORD kKeyFlags = CRYPT_EXPORTABLE;

// The key specification CryptGenKey's algorithm names for an RSA container; 0 for another.
DWORD keySpecOf(ALG_ID algorithm) {
    switch (algorithm) {
        case AT_KEYEXCHANGE:
        case CALG_RSA_KEYX: return AT_KEYEXCHANGE;
        case AT_SIGNATURE:
        case CALG_RSA_SIGN: return AT_SIGNATURE;
        default: return 0;
    }
}

// The PIN the context's keys go under, as text OpenSSL's PKCS#8 encryption takes; wiped on
// destruction.
class PinText {
public:
    explicit PinText(const SoftProvider& provider) {
        std::lock_guard<std::mutex> lock(provider.mutex);
        text_.assign(reinterpret_cast<const char*>(provider.pin.data()), provider.pin.size());
    }
    ~PinText() { OPENSSL_cleanse(text_.data(), text_.size()); }
    PinText(const PinText&) = delete;
    PinText& operator=(const PinText&) = delete;
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

// Writes the key into the context's container under the specification and reads the container
// again for the context, unlocked with its PIN; the error when it cannot.
DWORD putKey(SoftProvider& provider, const LoadedContainer& container, DWORD keySpec,
             EVP_PKEY* key) {
    const PinText pin(provider);
    if (container.pinProtected() && pin.text().empty()) return SCARD_W_CARD_NOT_AUTHENTICATED;
    const KeyFamily family = container.family();
    try {
        KeystoreWriter writer(provider.location);
        if (!storeContainerKey(writer.connection(), provider.location, family, container.name(),
                               keySpec, storedKeyOf(key, pin.text()), !pin.text().empty()))
            return NTE_BAD_KEYSET;  // deleted by another process since it was acquired
        writer.commit();
    } catch (const DatabaseError& failure) {
        return failure.code;
    }
    DWORD error = ERROR_SUCCESS;
    std::shared_ptr<const LoadedContainer> reloaded =
        findContainer(provider.location, family, container.name(), error);
    if (!reloaded) return error;
    std::map<DWORD, SharedKey> unlocked;
    if (reloaded->pinProtected()) {
        error = reloaded->unlock(pin.text().c_str(), pin.text().size(), unlocked);
        if (error != ERROR_SUCCESS) return error;
    }
    provider.setLoaded(reloaded);
    std::lock_guard<std::mutex> lock(provider.mutex);
    provider.unlockedKeys = std::move(unlocked);
    return ERROR_SUCCESS;
}

// Puts the key into the context's container and hands out its key handle.
BOOL addKey(std::shared_ptr<SoftProvider> provider, DWORD keySpec, PkeyPtr key, DWORD flags,
            HCRYPTKEY* handle) {
    std::shared_ptr<const LoadedContainer> container = provider->loaded();
    DWORD error = putKey(*provider, *container, keySpec, key.get());
    if (error != ERROR_SUCCESS) return failWith(error);
    auto made = std::make_shared<SoftKey>();
    made->keySpec = keySpec;
    made->publicKey = provider->loaded()->key(keySpec)->publicKey;
    if ((flags & CRYPT_EXPORTABLE) != 0) made->exportablePrivateKey = shareKey(std::move(key));
    made->provider = std::move(provider);
    *handle = keyHandles().add(std::move(made));
    return TRUE;
}

// The context a key goes into: an RSA container's. The software key store keeps keys in
// containers only, so a verify-only context takes none.
DWORD checkTarget(const std::shared_ptr<SoftProvider>& provider, HCRYPTPROV handle) {
    if (!provider) return badProviderHandle(handle);
    if (!provider->loaded()) return NTE_BAD_KEYSET;
    if (provider->info->family != KeyFamily::Rsa) return NTE_BAD_ALGID;
    return ERROR_SUCCESS;
}

}  // namespace

BOOL WINAPI CryptImportKey(HCRYPTPROV hProv, CONST BYTE* pbData, DWORD dwDataLen,
                           HCRYPTKEY hPubKey, DWORD dwFlags, HCRYPTKEY* phKey) {
    return guardEntryPoint([&]() -> BOOL {
        std::shared_ptr<SoftProvider> provider = providerHandles().find(hProv);
        if (!provider) return failWith(badProviderHandle(hProv));
        if (pbData == nullptr || phKey == nullptr) return failWith(ERROR_INVALID_PARAMETER);
        if ((dwFlags & ~kKeyFlags) != 0) return failWith(NTE_BAD_FLAGS);
        // Only plain blobs: no key here encrypts another.
        if (hPubKey != 0) return failWith(NTE_BAD_KEY);
        DWORD error = checkTarget(provider, hProv);
        if (error != ERROR_SUCCESS) return failWith(error);
        ALG_ID algorithm = 0;
        PkeyPtr key = keyFromCapiPrivateBlob(pbData, dwDataLen, algorithm, error);
        if (!key) return failWith(error);
        const DWORD keySpec = algorithm == CALG_RSA_KEYX   ? AT_KEYEXCHANGE
                              : algorithm == CALG_RSA_SIGN ? AT_SIGNATURE
                                                           : 0;
        if (keySpec == 0) return failWith(NTE_BAD_ALGID);
        if (!keyRefusal(key.get(), KeyFamily::Rsa).empty()) return failWith(NTE_BAD_DATA);
        return addKey(std::move(provider), keySpec, std::move(key), dwFlags, phKey);
    });
}

BOOL WINAPI CryptGenKey(HCRYPTPROV hProv, ALG_ID Algid, DWORD dwFlags, HCRYPTKEY* phKey) {
    return guardEntryPoint([&]() -> BOOL {
        std::shared_ptr<SoftProvider> provider = providerHandles().find(hProv);
        if (!provider) return failWith(badProviderHandle(hProv));
        if (phKey == nullptr) return failWith(ERROR_INVALID_PARAMETER);
        DWORD error = checkTarget(provider, hProv);
        if (error != ERROR_SUCCESS) return failWith(error);
        const DWORD keySpec = keySpecOf(Algid);
        if (keySpec == 0) return failWith(NTE_BAD_ALGID);
        // The upper 16 bits give the length; none asks for the provider's default.
        const DWORD options = dwFlags & 0xFFFF;
        DWORD bits = dwFlags >> 16;
        if (bits == 0) {
            for (const AlgorithmInfo& algorithm : provider->info->algorithms)
                if (algorithm.id == CALG_RSA_KEYX) bits = algorithm.defaultBits;
        }
        if ((options & ~kKeyFlags) != 0 || bits % 8 != 0 ||
            bits < static_cast<DWORD>(leastRsaBits(KeyFamily::Rsa)) || bits > kMostRsaBits)
            return failWith(NTE_BAD_FLAGS);
        OpenSslErrorScope scope;
        PkeyPtr key(EVP_RSA_gen(bits));
        if (!key) return failWith(windowsErrorForOpenSsl(NTE_FAIL));
        return addKey(std::move(provider), keySpec, std::move(key), options, phKey);
    });
}
