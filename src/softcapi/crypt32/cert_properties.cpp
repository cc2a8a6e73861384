// Certificate context properties: the key-provider record, read and set, and the SHA-1
// thumbprint.
#include <cstring>

#include "softcapi/advapi32/providers.h"
#include "softcapi/keystore/keystore_cache.h"
#include "softcapi/keystore/keystore_file.h"
#include "softcapi/shim/entry_guard.h"
#include "softcapi/shim/last_error.h"
#include "softcapi/shim/text_encoding.h"

using namespace softcapi;

namespace {

// The two-call protocol: no buffer asks for the size; a short buffer gets ERROR_MORE_DATA.
BOOL answerSize(void* data, DWORD* size, DWORD needed, bool& fill) {
    fill = false;
    if (data == nullptr) {
        *size = needed;
        return TRUE;
    }
    if (*size < needed) {
        *size = needed;
        return failWith(ERROR_MORE_DATA);
    }
    *size = needed;
    fill = true;
    return TRUE;
}

// CRYPT_KEY_PROV_INFO followed by its two UTF-16 strings, which its pointers address; a key of
// the machine's says so in its flags, as a machine certificate's binding does on Windows.
BOOL keyProvInfo(const KeyBinding& binding, Location location, void* data, DWORD* size) {
    std::u16string container = utf8ToUtf16(binding.container);
    std::u16string provider = utf8ToUtf16(binding.provider);
    size_t containerBytes = (container.size() + 1) * sizeof(WCHAR);
    size_t providerBytes = (provider.size() + 1) * sizeof(WCHAR);
    DWORD needed =
        static_cast<DWORD>(sizeof(CRYPT_KEY_PROV_INFO) + containerBytes + providerBytes);
    bool fill = false;
    BOOL answer = answerSize(data, size, needed, fill);
    if (!fill) return answer;
    auto* info = static_cast<CRYPT_KEY_PROV_INFO*>(data);
    auto* containerCopy = reinterpret_cast<WCHAR*>(info + 1);
    auto* providerCopy = reinterpret_cast<WCHAR*>(reinterpret_cast<BYTE*>(containerCopy) + containerBytes);
    std::memcpy(containerCopy, container.c_str(), containerBytes);
    std::memcpy(providerCopy, provider.c_str(), providerBytes);
    std::memset(info, 0, sizeof(*info));
    info->pwszContainerName = containerCopy;
    info->pwszProvName = providerCopy;
    info->dwProvType = binding.providerType;
    info->dwKeySpec = binding.keySpec;
    info->dwFlags = location == Location::LocalMachine ? CRYPT_MACHINE_KEYSET : 0;
    return TRUE;
}

BOOL bytes(const std::vector<BYTE>& value, void* data, DWORD* size) {
    bool fill = false;
    BOOL answer = answerSize(data, size, static_cast<DWORD>(value.size()), fill);
    // A damaged key store can hold an empty value, whose data() may be null.
    if (fill && !value.empty()) std::memcpy(data, value.data(), value.size());
    return answer;
}

// The binding a CRYPT_KEY_PROV_INFO names; false for one the key store cannot keep: no
// container, no provider where the type has no default, or flags of the other location, since a
// certificate is bound to a key of its own location.
bool bindingOfInfo(const CRYPT_KEY_PROV_INFO& info, Location location, KeyBinding& binding) {
    const DWORD keySet = location == Location::LocalMachine ? CRYPT_MACHINE_KEYSET : 0;
    if (info.pwszContainerName == nullptr || (info.dwFlags & CRYPT_MACHINE_KEYSET) != keySet)
        return false;
    binding.container = utf16ToUtf8(std::u16string(info.pwszContainerName));
    if (info.pwszProvName != nullptr) {
        binding.provider = utf16ToUtf8(std::u16string(info.pwszProvName));
    } else {
        const ProviderInfo* typeDefault = defaultProvider(info.dwProvType);
        if (typeDefault == nullptr) return false;
        binding.provider = typeDefault->name;
    }
    binding.providerType = info.dwProvType;
    binding.keySpec = info.dwKeySpec;
    return true;
}

}  // namespace

BOOL WINAPI CertGetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId,
                                              void* pvData, DWORD* pcbData) {
    return guardEntryPoint([&]() -> BOOL {
        ContextPlace place;
        if (!placeOf(pCertContext, place) || pcbData == nullptr) return failWith(E_INVALIDARG);
        const SnapshotEntry* entry = entryAt(*place.snapshot, place.index);
        if (entry == nullptr) return failWith(E_INVALIDARG);
        switch (dwPropId) {
            case CERT_KEY_PROV_INFO_PROP_ID: {
                const std::optional<KeyBinding> binding = entry->binding();
                if (!binding) return failWith(CRYPT_E_NOT_FOUND);
                return keyProvInfo(*binding, locationAt(*place.snapshot, place.index), pvData,
                                   pcbData);
            }
            case CERT_SHA1_HASH_PROP_ID:
                return bytes(entry->record.thumbprint, pvData, pcbData);
            default:
                return failWith(CRYPT_E_NOT_FOUND);
        }
    });
}

BOOL WINAPI CertSetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId,
                                              DWORD dwFlags, const void* pvData) {
    return guardEntryPoint([&]() -> BOOL {
        ContextPlace place;
        if (!placeOf(pCertContext, place)) return failWith(E_INVALIDARG);
        const SnapshotEntry* entry = entryAt(*place.snapshot, place.index);
        // The key store keeps no other property, and every change is persisted.
        if (entry == nullptr || dwPropId != CERT_KEY_PROV_INFO_PROP_ID || dwFlags != 0)
            return failWith(E_INVALIDARG);
        const StoreSnapshot& store = *place.snapshot;
        std::optional<KeyBinding> binding;
        if (pvData != nullptr) {
            binding.emplace();
            if (!bindingOfInfo(*static_cast<const CRYPT_KEY_PROV_INFO*>(pvData), store.location,
                               *binding))
                return failWith(E_INVALIDARG);
        }
        // A certificate of a layer beneath (no row of the store's file) is not the store's.
        const int64_t id = store.ids[place.index];
        if (store.readOnly || id == 0) return failWith(E_ACCESSDENIED);
        try {
            KeystoreWriter writer(store.location);
            if (!setCertificateBinding(writer.connection(), id, binding ? &*binding : nullptr))
                return failWith(CRYPT_E_NOT_FOUND);
            writer.commit();
        } catch (const DatabaseError& failure) {
            return failWith(failure.code);
        }
        entry->rebind(std::move(binding));
        return TRUE;
    });
}
