#include "keyops/container_key.h"

#include <algorithm>
#include <cctype>

namespace keyops {

namespace {

// The CSP types whose containers share one namespace: every RSA provider's, every DSS one's.
// Another type stands for itself; a key storage provider (0) is a family of its own.
const DWORD kRsaTypes[] = {1, 2, 12, 24};  // PROV_RSA_FULL, _SIG, _SCHANNEL, _AES
const DWORD kDssTypes[] = {3, 13};         // PROV_DSS, PROV_DSS_DH

DWORD familyOf(DWORD providerType) {
    auto in = [providerType](const auto& types) {
        return std::find(std::begin(types), std::end(types), providerType) != std::end(types);
    };
    if (in(kRsaTypes)) return kRsaTypes[0];
    if (in(kDssTypes)) return kDssTypes[0];
    return providerType;
}

bool sameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

KeyProvInfo::KeyProvInfo(const ContainerKey& key)
    : container_(toWide(key.container)), provider_(toWide(key.provider)) {
    info_.pwszContainerName = container_.data();
    info_.pwszProvName = provider_.data();
    info_.dwProvType = key.providerType;
    info_.dwFlags = bindingOf(key).keysetFlags;
    info_.dwKeySpec = key.keySpec;
}

bool containerOf(const std::vector<BYTE>& record, ContainerKey& key) {
    if (record.size() < sizeof(CRYPT_KEY_PROV_INFO)) return false;
    CRYPT_KEY_PROV_INFO info;
    std::copy(record.begin(), record.begin() + sizeof(info), reinterpret_cast<BYTE*>(&info));
    if (info.pwszContainerName == nullptr || info.pwszProvName == nullptr ||
        !isLatin1(info.pwszContainerName) || !isLatin1(info.pwszProvName))
        return false;
    key.location = (info.dwFlags & CRYPT_MACHINE_KEYSET) != 0 ? StoreLocation::LocalMachine
                                                              : StoreLocation::CurrentUser;
    key.container = toNarrow(info.pwszContainerName);
    key.provider = toNarrow(info.pwszProvName);
    key.providerType = info.dwProvType;
    key.keySpec = info.dwKeySpec;
    return true;
}

bool sameContainer(const ContainerKey& a, const ContainerKey& b) {
    return a.location == b.location && familyOf(a.providerType) == familyOf(b.providerType) &&
           sameIgnoringCase(a.container, b.container);
}

}  // namespace keyops
