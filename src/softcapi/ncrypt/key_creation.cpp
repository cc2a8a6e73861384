// CNG keys made through the key storage provider: created or imported, finalized into the key
// store, and deleted from it.
#include <cstring>

#include "softcapi/crypto/private_key_blobs.h"
#include "softcapi/keystore/key_rules.h"
#include "softcapi/keystore/keystore_file.h"
#include "softcapi/ncrypt/key_drafts.h"
#include "softcapi/shim/entry_guard.h"
#include "softcapi/shim/text_encoding.h"

using namespace softcapi;

namespace {

SECURITY_STATUS fail(DWORD error) {
    return static_cast<SECURITY_STATUS>(error);
}

bool isCurveAlgorithm(const std::u16string& algorithm) {
    return algorithm == NCRYPT_ECDSA_P256_ALGORITHM || algorithm == NCRYPT_ECDSA_P384_ALGORITHM ||
           algorithm == NCRYPT_ECDSA_P521_ALGORITHM;
}

// The algorithm a key imported is, as NCryptCreatePersistedKey names it.
std::u16string algorithmOf(EVP_PKEY* key) {
    if (EVP_PKEY_is_a(key, "RSA") == 1) return NCRYPT_RSA_ALGORITHM;
    switch (EVP_PKEY_get_bits(key)) {
        case 256: return NCRYPT_ECDSA_P256_ALGORITHM;
        case 384: return NCRYPT_ECDSA_P384_ALGORITHM;
        default: return NCRYPT_ECDSA_P521_ALGORITHM;
    }
}

// The storage provider of a handle; null for anything else.
std::shared_ptr<SoftNcryptObject> findProvider(NCRYPT_PROV_HANDLE handle) {
    std::shared_ptr<SoftNcryptObject> provider = ncryptHandles().find(handle);
    return provider && !provider->isKey() ? provider : nullptr;
}

// Where a new key goes: a provider opened for the machine makes only the machine's keys.
Location locationFor(const SoftNcryptObject& provider, DWORD flags) {
    return provider.location == Location::LocalMachine || (flags & NCRYPT_MACHINE_KEY_FLAG) != 0
               ? Location::LocalMachine
               : Location::CurrentUser;
}

// The name an NCRYPTBUFFER_PKCS_KEY_NAME parameter gives, zero-terminated UTF-16, in UTF-8;
// empty for an ephemeral key. False for a parameter list that is malformed.
bool keyNameOf(const NCryptBufferDesc* parameters, std::string& name) {
    name.clear();
    if (parameters == nullptr) return true;
    if (parameters->ulVersion != NCRYPTBUFFER_VERSION ||
        (parameters->cBuffers != 0 && parameters->pBuffers == nullptr))
        return false;
    for (ULONG i = 0; i < parameters->cBuffers; ++i) {
        const BCryptBuffer& buffer = parameters->pBuffers[i];
        if (buffer.BufferType != NCRYPTBUFFER_PKCS_KEY_NAME) continue;
        const size_t units = buffer.cbBuffer / sizeof(char16_t);
        if (buffer.pvBuffer == nullptr || buffer.cbBuffer % sizeof(char16_t) != 0 || units < 2)
            return false;
        std::u16string text(units, u'\0');
        std::memcpy(text.data(), buffer.pvBuffer, buffer.cbBuffer);
        const size_t end = text.find(u'\0');
        if (end == std::u16string::npos || end == 0) return false;
        text.resize(end);
        name = utf16ToUtf8(text);
    }
    return true;
}

// A key object not yet finalized, its name checked free unless it may overwrite.
DWORD newDraftKey(const SoftNcryptObject& provider, const std::string& name, DWORD flags,
                  std::shared_ptr<KeyDraft> draft, std::shared_ptr<SoftNcryptObject>& key) {
    const Location location = locationFor(provider, flags);
    draft->overwrite = (flags & NCRYPT_OVERWRITE_KEY_FLAG) != 0;
    if (!name.empty()) {
        const DWORD free = checkNameFree(location, name);
        const bool taken = free == static_cast<DWORD>(NTE_EXISTS);
        if (taken ? !draft->overwrite : free != ERROR_SUCCESS) return free;
    } else if (!mayChangeKeystore(location)) {
        return E_ACCESSDENIED;
    }
    key = std::make_shared<SoftNcryptObject>();
    key->draft = std::move(draft);
    key->name = name;
    key->location = location;
    return ERROR_SUCCESS;
}

}  // namespace

SECURITY_STATUS WINAPI NCryptCreatePersistedKey(NCRYPT_PROV_HANDLE hProvider,
                                                NCRYPT_KEY_HANDLE* phKey, LPCWSTR pszAlgId,
                                                LPCWSTR pszKeyName, DWORD dwLegacyKeySpec,
                                                DWORD dwFlags) {
    return guardStatusEntryPoint([&]() -> SECURITY_STATUS {
        std::shared_ptr<SoftNcryptObject> provider = findProvider(hProvider);
        if (!provider) return fail(NTE_INVALID_HANDLE);
        if (phKey == nullptr || pszAlgId == nullptr || dwLegacyKeySpec > AT_SIGNATURE)
            return fail(NTE_INVALID_PARAMETER);
        if ((dwFlags & ~static_cast<DWORD>(NCRYPT_MACHINE_KEY_FLAG | NCRYPT_OVERWRITE_KEY_FLAG |
                                           NCRYPT_SILENT_FLAG)) != 0)
            return fail(NTE_BAD_FLAGS);
        auto draft = std::make_shared<KeyDraft>();
        draft->algorithm = pszAlgId;
        if (draft->algorithm != NCRYPT_RSA_ALGORITHM && !isCurveAlgorithm(draft->algorithm))
            return fail(NTE_NOT_SUPPORTED);
        // The legacy key specification is CNG's to keep; the key store binds a key storage
        // provider's keys without one.
        const std::string name = pszKeyName != nullptr ? utf16ToUtf8(pszKeyName) : "";
        std::shared_ptr<SoftNcryptObject> key;
        const DWORD error = newDraftKey(*provider, name, dwFlags, std::move(draft), key);
        if (error != ERROR_SUCCESS) return fail(error);
        *phKey = ncryptHandles().add(std::move(key));
        return ERROR_SUCCESS;
    });
}

SECURITY_STATUS WINAPI NCryptImportKey(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hImportKey,
                                       LPCWSTR pszBlobType, NCryptBufferDesc* pParameterList,
                                       NCRYPT_KEY_HANDLE* phKey, PBYTE pbData, DWORD cbData,
                                       DWORD dwFlags) {
    return guardStatusEntryPoint([&]() -> SECURITY_STATUS {
        std::shared_ptr<SoftNcryptObject> provider = findProvider(hProvider);
        if (!provider) return fail(NTE_INVALID_HANDLE);
        if (pszBlobType == nullptr || phKey == nullptr || pbData == nullptr)
            return fail(NTE_INVALID_PARAMETER);
        if ((dwFlags & ~static_cast<DWORD>(NCRYPT_MACHINE_KEY_FLAG | NCRYPT_OVERWRITE_KEY_FLAG |
                                           NCRYPT_DO_NOT_FINALIZE_FLAG | NCRYPT_SILENT_FLAG)) != 0)
            return fail(NTE_BAD_FLAGS);
        // Only plain blobs: no key here encrypts another.
        if (hImportKey != 0) return fail(NTE_NOT_SUPPORTED);
        std::string name;
        if (!keyNameOf(pParameterList, name)) return fail(NTE_INVALID_PARAMETER);
        DWORD error = ERROR_SUCCESS;
        PkeyPtr imported = keyFromCngPrivateBlob(pszBlobType, pbData, cbData, error);
        if (!imported) return fail(error);
        if (!keyRefusal(imported.get(), KeyFamily::Ksp).empty()) return fail(NTE_NOT_SUPPORTED);
        auto draft = std::make_shared<KeyDraft>();
        draft->algorithm = algorithmOf(imported.get());
        draft->imported = shareKey(std::move(imported));
        std::shared_ptr<SoftNcryptObject> key;
        error = newDraftKey(*provider, name, dwFlags, std::move(draft), key);
        if (error == ERROR_SUCCESS && (dwFlags & NCRYPT_DO_NOT_FINALIZE_FLAG) == 0)
            key = finalizeDraft(*key, error);
        if (error != ERROR_SUCCESS) return fail(error);
        *phKey = ncryptHandles().add(std::move(key));
        return ERROR_SUCCESS;
    });
}

SECURITY_STATUS WINAPI NCryptFinalizeKey(NCRYPT_KEY_HANDLE hKey, DWORD dwFlags) {
    return guardStatusEntryPoint([&]() -> SECURITY_STATUS {
        std::shared_ptr<SoftNcryptObject> key = ncryptHandles().find(hKey);
        if (!key || !key->isKey()) return fail(NTE_INVALID_HANDLE);
        if ((dwFlags & ~static_cast<DWORD>(NCRYPT_SILENT_FLAG)) != 0) return fail(NTE_BAD_FLAGS);
        if (!key->draft) return fail(NTE_BAD_KEY_STATE);
        DWORD error = ERROR_SUCCESS;
        std::shared_ptr<SoftNcryptObject> finished = finalizeDraft(*key, error);
        if (!finished) return fail(error);
        // The handle stands for the finished key from now on; one freed meanwhile is gone.
        return ncryptHandles().replace(hKey, std::move(finished)) ? ERROR_SUCCESS
                                                                  : fail(NTE_INVALID_HANDLE);
    });
}

SECURITY_STATUS WINAPI NCryptDeleteKey(NCRYPT_KEY_HANDLE hKey, DWORD dwFlags) {
    return guardStatusEntryPoint([&]() -> SECURITY_STATUS {
        std::shared_ptr<SoftNcryptObject> key = ncryptHandles().find(hKey);
        if (!key || !key->isKey()) return fail(NTE_INVALID_HANDLE);
        if ((dwFlags & ~static_cast<DWORD>(NCRYPT_SILENT_FLAG)) != 0) return fail(NTE_BAD_FLAGS);
        // A CSP's key seen through CNG is its container's to delete (CRYPT_DELETEKEYSET).
        if (!key->draft && !key->persisted && !key->name.empty()) return fail(NTE_NOT_SUPPORTED);
        if (key->persisted) {
            try {
                KeystoreWriter writer(key->location);
                if (!deleteContainer(writer.connection(), KeyFamily::Ksp, key->name))
                    return fail(NTE_BAD_KEYSET);
                writer.commit();
            } catch (const DatabaseError& failure) {
                return fail(failure.code);
            }
        }
        ncryptHandles().remove(hKey);
        return ERROR_SUCCESS;
    });
}
