#include "support/capi_fixture_cleanup.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "support/capi_handles.h"

namespace {

BOOL WINAPI collectStoreName(const void* name, DWORD, PCERT_SYSTEM_STORE_INFO, void*, void* names) {
    static_cast<std::vector<std::wstring>*>(names)->push_back(static_cast<const wchar_t*>(name));
    return TRUE;
}

// The names of a location's system stores, those a test made by adding to them included.
std::vector<std::wstring> storeNames(DWORD location) {
    std::vector<std::wstring> names;
    CertEnumSystemStore(location, nullptr, &names, collectStoreName);
    return names;
}

bool isMade(PCCERT_CONTEXT context, const std::vector<Bytes>& certificates) {
    return std::any_of(certificates.begin(), certificates.end(), [&](const Bytes& made) {
        return made.size() == context->cbCertEncoded &&
               std::memcmp(made.data(), context->pbCertEncoded, made.size()) == 0;
    });
}

void removeFromStore(DWORD location, const std::wstring& name,
                     const std::vector<Bytes>& certificates) {
    capi::Store store(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                    location | CERT_STORE_OPEN_EXISTING_FLAG, name.c_str()));
    if (!store.valid()) return;
    // The whole store is walked before anything goes: enumeration does not survive a deletion
    // under Wine.
    std::vector<PCCERT_CONTEXT> doomed;
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertEnumCertificatesInStore(store.get(), context)) != nullptr)
        if (isMade(context, certificates)) doomed.push_back(CertDuplicateCertificateContext(context));
    // Deletion frees the context it is given.
    for (PCCERT_CONTEXT certificate : doomed) CertDeleteCertificateFromStore(certificate);
    // Wine forgets a deletion from a registry store that is not committed before it is closed.
    if (!doomed.empty()) CertControlStore(store.get(), 0, CERT_STORE_CTRL_COMMIT, nullptr);
}

}  // namespace

void removeContainer(const MadeContainer& container) {
    HCRYPTPROV unused = 0;
    CryptAcquireContextA(&unused, container.name.c_str(), container.provider.c_str(),
                         container.type, CRYPT_DELETEKEYSET | container.keysetFlags);
}

void removeAll(const MadeByFixture& made) {
    for (DWORD location : {CERT_SYSTEM_STORE_CURRENT_USER, CERT_SYSTEM_STORE_LOCAL_MACHINE}) {
        if (made.certificates.empty()) break;
        for (const std::wstring& name : storeNames(location))
            removeFromStore(location, name, made.certificates);
    }
    for (const MadeContainer& container : made.containers) removeContainer(container);
}
