#include "keyops/system_stores.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <string>

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
const char kLocationStoreOpened[] = "CertOpenStore success";
const char kLocationStoreOpenError[] = "CertOpenStore error: %x";
const char kListed[] = "Certificates listed: %u";
const char kAdded[] = "CertAddEncodedCertificateToSystemStore success";
const char kAddError[] = "CertAddEncodedCertificateToSystemStore error: %x";
const char kAddedToStore[] = "CertAddEncodedCertificateToStore success";
const char kAddToStoreError[] = "CertAddEncodedCertificateToStore error: %x";
const char kDeleted[] = "CertDeleteCertificateFromStore success";
const char kDeleteError[] = "CertDeleteCertificateFromStore error: %x";
const char kCertificateNotFound[] = "Certificate not found";
const char kStoreClosed[] = "CertCloseStore success";
const char kStoreCloseError[] = "CertCloseStore error: %x";

const char kEnumerateError[] = "CertEnumCertificatesInStore error: %x";

const char kOpenSystemStore[] = "CertOpenSystemStoreA";
const char kOpenStore[] = "CertOpenStore";
const char kEnumerate[] = "CertEnumCertificatesInStore";
const char kAdd[] = "CertAddEncodedCertificateToSystemStoreA";
const char kAddToStore[] = "CertAddEncodedCertificateToStore";

const char kMachinePrefix[] = "LocalMachine\\";

// How a store is reached: by name alone, as the ten natives reach the current user's, or by the
// location the provider names.
struct StoreReference {
    const char* name;
    std::optional<StoreLocation> location;

    // The name the log gives it: a store of the machine says so.
    std::string logged() const {
        return location == StoreLocation::LocalMachine ? kMachinePrefix + std::string(name) : name;
    }
};
const char kDelete[] = "CertDeleteCertificateFromStore";

// The store, or none with status 7 recorded.
ScopedStore openSystemStore(CallContext& context, const StoreReference& reference) {
    ScopedStore store;
    const CryptoPlatform& platform = context.platform;
    if (!reference.location) {
        runStep(context, {kOpenSystemStore, kStoreOpened, kStoreOpenError, kStatusStoreNotOpened},
                [&] {
                    store.reset(platform.CertOpenSystemStoreA(0, reference.name));
                    return store.valid();
                });
        return store;
    }
    const DWORD flags = systemStoreFlag(*reference.location) | CERT_STORE_MAXIMUM_ALLOWED_FLAG;
    runStep(context,
            {kOpenStore, kLocationStoreOpened, kLocationStoreOpenError, kStatusStoreNotOpened}, [&] {
                store.reset(platform.CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, flags,
                                                   reference.name));
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
std::vector<Entry> collect(CallContext& context, const StoreReference& reference,
                           DWORD& walkError, Take take) {
    std::vector<Entry> list;
    walkError = ERROR_SUCCESS;
    writeLogFormatted(kListBanner, context.log, reference.logged().c_str());
    ScopedStore store = openSystemStore(context, reference);
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
    if (info.pwszContainerName != nullptr)
        listed.container = reinterpret_cast<const char16_t*>(info.pwszContainerName);
    return listed;
}

}  // namespace

CertificateList listCertificates(CallContext& context, const char* storeName) {
    bool keysOnly = std::strcmp(storeName, kPersonalStoreFilter) == 0;
    // The ten natives' listing gives what it saw, whether or not the walk was cut short.
    DWORD walkError = ERROR_SUCCESS;
    return collect<std::vector<BYTE>>(context, {storeName, std::nullopt}, walkError,
                                      [&](CertificateList& list, PCCERT_CONTEXT certificate) {
        if (keysOnly && !hasKey(context.platform, certificate)) return true;
        return appendOrStop([&] { list.push_back(encodingOf(certificate)); });
    });
}

std::vector<ListedCertificate> listStoreEntries(CallContext& context, SystemStore store) {
    DWORD walkError = ERROR_SUCCESS;
    std::vector<ListedCertificate> list = collect<ListedCertificate>(
        context, {store.name, store.location}, walkError,
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

namespace {

// The ten natives add through the name of the store; the provider, to the store it opened.
StoreChange addToStore(CallContext& context, const StoreReference& reference, HCERTSTORE store,
                       const BYTE* encoding, DWORD length) {
    const CryptoPlatform& platform = context.platform;
    const bool byName = !reference.location;
    const bool added =
        byName ? platform.CertAddEncodedCertificateToSystemStoreA(reference.name, encoding, length)
               : platform.CertAddEncodedCertificateToStore(
                     store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, encoding, length,
                     CERT_STORE_ADD_USE_EXISTING, nullptr);
    if (added) {
        writeLog(byName ? kAdded : kAddedToStore, context.log);
        return {};
    }
    StoreChange change = {platform.GetLastError(), byName ? kAdd : kAddToStore};
    writeLogFormatted(byName ? kAddError : kAddToStoreError, context.log,
                      static_cast<unsigned>(change.error));
    return change;
}

StoreChange addTo(CallContext& context, const StoreReference& reference, const BYTE* encoding,
                  DWORD length) {
    writeLogFormatted(kAddBanner, context.log, reference.logged().c_str());
    ScopedStore store = openSystemStore(context, reference);
    if (!store.valid()) return {context.outcome.windowsError(), context.outcome.step()};
    StoreChange change = addToStore(context, reference, store.get(), encoding, length);
    closeSystemStore(context, store);
    return change;
}

StoreChange deleteFrom(CallContext& context, const StoreReference& reference, const BYTE* encoding,
                       DWORD length) {
    writeLogFormatted(kDeleteBanner, context.log, reference.logged().c_str());
    ScopedStore store = openSystemStore(context, reference);
    if (!store.valid()) return {context.outcome.windowsError(), context.outcome.step()};
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

}  // namespace

StoreChange addCertificate(CallContext& context, const char* storeName, const BYTE* encoding,
                           DWORD length) {
    return addTo(context, {storeName, std::nullopt}, encoding, length);
}

StoreChange addCertificateAt(CallContext& context, SystemStore store, const BYTE* encoding,
                             DWORD length) {
    return addTo(context, {store.name, store.location}, encoding, length);
}

ScopedStore openStoreAt(CallContext& context, SystemStore store) {
    return openSystemStore(context, {store.name, store.location});
}

void closeStoreAfterChange(CallContext& context, ScopedStore& store) {
    closeSystemStore(context, store);
}

StoreChange deleteCertificate(CallContext& context, const char* storeName, const BYTE* encoding,
                              DWORD length) {
    return deleteFrom(context, {storeName, std::nullopt}, encoding, length);
}

StoreChange deleteCertificateAt(CallContext& context, SystemStore store, const BYTE* encoding,
                                DWORD length) {
    return deleteFrom(context, {store.name, store.location}, encoding, length);
}

}  // namespace keyops
