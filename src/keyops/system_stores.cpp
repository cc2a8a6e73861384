#include "keyops/system_stores.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "diagnostics/log.h"
#include "diagnostics/status.h"
#include "keyops/certificate_walk.h"

namespace keyops {

using diagnostics::kStatusStoreNotOpened;
using diagnostics::writeLog;
using diagnostics::writeLogFormatted;

namespace {

// Only the personal store spelled exactly so lists the certificates that have a key.
const char kPersonalStoreFilter[] = "MY";

const char kListBanner[] = "########## List store: %s ##########";
const char kAddBanner[] = "########## Add certificate to store: %s ##########";
const char kDeleteBanner[] = "########## Delete certificate from store: %s ##########";
const char kStoreOpened[] = "CertOpenSystemStore success";
const char kStoreOpenError[] = "CertOpenSystemStore error: %x";
const char kListed[] = "Certificates listed: %u";
const char kAdded[] = "CertAddEncodedCertificateToSystemStore success";
const char kAddError[] = "CertAddEncodedCertificateToSystemStore error: %x";
const char kDeleted[] = "CertDeleteCertificateFromStore success";
const char kDeleteError[] = "CertDeleteCertificateFromStore error: %x";
const char kCertificateNotFound[] = "Certificate not found";
const char kStoreClosed[] = "CertCloseStore success";
const char kStoreCloseError[] = "CertCloseStore error: %x";

const char kEnumerateError[] = "CertEnumCertificatesInStore error: %x";

const char kOpenSystemStore[] = "CertOpenSystemStoreA";
const char kEnumerate[] = "CertEnumCertificatesInStore";
const char kAdd[] = "CertAddEncodedCertificateToSystemStoreA";
const char kDelete[] = "CertDeleteCertificateFromStore";

// The store, or none with status 7 recorded.
ScopedStore openSystemStore(CallContext& context, const char* storeName) {
    ScopedStore store;
    runStep(context, {kOpenSystemStore, kStoreOpened, kStoreOpenError, kStatusStoreNotOpened}, [&] {
        store.reset(context.platform.CertOpenSystemStoreA(0, storeName));
        return store.valid();
    });
    return store;
}

// Maintenance records nothing for a store it cannot close: the change was made or not already.
void closeSystemStore(CallContext& context, ScopedStore& store) {
    if (store.close())
        writeLog(kStoreClosed, context.log);
    else
        writeLogFormatted(kStoreCloseError, context.log,
                          static_cast<unsigned>(context.platform.GetLastError()));
}

bool hasKey(const CryptoPlatform& platform, PCCERT_CONTEXT certificate) {
    DWORD size = 0;
    return platform.CertGetCertificateContextProperty(
               certificate, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size) &&
           size != 0;
}

// Each certificate `take` keeps, the last enumerated first; empty where memory for one ran out
// (`take` then returns false). `walkError` is ERROR_SUCCESS when the walk reached the store's
// end, else why it did not: no memory, or the enumeration's own error.
template <typename Entry, typename Take>
std::vector<Entry> collect(CallContext& context, const char* storeName, DWORD& walkError,
                           Take take) {
    std::vector<Entry> list;
    walkError = ERROR_SUCCESS;
    writeLogFormatted(kListBanner, context.log, storeName);
    ScopedStore store = openSystemStore(context, storeName);
    if (!store.valid()) return list;
    ScopedCertContext stopped = walkCertificates(
        store.get(), [&](PCCERT_CONTEXT certificate) { return !take(list, certificate); });
    if (stopped.valid())
        walkError = ERROR_NOT_ENOUGH_MEMORY;
    else if (!walkEndedAtTheLast(context.platform))
        walkError = context.platform.GetLastError();
    if (stopped.valid()) list = std::vector<Entry>();
    std::reverse(list.begin(), list.end());
    stopped.reset();
    writeLogFormatted(kListed, context.log, static_cast<unsigned>(list.size()));
    closeSystemStore(context, store);
    return list;
}

// False when memory for the copy cannot be had.
template <typename Append>
bool appendOrStop(Append append) {
    try {
        append();
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

std::vector<BYTE> encodingOf(PCCERT_CONTEXT certificate) {
    return std::vector<BYTE>(certificate->pbCertEncoded,
                             certificate->pbCertEncoded + certificate->cbCertEncoded);
}

// Whether the certificate has a key and whether it lives in a key storage provider (CNG):
// provider type 0. A property that cannot be read in whole says no to the second, and the key is
// tried as a CSP's.
ListedCertificate listedWithKey(const CryptoPlatform& platform, PCCERT_CONTEXT certificate) {
    ListedCertificate listed;
    listed.encoding = encodingOf(certificate);
    DWORD size = 0;
    listed.hasKey = platform.CertGetCertificateContextProperty(
                        certificate, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size) &&
                    size != 0;
    if (!listed.hasKey || size < sizeof(CRYPT_KEY_PROV_INFO)) return listed;
    std::vector<BYTE> buffer(size);
    if (!platform.CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID,
                                                    buffer.data(), &size) ||
        size < sizeof(CRYPT_KEY_PROV_INFO))
        return listed;
    CRYPT_KEY_PROV_INFO info;
    std::memcpy(&info, buffer.data(), sizeof(info));
    listed.cngKey = info.dwProvType == 0;
    return listed;
}

}  // namespace

CertificateList listCertificates(CallContext& context, const char* storeName) {
    bool keysOnly = std::strcmp(storeName, kPersonalStoreFilter) == 0;
    // The ten natives' listing gives what it saw, whether or not the walk was cut short.
    DWORD walkError = ERROR_SUCCESS;
    return collect<std::vector<BYTE>>(context, storeName, walkError,
                                      [&](CertificateList& list, PCCERT_CONTEXT certificate) {
        if (keysOnly && !hasKey(context.platform, certificate)) return true;
        return appendOrStop([&] { list.push_back(encodingOf(certificate)); });
    });
}

std::vector<ListedCertificate> listStoreEntries(CallContext& context, const char* storeName) {
    DWORD walkError = ERROR_SUCCESS;
    std::vector<ListedCertificate> list = collect<ListedCertificate>(
        context, storeName, walkError,
        [&](std::vector<ListedCertificate>& entries, PCCERT_CONTEXT certificate) {
            return appendOrStop([&] {
                entries.push_back(listedWithKey(context.platform, certificate));
            });
        });
    // What a walk cut short gives is not the store: the listing fails.
    if (walkError != ERROR_SUCCESS) {
        writeLogFormatted(kEnumerateError, context.log, static_cast<unsigned>(walkError));
        context.outcome.record(kStatusStoreNotOpened, kEnumerate, walkError);
        list.clear();
    }
    return list;
}

StoreChange addCertificate(CallContext& context, const char* storeName, const BYTE* encoding,
                           DWORD length) {
    writeLogFormatted(kAddBanner, context.log, storeName);
    ScopedStore store = openSystemStore(context, storeName);
    if (!store.valid()) return {context.outcome.windowsError(), kOpenSystemStore};
    const CryptoPlatform& platform = context.platform;
    StoreChange change;
    if (platform.CertAddEncodedCertificateToSystemStoreA(storeName, encoding, length)) {
        writeLog(kAdded, context.log);
    } else {
        change = {platform.GetLastError(), kAdd};
        writeLogFormatted(kAddError, context.log, static_cast<unsigned>(change.error));
    }
    closeSystemStore(context, store);
    return change;
}

StoreChange deleteCertificate(CallContext& context, const char* storeName, const BYTE* encoding,
                              DWORD length) {
    writeLogFormatted(kDeleteBanner, context.log, storeName);
    ScopedStore store = openSystemStore(context, storeName);
    if (!store.valid()) return {context.outcome.windowsError(), kOpenSystemStore};
    ScopedCertContext found = walkCertificates(store.get(), [&](PCCERT_CONTEXT certificate) {
        return hasEncoding(certificate, encoding, length);
    });
    const CryptoPlatform& platform = context.platform;
    StoreChange change;
    if (!found.valid()) {
        DWORD error = platform.GetLastError();
        if (error == static_cast<DWORD>(CRYPT_E_NOT_FOUND)) {
            change = {error, kDelete};
            writeLog(kCertificateNotFound, context.log);
        } else {
            change = {error, kEnumerate};
            writeLogFormatted(kEnumerateError, context.log, static_cast<unsigned>(error));
        }
    } else if (platform.CertDeleteCertificateFromStore(found.detach())) {
        // Deletion frees the context, whatever its outcome.
        writeLog(kDeleted, context.log);
    } else {
        change = {platform.GetLastError(), kDelete};
        writeLogFormatted(kDeleteError, context.log, static_cast<unsigned>(change.error));
    }
    closeSystemStore(context, store);
    return change;
}

}  // namespace keyops
