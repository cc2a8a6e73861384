// Certificate stores: open, enumerate, duplicate, free, close, add and delete.
#include <openssl/x509.h>

#include <strings.h>

#include <memory>
#include <mutex>
#include <optional>
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

bool locationOfFlags(DWORD flags, Location& location) {
    switch (flags & kLocationMask) {
        case CERT_SYSTEM_STORE_CURRENT_USER:
            location = Location::CurrentUser;
            return true;
        case CERT_SYSTEM_STORE_LOCAL_MACHINE:
            location = Location::LocalMachine;
            return true;
        default:
            return false;
    }
}

// The current user's stores that show the machine's store of the same name beneath their own, as
// Windows shows LocalMachine's physical store in them.
bool showsMachineStore(const std::string& name) {
    for (const char* layered : {"Root", "CA", "Trust", "Disallowed"})
        if (strcasecmp(name.c_str(), layered) == 0) return true;
    return false;
}

// What the entries of the machine's layers beneath a store point into.
struct MachineLayers {
    SnapshotReference machineStore{nullptr, releaseSnapshot};
    std::shared_ptr<const MachineRoots> bundle;
};

// The machine's certificates beneath a store's own, read-only: beneath the user's Root, CA, Trust
// and Disallowed the machine file's store of the same name, and beneath either location's Root
// the bundle last. A machine file that cannot be read is an empty layer of the user's view.
SnapshotReference withMachineLayers(Location location, const std::string& name,
                                    SnapshotReference own, bool readOnly) {
    const bool root = strcasecmp(name.c_str(), "Root") == 0;
    const bool machineBeneath = location == Location::CurrentUser && showsMachineStore(name);
    if (!root && !machineBeneath) return own;
    auto layers = std::make_shared<MachineLayers>();
    std::vector<SharedEntry> layer;
    if (machineBeneath) {
        DWORD ignored = ERROR_SUCCESS;
        layers->machineStore.reset(openStoreSnapshot(Location::LocalMachine, name, true, ignored));
        if (layers->machineStore) {
            for (const SharedEntry& entry : layers->machineStore->entries)
                if (entry) layer.push_back(entry);
        }
    }
    if (root) {
        layers->bundle = machineRoots();
        layer.insert(layer.end(), layers->bundle->entries.begin(), layers->bundle->entries.end());
    }
    if (layer.empty()) return own;
    return holdReference(layeredSnapshot(*own, layer, std::move(layers), readOnly).release());
}

HCERTSTORE openStore(Location location, const std::string& name, bool readOnly) {
    DWORD error = ERROR_SUCCESS;
    StoreSnapshot* snapshot = openStoreSnapshot(location, name, readOnly, error);
    if (snapshot == nullptr) return failWithNull<void>(error);
    // An open store: a reference to the snapshot taken when it was opened.
    SnapshotReference reference =
        withMachineLayers(location, name, holdReference(snapshot), readOnly);
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

// The bytes of one whole DER certificate; the error CRYPT32 gives when they are not.
DWORD readCertificate(const BYTE* encoded, DWORD length, std::vector<BYTE>& certificate) {
    if (encoded == nullptr && length != 0) return E_INVALIDARG;
    OpenSslErrorScope scope;
    const unsigned char* in = encoded;
    X509Ptr parsed(d2i_X509(nullptr, &in, static_cast<long>(length)));
    if (!parsed || in != encoded + length) return certificateParseError(encoded, length);
    certificate.assign(encoded, encoded + length);
    return ERROR_SUCCESS;
}

// What an addition through a store handle does with the certificate the store may hold.
DWORD addToStore(const StoreSnapshot& store, const std::vector<BYTE>& encoded,
                 const std::vector<BYTE>& thumbprint, DWORD disposition) {
    try {
        KeystoreWriter writer(store.location);
        Connection& db = writer.connection();
        std::optional<CertificateRecord> held = findCertificate(db, store.name, thumbprint);
        if (held && disposition == CERT_STORE_ADD_NEW) return CRYPT_E_EXISTS;
        // A replacement is a new context: the properties (the key binding) of the old one go.
        if (held && disposition == CERT_STORE_ADD_REPLACE_EXISTING) deleteCertificateRow(db, held->id);
        if (!held || disposition == CERT_STORE_ADD_REPLACE_EXISTING)
            putCertificate(db, store.name, encoded, thumbprint, nullptr);
        writer.commit();
    } catch (const DatabaseError& failure) {
        return failure.code;
    }
    return ERROR_SUCCESS;
}

// The stored certificate, as a context of the store read afresh, holding its own reference.
PCCERT_CONTEXT storedContext(const StoreSnapshot& store, const std::vector<BYTE>& thumbprint) {
    DWORD error = ERROR_SUCCESS;
    StoreSnapshot* fresh = openStoreSnapshot(store.location, store.name, store.readOnly, error);
    if (fresh == nullptr) return failWithNull<const CERT_CONTEXT>(error);
    for (size_t i = 0; i < fresh->contexts.size(); ++i) {
        const CertificateRecord* record = recordAt(*fresh, i);
        if (record != nullptr && record->thumbprint == thumbprint) return &fresh->contexts[i];
    }
    // Another process deleted it in between.
    releaseSnapshot(fresh);
    return failWithNull<const CERT_CONTEXT>(CRYPT_E_NOT_FOUND);
}

}  // namespace

HCERTSTORE WINAPI CertOpenStore(LPCSTR lpszStoreProvider, DWORD dwEncodingType,
                                HCRYPTPROV_LEGACY hCryptProv, DWORD dwFlags, const void* pvPara) {
    return guardEntryPoint([&]() -> HCERTSTORE {
        if (lpszStoreProvider != CERT_STORE_PROV_SYSTEM_W &&
            lpszStoreProvider != CERT_STORE_PROV_SYSTEM_A)
            return failWithNull<void>(ERROR_FILE_NOT_FOUND);
        Location location = Location::CurrentUser;
        if (!locationOfFlags(dwFlags, location)) return failWithNull<void>(E_INVALIDARG);
        std::string name;
        bool valid = lpszStoreProvider == CERT_STORE_PROV_SYSTEM_W
                         ? storeNameFromWide(static_cast<const WCHAR*>(pvPara), name)
                         : storeNameFromAnsi(static_cast<const char*>(pvPara), name);
        if (!valid) return failWithNull<void>(E_INVALIDARG);
        bool readOnly = (dwFlags & CERT_STORE_READONLY_FLAG) != 0;
        // As Windows refuses a user who is not an administrator LocalMachine\My for writing,
        // unless the caller takes what it may have.
        if (!readOnly && !mayChangeKeystore(location)) {
            if ((dwFlags & CERT_STORE_MAXIMUM_ALLOWED_FLAG) == 0)
                return failWithNull<void>(E_ACCESSDENIED);
            readOnly = true;
        }
        return openStore(location, name, readOnly);
    });
}

HCERTSTORE WINAPI CertOpenSystemStoreA(HCRYPTPROV_LEGACY hProv, LPCSTR szSubsystemProtocol) {
    return guardEntryPoint([&]() -> HCERTSTORE {
        std::string name;
        if (!storeNameFromAnsi(szSubsystemProtocol, name)) return failWithNull<void>(E_INVALIDARG);
        return openStore(Location::CurrentUser, name, false);
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
        std::vector<BYTE> encoded;
        DWORD error = readCertificate(pbCertEncoded, cbCertEncoded, encoded);
        if (error != ERROR_SUCCESS) return failWith(error);
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
        // A certificate of a layer beneath (no row of the store's file) is not the store's to
        // delete.
        if (snapshot->readOnly || snapshot->ids[place.index] == 0) {
            error = E_ACCESSDENIED;
        } else {
            try {
                KeystoreWriter writer(snapshot->location);
                deleteCertificateRow(writer.connection(), snapshot->ids[place.index]);
                writer.commit();
            } catch (const DatabaseError& failure) {
                error = failure.code;
            }
        }
        return error == ERROR_SUCCESS ? TRUE : failWith(error);
    });
}

BOOL WINAPI CertAddEncodedCertificateToStore(HCERTSTORE hCertStore, DWORD dwCertEncodingType,
                                             const BYTE* pbCertEncoded, DWORD cbCertEncoded,
                                             DWORD dwAddDisposition,
                                             PCCERT_CONTEXT* ppCertContext) {
    return guardEntryPoint([&]() -> BOOL {
        if (ppCertContext != nullptr) *ppCertContext = nullptr;
        const StoreSnapshot* store = snapshotOf(hCertStore);
        if (store == nullptr || (dwCertEncodingType & X509_ASN_ENCODING) == 0 ||
            dwAddDisposition < CERT_STORE_ADD_NEW ||
            dwAddDisposition > CERT_STORE_ADD_REPLACE_EXISTING)
            return failWith(E_INVALIDARG);
        std::vector<BYTE> encoded;
        DWORD error = readCertificate(pbCertEncoded, cbCertEncoded, encoded);
        if (error != ERROR_SUCCESS) return failWith(error);
        if (store->readOnly) return failWith(E_ACCESSDENIED);
        std::vector<BYTE> thumbprint = sha1Of(encoded.data(), encoded.size());
        error = addToStore(*store, encoded, thumbprint, dwAddDisposition);
        if (error != ERROR_SUCCESS) return failWith(error);
        if (ppCertContext == nullptr) return TRUE;
        *ppCertContext = storedContext(*store, thumbprint);
        return *ppCertContext != nullptr ? TRUE : FALSE;
    });
}
