#include "keyops/system_stores.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "diagnostics/status.h"
#include "keyops/certificate_walk.h"

namespace keyops {

using diagnostics::kStatusStoreNotOpened;

namespace {

// Only the personal store spelled exactly so lists the certificates that have a key.
const char kPersonalStoreFilter[] = "MY";

const char kOpenSystemStore[] = "CertOpenSystemStoreA";

// The store, or none with status 7 recorded.
ScopedStore openSystemStore(CallContext& context, const char* storeName) {
    ScopedStore store(context.platform.CertOpenSystemStoreA(0, storeName));
    if (!store.valid())
        context.outcome.record(kStatusStoreNotOpened, kOpenSystemStore,
                               context.platform.GetLastError());
    return store;
}

bool hasKey(const CryptoPlatform& platform, PCCERT_CONTEXT certificate) {
    DWORD size = 0;
    return platform.CertGetCertificateContextProperty(
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

CertificateList listCertificates(CallContext& context, const char* storeName) {
    CertificateList list;
    ScopedStore store = openSystemStore(context, storeName);
    if (!store.valid()) return list;
    bool keysOnly = std::strcmp(storeName, kPersonalStoreFilter) == 0;
    // The walk stops only where memory for a copy ran out; the list is then empty.
    ScopedCertContext stopped = walkCertificates(store.get(), [&](PCCERT_CONTEXT certificate) {
        return (!keysOnly || hasKey(context.platform, certificate)) && !appendCopy(list, certificate);
    });
    if (stopped.valid()) list = CertificateList();
    std::reverse(list.begin(), list.end());
    stopped.reset();
    static_cast<void>(store.close());
    return list;
}

DWORD addCertificate(CallContext& context, const char* storeName, const BYTE* encoding,
                     DWORD length) {
    ScopedStore store = openSystemStore(context, storeName);
    if (!store.valid()) return context.outcome.windowsError();
    const CryptoPlatform& platform = context.platform;
    DWORD error = platform.CertAddEncodedCertificateToSystemStoreA(storeName, encoding, length)
                      ? ERROR_SUCCESS
                      : platform.GetLastError();
    static_cast<void>(store.close());
    return error;
}

DWORD deleteCertificate(CallContext& context, const char* storeName, const BYTE* encoding,
                        DWORD length) {
    ScopedStore store = openSystemStore(context, storeName);
    if (!store.valid()) return context.outcome.windowsError();
    ScopedCertContext found = walkCertificates(store.get(), [&](PCCERT_CONTEXT certificate) {
        return hasEncoding(certificate, encoding, length);
    });
    const CryptoPlatform& platform = context.platform;
    DWORD error = static_cast<DWORD>(CRYPT_E_NOT_FOUND);
    // Deletion frees the context, whatever its outcome.
    if (found.valid())
        error = platform.CertDeleteCertificateFromStore(found.detach()) ? ERROR_SUCCESS
                                                                        : platform.GetLastError();
    static_cast<void>(store.close());
    return error;
}

}  // namespace keyops
