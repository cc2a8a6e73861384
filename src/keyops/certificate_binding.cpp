#include "keyops/certificate_binding.h"

#include <algorithm>
#include <new>

#include "diagnostics/log.h"
#include "keyops/certificate_walk.h"
#include "keyops/cng_operations.h"
#include "keyops/handles.h"
#include "keyops/public_key_match.h"

namespace keyops {

using diagnostics::kStatusCertificateNotAdded;
using diagnostics::kStatusCertificateNotBound;
using diagnostics::kStatusCertificateNotDeleted;
using diagnostics::kStatusKeyProvInfoUnreadable;
using diagnostics::kStatusNoKeyContainer;
using diagnostics::kStatusStoreNotOpened;
using diagnostics::kStatusSuccess;
using diagnostics::writeLog;
using diagnostics::writeLogFormatted;

namespace {

const char kBanner[] = "########## Bind certificate to container: %s ##########";
const char kEnumerateError[] = "CertEnumCertificatesInStore error: %x";
const char kPropertyError[] = "CertGetCertificateContextProperty error: %x";
const char kAdded[] = "CertAddEncodedCertificateToStore success";
const char kAddError[] = "CertAddEncodedCertificateToStore error: %x";
const char kContextAcquired[] = "CryptAcquireContext success";
const char kContextError[] = "CryptAcquireContext error: %x";
const char kUserKey[] = "CryptGetUserKey success";
const char kUserKeyError[] = "CryptGetUserKey error: %x";
const char kBound[] = "CertSetCertificateContextProperty success";
const char kBindError[] = "CertSetCertificateContextProperty error: %x";
const char kIssuerHeld[] = "Issuer held already";
const char kUndoing[] = "Undoing the binding";
const char kDeleted[] = "CertDeleteCertificateFromStore success";
const char kDeleteError[] = "CertDeleteCertificateFromStore error: %x";
const char kReplacedGone[] = "Replaced certificate not found";
const char kReplacedKept[] = "Certificate bound; the certificate it replaces is kept: %x";

const char kEnumerate[] = "CertEnumCertificatesInStore";
const char kReadProperty[] = "CertGetCertificateContextProperty";
const char kAddToStore[] = "CertAddEncodedCertificateToStore";
const char kAcquireContext[] = "CryptAcquireContextA";
const char kGetUserKey[] = "CryptGetUserKey";
const char kSetProperty[] = "CertSetCertificateContextProperty";
const char kDelete[] = "CertDeleteCertificateFromStore";

const char kPersonal[] = "My";
const char kIntermediates[] = "CA";
const char kRoots[] = "Root";

const DWORD kEncodings = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

DWORD lengthOf(const std::vector<BYTE>& encoding) {
    return static_cast<DWORD>(encoding.size());
}

// Finds the encoding in the store; false, with status 7, when the store could not be read through.
bool lookUp(CallContext& context, HCERTSTORE store, const std::vector<BYTE>& encoding,
            ScopedCertContext& found) {
    DWORD error = ERROR_SUCCESS;
    found = findByEncoding(store, encoding.data(), lengthOf(encoding), error);
    return finishStep(context, {kEnumerate, nullptr, kEnumerateError, kStatusStoreNotOpened},
                      error == ERROR_SUCCESS, error);
}

// Whether the container's key is the certificate's, opened as the container names it.
bool containerHoldsKeyOf(CallContext& context, const ContainerKey& key,
                         const CERT_PUBLIC_KEY_INFO& publicKey) {
    const KeyBinding binding = bindingOf(key);
    if (key.inKeyStorageProvider()) {
        ScopedNcryptObject storage;
        ScopedNcryptObject handle;
        CngGroup group = CngGroup::Rsa;
        return openStorageKey(context, binding, kStatusNoKeyContainer, storage, handle) &&
               cngKeyMatches(context, handle.get(), publicKey, kStatusCertificateNotBound, group);
    }
    const CryptoPlatform& platform = context.platform;
    ScopedProvider provider;
    ScopedKey userKey;
    return runStep(context, {kAcquireContext, kContextAcquired, kContextError, kStatusNoKeyContainer},
                   [&] {
                       return platform.CryptAcquireContextA(
                                  provider.put(), binding.containerName.c_str(),
                                  binding.providerName.c_str(), binding.providerType,
                                  binding.keysetFlags | CRYPT_SILENT) != FALSE;
                   }) &&
           runStep(context, {kGetUserKey, kUserKey, kUserKeyError, kStatusNoKeyContainer}, [&] {
               return platform.CryptGetUserKey(provider.get(), key.keySpec, userKey.put()) != FALSE;
           }) &&
           cspKeyMatches(context, provider.get(), userKey.get(), publicKey,
                         kStatusCertificateNotBound);
}

// Sets (or with null removes) the certificate's key-provider property.
bool setKeyProvInfo(CallContext& context, PCCERT_CONTEXT certificate, const void* info) {
    return runStep(context, {kSetProperty, kBound, kBindError, kStatusCertificateNotBound}, [&] {
        return context.platform.CertSetCertificateContextProperty(
                   certificate, CERT_KEY_PROV_INFO_PROP_ID, 0, info) != FALSE;
    });
}

bool deleteFound(CallContext& context, ScopedCertContext& found, uint32_t status) {
    // Deletion frees the context, whatever its outcome.
    return runStep(context, {kDelete, kDeleted, kDeleteError, status}, [&] {
        return context.platform.CertDeleteCertificateFromStore(found.detach()) != FALSE;
    });
}

// The issuers "CA" received, pointing into the chain: listing one allocates nothing, so that
// every addition is known to the undoing.
using AddedIssuers = std::vector<const std::vector<BYTE>*>;

// The issuers of the chain that neither "CA" nor "Root" holds go to "CA"; `added` lists them,
// each once, as they are added.
bool addIssuers(CallContext& context, StoreLocation location, const std::vector<BYTE>& certificate,
                const CertificateList& issuers, AddedIssuers& added) {
    ScopedStore intermediates = openStoreAt(context, {location, kIntermediates});
    ScopedStore roots = intermediates.valid() ? openStoreAt(context, {location, kRoots})
                                              : ScopedStore();
    bool complete = roots.valid();
    for (auto issuer = issuers.begin(); complete && issuer != issuers.end(); ++issuer) {
        // The end certificate, or an issuer the chain names twice, is not added again.
        if (*issuer == certificate || std::find(issuers.begin(), issuer, *issuer) != issuer)
            continue;
        ScopedCertContext held;
        complete = lookUp(context, intermediates.get(), *issuer, held) &&
                   (held.valid() || lookUp(context, roots.get(), *issuer, held));
        if (!complete) break;
        if (held.valid()) {
            writeLog(kIssuerHeld, context.log);
            continue;
        }
        complete = runStep(context, {kAddToStore, kAdded, kAddError, kStatusCertificateNotAdded}, [&] {
            return context.platform.CertAddEncodedCertificateToStore(
                       intermediates.get(), kEncodings, issuer->data(), lengthOf(*issuer),
                       CERT_STORE_ADD_USE_EXISTING, nullptr) != FALSE;
        });
        if (complete) added.push_back(&*issuer);
    }
    if (roots.valid()) closeStoreAfterChange(context, roots);
    if (intermediates.valid()) closeStoreAfterChange(context, intermediates);
    return complete;
}

void deleteIssuers(CallContext& context, StoreLocation location, const AddedIssuers& added) {
    if (added.empty()) return;
    ScopedStore intermediates = openStoreAt(context, {location, kIntermediates});
    if (!intermediates.valid()) return;
    for (const std::vector<BYTE>* issuer : added) {
        ScopedCertContext found;
        if (lookUp(context, intermediates.get(), *issuer, found) && found.valid())
            deleteFound(context, found, kStatusCertificateNotDeleted);
    }
    closeStoreAfterChange(context, intermediates);
}

// What "My" held of the certificate before: whether it was there, and the record of its binding
// (empty for none), to be left as they were should the call fail.
struct Earlier {
    bool present = false;
    std::vector<BYTE> binding;
};

bool readEarlier(CallContext& context, HCERTSTORE store, const std::vector<BYTE>& certificate,
                 Earlier& earlier) {
    ScopedCertContext found;
    if (!lookUp(context, store, certificate, found)) return false;
    earlier.present = found.valid();
    if (!earlier.present) return true;
    DWORD error = readKeyProvInfo(context.platform, found.get(), earlier.binding);
    if (error == static_cast<DWORD>(CRYPT_E_NOT_FOUND)) {
        earlier.binding.clear();
        return true;
    }
    return finishStep(context, {kReadProperty, nullptr, kPropertyError, kStatusKeyProvInfoUnreadable},
                      error == ERROR_SUCCESS, error);
}

// The binding itself, and what it added taken back when any of it fails.
bool bindInStore(CallContext& context, const ContainerKey& key, HCERTSTORE store,
                 const std::vector<BYTE>& certificate, const CertificateList& issuers) {
    Earlier earlier;
    if (!readEarlier(context, store, certificate, earlier)) return false;
    const KeyProvInfo binding(key);
    AddedIssuers added;
    added.reserve(issuers.size());
    ScopedCertContext stored;
    if (!runStep(context, {kAddToStore, kAdded, kAddError, kStatusCertificateNotAdded}, [&] {
            return context.platform.CertAddEncodedCertificateToStore(
                       store, kEncodings, certificate.data(), lengthOf(certificate),
                       CERT_STORE_ADD_REPLACE_EXISTING, stored.put()) != FALSE;
        }))
        return false;
    bool bound = false;
    try {
        bound = containerHoldsKeyOf(context, key, stored.get()->pCertInfo->SubjectPublicKeyInfo) &&
                setKeyProvInfo(context, stored.get(), binding.get()) &&
                addIssuers(context, key.location, certificate, issuers, added);
    } catch (const std::bad_alloc&) {
        context.outcome.record(kStatusCertificateNotBound, kSetProperty, ERROR_NOT_ENOUGH_MEMORY);
    }
    if (bound) return true;
    undoAfterFailure(context, [&] {
        writeLog(kUndoing, context.log);
        deleteIssuers(context, key.location, added);
        if (earlier.present)
            setKeyProvInfo(context, stored.get(),
                           earlier.binding.empty() ? nullptr : earlier.binding.data());
        else
            deleteFound(context, stored, kStatusCertificateNotDeleted);
    });
    return false;
}

// The certificate the new one replaces, deleted once the new one is bound; one gone already is
// what was wanted.
bool deleteReplaced(CallContext& context, HCERTSTORE store, const std::vector<BYTE>& replacing) {
    DWORD error = ERROR_SUCCESS;
    ScopedCertContext found = findByEncoding(store, replacing.data(), lengthOf(replacing), error);
    const char* step = kEnumerate;
    if (found.valid()) {
        step = kDelete;
        if (!context.platform.CertDeleteCertificateFromStore(found.detach()))
            error = context.platform.GetLastError();
    } else if (error == ERROR_SUCCESS) {
        writeLog(kReplacedGone, context.log);
        return true;
    }
    return finishStep(context, {step, kDeleted, kReplacedKept, kStatusCertificateNotDeleted},
                      error == ERROR_SUCCESS, error);
}

}  // namespace

bool bindCertificate(CallContext& context, const ContainerKey& key,
                     const std::vector<BYTE>& certificate, const CertificateList& issuers,
                     const std::vector<BYTE>& replacing) {
    writeLogFormatted(kBanner, context.log, key.container.c_str());
    ScopedStore personal = openStoreAt(context, {key.location, kPersonal});
    if (!personal.valid()) return false;
    bool bound = bindInStore(context, key, personal.get(), certificate, issuers);
    if (bound && !replacing.empty() && replacing != certificate)
        bound = deleteReplaced(context, personal.get(), replacing);
    closeStoreAfterChange(context, personal);
    if (bound) context.outcome.record(kStatusSuccess);
    return bound;
}

}  // namespace keyops
