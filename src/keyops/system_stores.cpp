#include "keyops/system_stores.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "diagnostics/status.h"
#include "keyops/certificate_walk.h"

namespace keyops {

using diagnostics::kStatusStoreNotOpened;
using diagnostics::recordStatus;

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
    bool keysOnly = std::strcmp(storeName, kPersonalStoreFilter) == 0;
    // The walk stops only where memory for a copy ran out; the list is then empty.
    ScopedCertContext stopped = walkCertificates(store.get(), [&](PCCERT_CONTEXT context) {
        return (!keysOnly || hasKey(context)) && !appendCopy(list, context);
    });
    if (stopped.valid()) list = CertificateList();
    std::reverse(list.begin(), list.end());
    stopped.reset();
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
    ScopedCertContext found = walkCertificates(store.get(), [&](PCCERT_CONTEXT context) {
        return hasEncoding(context, encoding, length);
    });
    // Deletion frees the context, whatever its outcome.
    if (found.valid()) cryptoPlatform().CertDeleteCertificateFromStore(found.detach());
    static_cast<void>(store.close());
}

}  // namespace keyops
