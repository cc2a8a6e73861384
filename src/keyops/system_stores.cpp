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

const char kOpenSystemStore[] = "CertOpenSystemStoreA";

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
// (`take` then returns false).
template <typename Entry, typename Take>
std::vector<Entry> collect(CallContext& context, const char* storeName, Take take) {
    std::vector<Entry> list;
    writeLogFormatted(kListBanner, context.log, storeName);
    ScopedStore store = openSystemStore(context, storeName);
    if (!store.valid()) return list;
    ScopedCertContext stopped = walkCertificates(
        store.get(), [&](PCCERT_CONTEXT certificate) { return !take(list, certificate); });
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

}  // namespace

CertificateList listCertificates(CallContext& context, const char* storeName) {
    bool keysOnly = std::strcmp(storeName, kPersonalStoreFilter) == 0;
    return collect<std::vector<BYTE>>(context, storeName,
                                      [&](CertificateList& list, PCCERT_CONTEXT certificate) {
        if (keysOnly && !hasKey(context.platform, certificate)) return true;
        return appendOrStop([&] { list.push_back(encodingOf(certificate)); });
    });
}

std::vector<ListedCertificate> listStoreEntries(CallContext& context, const char* storeName) {
    return collect<ListedCertificate>(
        context, storeName, [&](std::vector<ListedCertificate>& list, PCCERT_CONTEXT certificate) {
            return appendOrStop([&] {
                list.push_back({encodingOf(certificate), hasKey(context.platform, certificate)});
            });
        });
}

DWORD addCertificate(CallContext& context, const char* storeName, const BYTE* encoding,
                     DWORD length) {
    writeLogFormatted(kAddBanner, context.log, storeName);
    ScopedStore store = openSystemStore(context, storeName);
    if (!store.valid()) return context.outcome.windowsError();
    const CryptoPlatform& platform = context.platform;
    bool added = platform.CertAddEncodedCertificateToSystemStoreA(storeName, encoding, length);
    DWORD error = added ? ERROR_SUCCESS : platform.GetLastError();
    if (added)
        writeLog(kAdded, context.log);
    else
        writeLogFormatted(kAddError, context.log, static_cast<unsigned>(error));
    closeSystemStore(context, store);
    return error;
}

DWORD deleteCertificate(CallContext& context, const char* storeName, const BYTE* encoding,
                        DWORD length) {
    writeLogFormatted(kDeleteBanner, context.log, storeName);
    ScopedStore store = openSystemStore(context, storeName);
    if (!store.valid()) return context.outcome.windowsError();
    ScopedCertContext found = walkCertificates(store.get(), [&](PCCERT_CONTEXT certificate) {
        return hasEncoding(certificate, encoding, length);
    });
    const CryptoPlatform& platform = context.platform;
    DWORD error = static_cast<DWORD>(CRYPT_E_NOT_FOUND);
    if (!found.valid()) {
        writeLog(kCertificateNotFound, context.log);
    } else if (platform.CertDeleteCertificateFromStore(found.detach())) {
        // Deletion frees the context, whatever its outcome.
        error = ERROR_SUCCESS;
        writeLog(kDeleted, context.log);
    } else {
        error = platform.GetLastError();
        writeLogFormatted(kDeleteError, context.log, static_cast<unsigned>(error));
    }
    closeSystemStore(context, store);
    return error;
}

}  // namespace keyops
