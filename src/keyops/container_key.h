// A key container the provider makes, binds certificates to and deletes, named as a certificate's
// key-provider property names it.
#pragma once

#include <string>
#include <vector>

#include "keyops/certificate_lookup.h"
#include "keyops/store_location.h"

namespace keyops {

// Where a new RSA key goes: the AES CSP (the default) or the key storage provider. EC keys always
// go to the key storage provider, which alone holds them.
enum class KeyHome { Csp, KeyStorageProvider };

inline constexpr char kAesCspName[] = "Microsoft Enhanced RSA and AES Cryptographic Provider";
inline constexpr char kSoftwareKspName[] = "Microsoft Software Key Storage Provider";

// The names are Latin-1 (each byte one UTF-16 unit in the property), as the lookup reads them.
struct ContainerKey {
    StoreLocation location = StoreLocation::CurrentUser;
    std::string container;
    std::string provider;
    DWORD providerType = 0;  // PROV_RSA_AES, or 0 for a key storage provider
    DWORD keySpec = 0;       // AT_KEYEXCHANGE, or 0 for a key storage provider

    bool inKeyStorageProvider() const { return providerType == 0; }
};

// The container the provider makes for a new key of `home`: the AES CSP's key-exchange key, or
// the key storage provider's key.
inline ContainerKey newContainerKey(StoreLocation location, const std::string& container,
                                    KeyHome home) {
    if (home == KeyHome::Csp) return {location, container, kAesCspName, PROV_RSA_AES, AT_KEYEXCHANGE};
    return {location, container, kSoftwareKspName, 0, 0};
}

// The container as the acquisitions take it: CRYPT_MACHINE_KEYSET for the machine's.
inline KeyBinding bindingOf(const ContainerKey& key) {
    return {key.container, key.provider, key.providerType,
            key.location == StoreLocation::LocalMachine ? DWORD{CRYPT_MACHINE_KEYSET} : 0};
}

// CNG's word for the same keyset: NCRYPT_MACHINE_KEY_FLAG for the machine's.
inline DWORD ncryptKeysetFlags(const KeyBinding& binding) {
    return (binding.keysetFlags & CRYPT_MACHINE_KEYSET) != 0 ? DWORD{NCRYPT_MACHINE_KEY_FLAG} : 0;
}

// The key-provider property (CERT_KEY_PROV_INFO_PROP_ID) that binds a certificate to the
// container: its names, type, key and keyset.
class KeyProvInfo {
public:
    explicit KeyProvInfo(const ContainerKey& key);
    KeyProvInfo(const KeyProvInfo&) = delete;
    KeyProvInfo& operator=(const KeyProvInfo&) = delete;
    const CRYPT_KEY_PROV_INFO* get() const { return &info_; }

private:
    std::basic_string<WCHAR> container_;
    std::basic_string<WCHAR> provider_;
    CRYPT_KEY_PROV_INFO info_ = {};
};

// The container a CRYPT_KEY_PROV_INFO record names: false for a record too short, naming no
// container or provider, or naming one beyond Latin-1.
bool containerOf(const std::vector<BYTE>& record, ContainerKey& key);

// Whether two name the same container: the same name (ignoring case, as container names do), a
// provider of the same family (RSA, DSS, a key storage provider) and the same keyset.
bool sameContainer(const ContainerKey& a, const ContainerKey& b);

}  // namespace keyops
