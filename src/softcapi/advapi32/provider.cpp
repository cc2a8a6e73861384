// Provider contexts: acquisition of a key container (made or deleted with it), its parameters
// and its PIN.
#include <cstdlib>
#include <cstring>

#include "softcapi/keystore/container_store.h"
#include "softcapi/keystore/keystore_cache.h"
#include "softcapi/keystore/keystore_file.h"
#include "softcapi/shim/crypt_objects.h"
#include "softcapi/shim/entry_guard.h"
#include "softcapi/shim/last_error.h"
#include "softcapi/shim/text_encoding.h"

using namespace softcapi;

namespace {

const DWORD kKeySetActions = CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET;
const DWORD kAcceptedAcquireFlags =
    CRYPT_VERIFYCONTEXT | CRYPT_SILENT | CRYPT_MACHINE_KEYSET | kKeySetActions;

// Windows names a container the caller does not name after the user.
std::string defaultContainerName() {
    const char* user = std::getenv("USER");
    return user != nullptr && user[0] != '\0' ? user : "default";
}

BOOL answerBytes(const void* value, DWORD size, BYTE* data, DWORD* length) {
    if (data == nullptr) {
        *length = size;
        return TRUE;
    }
    if (*length < size) {
        *length = size;
        return failWith(ERROR_MORE_DATA);
    }
    std::memcpy(data, value, size);
    *length = size;
    return TRUE;
}

BOOL enumerateAlgorithms(SoftProvider& provider, BYTE* data, DWORD* length, DWORD flags) {
    PROV_ENUMALGS entry{};
    if (data == nullptr) return answerBytes(&entry, sizeof(entry), data, length);
    std::lock_guard<std::mutex> lock(provider.mutex);
    if ((flags & CRYPT_FIRST) != 0) provider.nextAlgorithm = 0;
    const std::vector<AlgorithmInfo>& algorithms = provider.info->algorithms;
    if (provider.nextAlgorithm >= algorithms.size()) return failWith(ERROR_NO_MORE_ITEMS);
    const AlgorithmInfo& algorithm = algorithms[provider.nextAlgorithm];
    entry.aiAlgid = algorithm.id;
    entry.dwBitLen = algorithm.defaultBits;
    entry.dwNameLen = static_cast<DWORD>(std::strlen(algorithm.name) + 1);
    std::memcpy(entry.szName, algorithm.name, entry.dwNameLen);
    if (!answerBytes(&entry, sizeof(entry), data, length)) return FALSE;
    ++provider.nextAlgorithm;
    return TRUE;
}

BOOL setPin(SoftProvider& provider, const BYTE* pin) {
    if (pin == nullptr) return failWith(ERROR_INVALID_PARAMETER);
    std::shared_ptr<const LoadedContainer> container = provider.loaded();
    // Software containers with keys but without a PIN refuse the parameter, as software
    // providers do.
    if (!container || (!container->pinProtected() && container->holdsKeys()))
        return failWith(NTE_BAD_TYPE);
    const char* text = reinterpret_cast<const char*>(pin);
    const size_t length = std::strlen(text);
    std::map<DWORD, SharedKey> keys;
    if (container->pinProtected()) {
        DWORD error = container->unlock(text, length, keys);
        if (error != ERROR_SUCCESS) return failWith(error);
    } else if (length == 0) {
        // A new container's keys go under the PIN: an empty one would protect nothing.
        return failWith(ERROR_INVALID_PARAMETER);
    }
    std::lock_guard<std::mutex> lock(provider.mutex);
    provider.unlockedKeys = std::move(keys);
    provider.pin = common::SecureBytes(text, length);
    return TRUE;
}

// CRYPT_NEWKEYSET: a container without keys, at once, as Windows makes one.
DWORD createKeySet(Location location, KeyFamily family, const std::string& name) {
    try {
        KeystoreWriter writer(location);
        if (containerExists(writer.connection(), family, name)) return NTE_EXISTS;
        ContainerRecord container;
        container.family = family;
        container.name = name;
        storeContainer(writer.connection(), location, std::move(container));
        writer.commit();
    } catch (const DatabaseError& failure) {
        return failure.code;
    }
    return ERROR_SUCCESS;
}

// CRYPT_DELETEKEYSET: the container and its keys; certificates bound to it keep their binding,
// as on Windows.
DWORD deleteKeySet(Location location, KeyFamily family, const std::string& name) {
    try {
        KeystoreWriter writer(location);
        if (!deleteContainer(writer.connection(), family, name)) return NTE_BAD_KEYSET;
        writer.commit();
    } catch (const DatabaseError& failure) {
        return failure.code;
    }
    return ERROR_SUCCESS;
}

}  // namespace

BOOL WINAPI CryptAcquireContextA(HCRYPTPROV* phProv, LPCSTR szContainer, LPCSTR szProvider,
                                 DWORD dwProvType, DWORD dwFlags) {
    return guardEntryPoint([&]() -> BOOL {
        if (phProv == nullptr) return failWith(ERROR_INVALID_PARAMETER);
        if ((dwFlags & ~kAcceptedAcquireFlags) != 0) return failWith(NTE_BAD_FLAGS);
        const ProviderInfo* info = nullptr;
        if (szProvider == nullptr || szProvider[0] == '\0') {
            info = defaultProvider(dwProvType);
            if (info == nullptr) return failWith(NTE_PROV_TYPE_NOT_DEF);
        } else {
            info = findProvider(szProvider);
            if (info == nullptr) return failWith(NTE_KEYSET_NOT_DEF);
            if (info->type != dwProvType) return failWith(NTE_PROV_TYPE_NO_MATCH);
        }
        auto provider = std::make_shared<SoftProvider>();
        provider->info = info;
        if ((dwFlags & CRYPT_MACHINE_KEYSET) != 0) provider->location = Location::LocalMachine;
        const DWORD action = dwFlags & kKeySetActions;
        if ((dwFlags & CRYPT_VERIFYCONTEXT) == CRYPT_VERIFYCONTEXT) {
            if (szContainer != nullptr || action != 0) return failWith(NTE_BAD_FLAGS);
        } else {
            if (action == kKeySetActions) return failWith(NTE_BAD_FLAGS);
            provider->containerName = szContainer != nullptr ? szContainer : defaultContainerName();
            const std::string name = latin1ToUtf8(provider->containerName);
            DWORD error = ERROR_SUCCESS;
            if (action == CRYPT_DELETEKEYSET) {
                error = deleteKeySet(provider->location, info->family, name);
                return error == ERROR_SUCCESS ? TRUE : failWith(error);
            }
            if (action == CRYPT_NEWKEYSET) {
                error = createKeySet(provider->location, info->family, name);
                if (error != ERROR_SUCCESS) return failWith(error);
            }
            provider->setLoaded(findContainer(provider->location, info->family, name, error));
            if (!provider->loaded()) return failWith(error);
        }
        *phProv = providerHandles().add(std::move(provider));
        return TRUE;
    });
}

BOOL WINAPI CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags) {
    return guardEntryPoint([&]() -> BOOL {
        if (dwFlags != 0) return failWith(NTE_BAD_FLAGS);
        if (!providerHandles().remove(hProv)) return failWith(badProviderHandle(hProv));
        return TRUE;
    });
}

BOOL WINAPI CryptGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                              DWORD dwFlags) {
    return guardEntryPoint([&]() -> BOOL {
        std::shared_ptr<SoftProvider> provider = providerHandles().find(hProv);
        if (!provider) return failWith(badProviderHandle(hProv));
        if (pdwDataLen == nullptr) return failWith(ERROR_INVALID_PARAMETER);
        switch (dwParam) {
            case PP_ENUMALGS:
                return enumerateAlgorithms(*provider, pbData, pdwDataLen, dwFlags);
            case PP_NAME:
                return answerBytes(provider->info->name,
                                   static_cast<DWORD>(std::strlen(provider->info->name) + 1),
                                   pbData, pdwDataLen);
            case PP_CONTAINER:
                return answerBytes(provider->containerName.c_str(),
                                   static_cast<DWORD>(provider->containerName.size() + 1), pbData,
                                   pdwDataLen);
            case PP_PROVTYPE:
                return answerBytes(&provider->info->type, sizeof(DWORD), pbData, pdwDataLen);
            case PP_KEYSET_TYPE: {
                const DWORD keySet =
                    provider->location == Location::LocalMachine ? CRYPT_MACHINE_KEYSET : 0;
                return answerBytes(&keySet, sizeof(keySet), pbData, pdwDataLen);
            }
            default:
                return failWith(NTE_BAD_TYPE);
        }
    });
}

BOOL WINAPI CryptSetProvParam(HCRYPTPROV hProv, DWORD dwParam, CONST BYTE* pbData,
                              DWORD dwFlags) {
    return guardEntryPoint([&]() -> BOOL {
        // There are no dialogs to give a parent to: the window is accepted and ignored.
        if (dwParam == PP_CLIENT_HWND && hProv == 0) return TRUE;
        std::shared_ptr<SoftProvider> provider = providerHandles().find(hProv);
        if (!provider) return failWith(badProviderHandle(hProv));
        switch (dwParam) {
            case PP_CLIENT_HWND:
                return TRUE;
            // As on a smart card, the one PIN unlocks both keys, whichever parameter gives it.
            case PP_KEYEXCHANGE_PIN:
            case PP_SIGNATURE_PIN:
                return setPin(*provider, pbData);
            default:
                return failWith(NTE_BAD_TYPE);
        }
    });
}
