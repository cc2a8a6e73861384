#include "keyops/key_entries.h"

#include "diagnostics/log.h"
#include "keyops/certificate_binding.h"
#include "keyops/certificate_walk.h"
#include "keyops/handles.h"
#include "keyops/key_creation.h"

namespace keyops {

using common::SecureBytes;
using diagnostics::kStatusCertificateNotBound;
using diagnostics::kStatusCertificateNotDeleted;
using diagnostics::kStatusKeyProvInfoUnreadable;
using diagnostics::kStatusSuccess;
using diagnostics::writeLog;
using diagnostics::writeLogFormatted;

namespace {

const char kDeleteBanner[] = "########## Delete key entry ##########";
const char kCertificateNotFound[] = "Certificate not found";
const char kEnumerateError[] = "CertEnumCertificatesInStore error: %x";
const char kPropertyError[] = "CertGetCertificateContextProperty error: %x";
const char kDeleted[] = "CertDeleteCertificateFromStore success";
const char kDeleteError[] = "CertDeleteCertificateFromStore error: %x";
const char kContainerShared[] = "Container kept: another certificate is bound to it";
const char kRestoring[] = "Putting the certificate back";
const char kAdded[] = "CertAddEncodedCertificateToStore success";
const char kAddError[] = "CertAddEncodedCertificateToStore error: %x";
const char kBound[] = "CertSetCertificateContextProperty success";
const char kBindError[] = "CertSetCertificateContextProperty error: %x";

const char kEnumerate[] = "CertEnumCertificatesInStore";
const char kReadProperty[] = "CertGetCertificateContextProperty";
const char kDelete[] = "CertDeleteCertificateFromStore";
const char kAddToStore[] = "CertAddEncodedCertificateToStore";
const char kSetProperty[] = "CertSetCertificateContextProperty";

const char kPersonal[] = "My";

template <typename Import>
bool install(CallContext& context, const std::vector<BYTE>& certificate,
             const CertificateList& issuers, ContainerKey& made, Import import) {
    ContainerKey imported;
    if (!import(imported)) return false;
    if (bindCertificate(context, imported, certificate, issuers, {})) {
        made = imported;
        return true;
    }
    undoAfterFailure(context, [&] { deleteContainer(context, imported); });
    return false;
}

// The binding a certificate has: its record (empty for none) and the container it names. False,
// with status 10, for one that cannot be read or names no container this core can spell.
bool readBinding(CallContext& context, PCCERT_CONTEXT certificate, std::vector<BYTE>& record,
                 ContainerKey& key) {
    DWORD error = readKeyProvInfo(context.platform, certificate, record);
    if (error == static_cast<DWORD>(CRYPT_E_NOT_FOUND)) {
        record.clear();
        return true;
    }
    if (error == ERROR_SUCCESS && !containerOf(record, key))
        error = static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION);
    return finishStep(context, {kReadProperty, nullptr, kPropertyError, kStatusKeyProvInfoUnreadable},
                      error == ERROR_SUCCESS, error);
}

// Whether another certificate of the store is bound to the container; one whose binding cannot be
// read might be, and keeps it. False, with status 25, when the store cannot be read through.
bool boundElsewhere(CallContext& context, HCERTSTORE store, const std::vector<BYTE>& certificate,
                    const ContainerKey& key, bool& shared) {
    const CryptoPlatform& platform = context.platform;
    shared = false;
    ScopedCertContext stopped = walkCertificates(store, [&](PCCERT_CONTEXT candidate) {
        if (hasEncoding(candidate, certificate.data(), static_cast<DWORD>(certificate.size())))
            return false;
        std::vector<BYTE> record;
        DWORD error = readKeyProvInfo(platform, candidate, record);
        if (error == static_cast<DWORD>(CRYPT_E_NOT_FOUND)) return false;
        ContainerKey other;
        shared = error != ERROR_SUCCESS || !containerOf(record, other) || sameContainer(other, key);
        return shared;
    });
    const bool read = stopped.valid() || walkEndedAtTheLast(platform);
    return finishStep(context, {kEnumerate, nullptr, kEnumerateError, kStatusCertificateNotDeleted},
                      read, read ? ERROR_SUCCESS : platform.GetLastError());
}

// The certificate back in the store with the binding it had, after its container outlived it.
void putBack(CallContext& context, HCERTSTORE store, const std::vector<BYTE>& certificate,
             const std::vector<BYTE>& record) {
    writeLog(kRestoring, context.log);
    const CryptoPlatform& platform = context.platform;
    ScopedCertContext restored;
    if (runStep(context, {kAddToStore, kAdded, kAddError, kStatusCertificateNotDeleted}, [&] {
            return platform.CertAddEncodedCertificateToStore(
                       store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, certificate.data(),
                       static_cast<DWORD>(certificate.size()), CERT_STORE_ADD_USE_EXISTING,
                       restored.put()) != FALSE;
        }))
        runStep(context, {kSetProperty, kBound, kBindError, kStatusCertificateNotBound}, [&] {
            return platform.CertSetCertificateContextProperty(
                       restored.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, record.data()) != FALSE;
        });
}

bool deleteEntryIn(CallContext& context, HCERTSTORE store, const std::vector<BYTE>& certificate) {
    const CryptoPlatform& platform = context.platform;
    DWORD error = ERROR_SUCCESS;
    ScopedCertContext found =
        findByEncoding(store, certificate.data(), static_cast<DWORD>(certificate.size()), error);
    if (!found.valid()) {
        const bool absent = error == ERROR_SUCCESS;
        return finishStep(context,
                          {absent ? kDelete : kEnumerate, nullptr,
                           absent ? kCertificateNotFound : kEnumerateError,
                           kStatusCertificateNotDeleted},
                          false, absent ? static_cast<DWORD>(CRYPT_E_NOT_FOUND) : error);
    }
    std::vector<BYTE> record;
    ContainerKey key;
    bool shared = false;
    if (!readBinding(context, found.get(), record, key) ||
        (!record.empty() && !boundElsewhere(context, store, certificate, key, shared)))
        return false;
    if (!runStep(context, {kDelete, kDeleted, kDeleteError, kStatusCertificateNotDeleted}, [&] {
            // Deletion frees the context, whatever its outcome.
            return platform.CertDeleteCertificateFromStore(found.detach()) != FALSE;
        }))
        return false;
    if (record.empty()) return true;
    if (shared) {
        writeLog(kContainerShared, context.log);
        return true;
    }
    if (deleteContainer(context, key)) return true;
    undoAfterFailure(context, [&] { putBack(context, store, certificate, record); });
    return false;
}

}  // namespace

bool installKeyEntry(CallContext& context, StoreLocation location, const std::string& container,
                     KeyHome home, const RsaPrivateKey& key, const SecureBytes& pin,
                     const std::vector<BYTE>& certificate, const CertificateList& issuers,
                     ContainerKey& made) {
    return install(context, certificate, issuers, made, [&](ContainerKey& imported) {
        return importKey(context, location, container, home, key, pin, imported);
    });
}

bool installKeyEntry(CallContext& context, StoreLocation location, const std::string& container,
                     const EcPrivateKey& key, const SecureBytes& pin,
                     const std::vector<BYTE>& certificate, const CertificateList& issuers,
                     ContainerKey& made) {
    return install(context, certificate, issuers, made, [&](ContainerKey& imported) {
        return importKey(context, location, container, key, pin, imported);
    });
}

bool deleteKeyEntry(CallContext& context, StoreLocation location,
                    const std::vector<BYTE>& certificate) {
    writeLog(kDeleteBanner, context.log);
    ScopedStore personal = openStoreAt(context, {location, kPersonal});
    if (!personal.valid()) return false;
    const bool deleted = deleteEntryIn(context, personal.get(), certificate);
    closeStoreAfterChange(context, personal);
    if (deleted) context.outcome.record(kStatusSuccess);
    return deleted;
}

}  // namespace keyops
