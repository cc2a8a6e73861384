#include "keyops/system_stores.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "diagnostics/status.h"
#include "keyops/handles.h"

namespace {

// Only the personal store spelled exactly so lists the certificates that have a key.
const char kPersonalStoreFilter[] = "MY";

// The store, or none with status 7 recorded.
ScopedStore openSystemStore(const char* storeName) {
    ScopedStore store(cryptoPlatform().CertOpenSystemStoreA(0, storeName));
    if (!store.valid()) recordStatus(kStatusStoreNotOpened);
    return store;
}

bool hasKey(PCCERT_CONTEXT certificate) {
    DWORD size = 0;
    return cryptoPlatform().CertGetCertificateContextProperty(
               certificate, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size) &&
           size != 0;
}

// False when memory for the copy cannot be had.
bool appendCopy(CertificateList& list, PCCERT_CONTEXT certificate) {
    try {
        list.emplace_back(certificate->pbCertEncoded,
                          certificate->pbCertEncoded + certificate->cbCertEncoded);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace

CertificateList listCertificates(const char* storeName) {
    CertificateList list;
    ScopedStore store = openSystemStore(storeName);
    if (!store.valid()) return list;
    const CryptoPlatform& platform = cryptoPlatform();
    bool keysOnly = std::strcmp(storeName, kPersonalStoreFilter) == 0;
    PCCERT_CONTEXT context = nullptr;
    while ((context = platform.CertEnumCertificatesInStore(store.get(), context)) != nullptr) {
        if (keysOnly && !hasKey(context)) continue;
        if (!appendCopy(list, context)) {
            platform.CertFreeCertificateContext(context);
            list = CertificateList();
            break;
        }
    }
    std::reverse(list.begin(), list.end());
    static_cast<void>(store.close());
    return list;
}

void addCertificate(const char* storeName, const BYTE* encoding, DWORD length) {
    ScopedStore store = openSystemStore(storeName);
    if (!store.valid()) return;
    cryptoPlatform().CertAddEncodedCertificateToSystemStoreA(storeName, encoding, length);
    static_cast<void>(store.close());
}

void deleteCertificate(const char* storeName, const BYTE* encoding, DWORD length) {
    ScopedStore store = openSystemStore(storeName);
    if (!store.valid()) return;
    const CryptoPlatform& platform = cryptoPlatform();
    PCCERT_CONTEXT context = nullptr;
    while ((context = platform.CertEnumCertificatesInStore(store.get(), context)) != nullptr) {
        if (context->cbCertEncoded == length &&
            (length == 0 || std::memcmp(context->pbCertEncoded, encoding, length) == 0)) {
            // Deletion frees the context, whatever its outcome.
            platform.CertDeleteCertificateFromStore(context);
            break;
        }
    }
    static_cast<void>(store.close());
}
