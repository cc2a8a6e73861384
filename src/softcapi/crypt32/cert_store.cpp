// Certificate stores: open, enumerate, duplicate, free, close, add and delete.
#include <openssl/x509.h>

#include <strings.h>

#include <memory>
#include <mutex>
#include <unordered_set>

#include "softcapi/crypto/openssl_util.h"
#include "softcapi/keystore/keystore_cache.h"
#include "softcapi/keystore/keystore_file.h"
#include "softcapi/keystore/machine_roots.h"
#include "softcapi/shim/entry_guard.h"
#include "softcapi/shim/last_error.h"
#include "softcapi/shim/text_encoding.h"

using namespace softcapi;

namespace {

const DWORD kLocationMask = 0x00FF0000;


// Live store handles, so that a stale or foreign handle is an error and not a crash.
std::mutex gStoresMutex;
std::unordered_set<const void*> gStores;

// The current user's "Root" shows the machine's roots too, beneath the user's own, read-only.
SnapshotReference withMachineRoots(const std::string& name, SnapshotReference own, bool readOnly) {
    if (strcasecmp(name.c_str(), "Root") != 0) return own;
    std::shared_ptr<const MachineRoots> roots = machineRoots();
    if (roots->entries.empty()) return own;
    return holdReference(layeredSnapshot(*own, roots->entries, roots, readOnly).release());
}

HCERTSTORE openStore(const std::string& name, bool readOnly) {
    DWORD error = ERROR_SUCCESS;
    StoreSnapshot* snapshot = openStoreSnapshot(name, readOnly, error);
    if (snapshot == nullptr) return failWithNull<void>(error);
    // An open store: a reference to the snapshot taken when it was opened.
    SnapshotReference reference = withMachineRoots(name, holdReference(snapshot), readOnly);
    snapshot = reference.get();
    auto store = std::make_unique<StoreHandle>(StoreHandle{kStoreMagic, snapshot});
    {
        std::lock_guard<std::mutex> lock(gStoresMutex);
        gStores.insert(store.get());
    }
    reference.release();
    return store.release();
}

StoreHandle* takeStore(HCERTSTORE handle) {
    std::lock_guard<std::mutex> lock(gStoresMutex);
    if (gStores.erase(handle) == 0) return nullptr;
    return static_cast<StoreHandle*>(handle);
}

// Enumeration runs once per certificate, so it checks the handle's mark, as CRYPT32 does, rather
// than take the lock of the handle set.
StoreSnapshot* snapshotOf(HCERTSTORE handle) {
    const auto* store = static_cast<const StoreHandle*>(handle);
    return store != nullptr && store->magic == kStoreMagic ? store->snapshot : nullptr;
}

DWORD certificateParseError(const BYTE* encoded, DWORD length) {
    if (length < 2) return CRYPT_E_ASN1_EOD;
    if (encoded[0] != 0x30) return CRYPT_E_ASN1_BADTAG;
    return CRYPT_E_ASN1_CORRUPT;
}

}  // namespace

HCERTSTORE WINAPI CertOpenStore(LPCSTR lpszStoreProvider, DWORD dwEncodingType,
                                HCRYPTPROV_LEGACY hCryptProv, DWORD dwFlags, const void* pvPara) {
    return guardEntryPoint([&]() -> HCERTSTORE {
        if (lpszStoreProvider != CERT_STORE_PROV_SYSTEM_W &&
            lpszStoreProvider != CERT_STORE_PROV_SYSTEM_A)
            return failWithNull<void>(ERROR_FILE_NOT_FOUND);
        // Only the current user's stores exist here.
        if ((dwFlags & kLocationMask) != CERT_SYSTEM_STORE_CURRENT_USER)
            return failWithNull<void>(E_INVALIDARG);
        std::string name;
        bool valid = lpszStoreProvider == CERT_STORE_PROV_SYSTEM_W
                         ? storeNameFromWide(static_cast<const WCHAR*>(pvPara), name)
                         : storeNameFromAnsi(static_cast<const char*>(pvPara), name);
        if (!valid) return failWithNull<void>(E_INVALIDARG);
        return openStore(name, (dwFlags & CERT_STORE_READONLY_FLAG) != 0);
    });
}

HCERTSTORE WINAPI CertOpenSystemStoreA(HCRYPTPROV_LEGACY hProv, LPCSTR szSubsystemProtocol) {
    return guardEntryPoint([&]() -> HCERTSTORE {
        std::string name;
        if (!storeNameFromAnsi(szSubsystemProtocol, name)) return failWithNull<void>(E_INVALIDARG);
        return openStore(name, false);
    });
}

PCCERT_CONTEXT WINAPI CertEnumCertificatesInStore(HCERTSTORE hCertStore,
                                                  PCCERT_CONTEXT pPrevCertContext) {
    return guardEntryPoint([&]() -> PCCERT_CONTEXT {
        StoreSnapshot* snapshot = snapshotOf(hCertStore);
        size_t next = 0;
        if (pPrevCertContext != nullptr) {
            // The store's own contexts are found by their address alone: enumeration runs once per
            // certificate and should touch no more than the context it moves past.
            size_t index = 0;
            if (snapshot == nullptr || !indexIn(*snapshot, pPrevCertContext, index)) {
                // The previous context is given back whatever happens, as Windows does.
                ContextPlace other;
                if (placeOf(pPrevCertContext, other)) releaseSnapshot(other.snapshot);
                return failWithNull<const CERT_CONTEXT>(E_INVALIDARG);
            }
            next = index + 1;
        } else if (snapshot == nullptr) {
            return failWithNull<const CERT_CONTEXT>(E_INVALIDARG);
        }
        if (snapshot->removedCount != 0) next = presentFrom(*snapshot, next);
        if (next >= snapshot->contexts.size()) {
            if (pPrevCertContext != nullptr) releaseSnapshot(snapshot);
            return failWithNull<const CERT_CONTEXT>(CRYPT_E_NOT_FOUND);
        }
        // Moving from one context to the next hands the reference over; only the first takes one.
        if (pPrevCertContext == nullptr) retainSnapshot(snapshot);
        return &snapshot->contexts[next];
    });
}

PCCERT_CONTEXT WINAPI CertDuplicateCertificateContext(PCCERT_CONTEXT pCertContext) {
    return guardEntryPoint([&]() -> PCCERT_CONTEXT {
        ContextPlace place;
        if (!placeOf(pCertContext, place)) return nullptr;
        retainSnapshot(place.snapshot);
        return pCertContext;
    });
}

BOOL WINAPI CertFreeCertificateContext(PCCERT_CONTEXT pCertContext) {
    return guardEntryPoint([&]() -> BOOL {
        if (pCertContext == nullptr) return TRUE;
        ContextPlace place;
        if (!placeOf(pCertContext, place)) return failWith(E_INVALIDARG);
        releaseSnapshot(place.snapshot);
        return TRUE;
    });
}

BOOL WINAPI CertCloseStore(HCERTSTORE hCertStore, DWORD dwFlags) {
    return guardEntryPoint([&]() -> BOOL {
        if (hCertStore == nullptr) return TRUE;
        StoreHandle* store = takeStore(hCertStore);
        if (store == nullptr) return failWith(ERROR_INVALID_HANDLE);
        store->magic = 0;
        releaseSnapshot(store->snapshot);
        delete store;
        return TRUE;
    });
}

BOOL WINAPI CertAddEncodedCertificateToSystemStoreA(LPCSTR szCertStoreName,
                                                    const BYTE* pbCertEncoded,
                                                    DWORD cbCertEncoded) {
    return guardEntryPoint([&]() -> BOOL {
        std::string name;
        if (!storeNameFromAnsi(szCertStoreName, name)) return failWith(E_INVALIDARG);
        if (pbCertEncoded == nullptr && cbCertEncoded != 0) return failWith(E_INVALIDARG);
        OpenSslErrorScope scope;
        const unsigned char* in = pbCertEncoded;
        X509Ptr certificate(d2i_X509(nullptr, &in, static_cast<long>(cbCertEncoded)));
        if (!certificate || in != pbCertEncoded + cbCertEncoded)
            return failWith(certificateParseError(pbCertEncoded, cbCertEncoded));
        std::vector<BYTE> encoded(pbCertEncoded, pbCertEncoded + cbCertEncoded);
        try {
            KeystoreWriter writer;
            putCertificate(writer.connection(), name, encoded,
                           sha1Of(encoded.data(), encoded.size()), nullptr);
            writer.commit();
        } catch (const DatabaseError& failure) {
            return failWith(failure.code);
        }
        return TRUE;
    });
}

BOOL WINAPI CertDeleteCertificateFromStore(PCCERT_CONTEXT pCertContext) {
    return guardEntryPoint([&]() -> BOOL {
        ContextPlace place;
        if (!placeOf(pCertContext, place)) return failWith(E_INVALIDARG);
        StoreSnapshot* snapshot = place.snapshot;
        // The context is freed whether or not the deletion succeeded, however it fails.
        SnapshotReference context = holdReference(snapshot);
        DWORD error = ERROR_SUCCESS;
        // A machine's root (no row of the user's store) is not the user's to delete.
        if (snapshot->readOnly || snapshot->ids[place.index] == 0) {
            error = E_ACCESSDENIED;
        } else {
            try {
                KeystoreWriter writer;
                deleteCertificateRow(writer.connection(), snapshot->ids[place.index]);
                writer.commit();
            } catch (const DatabaseError& failure) {
                error = failure.code;
            }
        }
        return error == ERROR_SUCCESS ? TRUE : failWith(error);
    });
}
