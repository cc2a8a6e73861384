#include "keyops/key_creation.h"

#include <new>

#include "diagnostics/log.h"
#include "keyops/cng_operations.h"
#include "keyops/handles.h"
#include "keyops/subject_public_key_info.h"

namespace keyops {

using common::SecureBytes;
using diagnostics::kStatusContainerNotDeleted;
using diagnostics::kStatusKeyNotGenerated;
using diagnostics::kStatusKeyNotImported;
using diagnostics::kStatusNoKeyContainer;
using diagnostics::kStatusSuccess;
using diagnostics::writeLog;
using diagnostics::writeLogFormatted;

namespace {

const char kImportBanner[] = "########## Import key into container: %s ##########";
const char kGenerateBanner[] = "########## Generate key in container: %s ##########";
const char kDeleteBanner[] = "########## Delete container: %s ##########";
const char kBadRequest[] = "Key request refused: %x";
const char kKeysetMade[] = "CryptAcquireContext (new key set) success";
const char kKeysetMadeError[] = "CryptAcquireContext (new key set) error: %x";
const char kKeysetDeleted[] = "CryptAcquireContext (delete key set) success";
const char kKeysetDeleteError[] = "CryptAcquireContext (delete key set) error: %x";
const char kCspPinSet[] = "CryptSetProvParam (PIN) success";
const char kCspPinError[] = "CryptSetProvParam (PIN) error: %x";
const char kImported[] = "CryptImportKey success";
const char kImportError[] = "CryptImportKey error: %x";
const char kGenerated[] = "CryptGenKey success";
const char kGenerateError[] = "CryptGenKey error: %x";
const char kPublicKeyExported[] = "CryptExportPublicKeyInfo success";
const char kPublicKeyExportError[] = "CryptExportPublicKeyInfo error: %x";
const char kNcryptImported[] = "NCryptImportKey success";
const char kNcryptImportError[] = "NCryptImportKey error: %x";
const char kCreated[] = "NCryptCreatePersistedKey success";
const char kCreateError[] = "NCryptCreatePersistedKey error: %x";
const char kLengthSet[] = "NCryptSetProperty (Length) success";
const char kLengthError[] = "NCryptSetProperty (Length) error: %x";
const char kCngPinSet[] = "NCryptSetProperty (SmartCardPin) success";
const char kCngPinError[] = "NCryptSetProperty (SmartCardPin) error: %x";
const char kFinalized[] = "NCryptFinalizeKey success";
const char kFinalizeError[] = "NCryptFinalizeKey error: %x";
const char kKeyDeleted[] = "NCryptDeleteKey success";
const char kKeyDeleteError[] = "NCryptDeleteKey error: %x";
const char kKeyMade[] = "Key made in container: %s";
const char kPinNotKept[] = "Key kept without a PIN: its provider takes none";

const char kAcquireContext[] = "CryptAcquireContextA";
const char kImportKey[] = "CryptImportKey";
const char kGenKey[] = "CryptGenKey";
const char kExportPublicKeyInfo[] = "CryptExportPublicKeyInfo";
const char kNcryptImportKey[] = "NCryptImportKey";
const char kCreatePersistedKey[] = "NCryptCreatePersistedKey";
const char kSetProperty[] = "NCryptSetProperty";
const char kFinalizeKey[] = "NCryptFinalizeKey";
const char kDeleteKey[] = "NCryptDeleteKey";

// What is to be made, and how the call words its failure.
struct NewKey {
    ContainerKey target;
    uint32_t status;  // 28 for an import, 29 for a generation
    const char* pin;  // null for none
};

// A name CryptoAPI takes as one C string and CNG as one wide string.
bool isContainerName(const std::string& name) {
    return !name.empty() && name.find('\0') == std::string::npos;
}

// The PIN as a C string: null for none; false for one without its terminating zero.
bool pinText(const SecureBytes& pin, const char*& text) {
    text = pin.empty() ? nullptr : reinterpret_cast<const char*>(pin.data());
    return pin.empty() || pin[pin.size() - 1] == 0;
}

// The request's own faults, refused before anything is made: `step` is the call that would have
// refused it.
bool refuseUnless(CallContext& context, bool sound, const char* step, uint32_t status,
                  DWORD error) {
    return finishStep(context, {step, nullptr, kBadRequest, status}, sound, error);
}

// A new CSP container in which `fill` makes the key; the container deleted again when the PIN or
// the key is not taken.
template <typename Fill>
bool inNewCspContainer(CallContext& context, const NewKey& request, Fill fill) {
    const CryptoPlatform& platform = context.platform;
    const KeyBinding binding = bindingOf(request.target);
    ScopedProvider provider;
    if (!runStep(context, {kAcquireContext, kKeysetMade, kKeysetMadeError, kStatusNoKeyContainer},
                 [&] {
                     return platform.CryptAcquireContextA(
                                provider.put(), binding.containerName.c_str(),
                                binding.providerName.c_str(), binding.providerType,
                                CRYPT_NEWKEYSET | CRYPT_SILENT | binding.keysetFlags) != FALSE;
                 }))
        return false;
    // A PIN given to a container without a key yet becomes the PIN its keys require; one the
    // provider does not take (the Microsoft software CSPs keep none) leaves the key without it,
    // as a PIN given to getKey leaves a key that takes none as it is.
    if (request.pin != nullptr) {
        if (platform.CryptSetProvParam(provider.get(), PP_KEYEXCHANGE_PIN,
                                       reinterpret_cast<const BYTE*>(request.pin), 0)) {
            writeLog(kCspPinSet, context.log);
        } else {
            writeLogFormatted(kCspPinError, context.log,
                              static_cast<unsigned>(platform.GetLastError()));
            writeLog(kPinNotKept, context.log);
        }
    }
    const bool made = fill(provider.get());
    provider.reset();
    if (!made) undoAfterFailure(context, [&] { deleteContainer(context, request.target); });
    return made;
}

// A new key of the key storage provider: `make` puts an unfinalized key (imported or created) in
// `key`, which is given its PIN and persisted. Nothing is persisted before NCryptFinalizeKey.
template <typename Make>
bool persistNewStorageKey(CallContext& context, const NewKey& request, ScopedNcryptObject& storage,
                          ScopedNcryptObject& key, Make make) {
    const CryptoPlatform& platform = context.platform;
    if (!openStorageProvider(context, request.target.provider, kStatusNoKeyContainer, storage) ||
        !make(storage.get(), key))
        return false;
    if (request.pin != nullptr) {
        const SECURITY_STATUS pinSet = setCngPin(platform, key.get(), request.pin);
        if (pinSet == ERROR_SUCCESS) {
            writeLog(kCngPinSet, context.log);
        } else {
            writeLogFormatted(kCngPinError, context.log, static_cast<unsigned>(pinSet));
            writeLog(kPinNotKept, context.log);
        }
    }
    return finishCngStep(context, {kFinalizeKey, kFinalized, kFinalizeError, request.status},
                         platform.NCryptFinalizeKey(key.get(), NCRYPT_SILENT_FLAG));
}

// Deletes the persisted key the handle names. NCryptDeleteKey frees the handle when it deletes the
// key, and only then.
bool deleteStorageKey(CallContext& context, ScopedNcryptObject& key) {
    SECURITY_STATUS status = context.platform.NCryptDeleteKey(key.get(), NCRYPT_SILENT_FLAG);
    if (status == ERROR_SUCCESS) static_cast<void>(key.detach());
    return finishCngStep(context,
                         {kDeleteKey, kKeyDeleted, kKeyDeleteError, kStatusContainerNotDeleted},
                         status);
}

// The imported blob goes to a new container of the key storage provider under the target's name.
bool importStorageKey(CallContext& context, const NewKey& request, LPCWSTR blobType,
                      SecureBytes& blob) {
    const ContainerKey& target = request.target;
    std::basic_string<WCHAR> name = toWide(target.container);
    BCryptBuffer nameBuffer = {static_cast<ULONG>((name.size() + 1) * sizeof(WCHAR)),
                               NCRYPTBUFFER_PKCS_KEY_NAME, name.data()};
    NCryptBufferDesc parameters = {NCRYPTBUFFER_VERSION, 1, &nameBuffer};
    ScopedNcryptObject storage;
    ScopedNcryptObject key;
    return persistNewStorageKey(
        context, request, storage, key, [&](NCRYPT_PROV_HANDLE provider, ScopedNcryptObject& made) {
            NCRYPT_KEY_HANDLE imported = 0;
            SECURITY_STATUS status = context.platform.NCryptImportKey(
                provider, 0, blobType, &parameters, &imported, blob.data(),
                static_cast<DWORD>(blob.size()),
                NCRYPT_DO_NOT_FINALIZE_FLAG | NCRYPT_SILENT_FLAG |
                    ncryptKeysetFlags(bindingOf(target)));
            made.reset(imported);
            return finishCngStep(
                context, {kNcryptImportKey, kNcryptImported, kNcryptImportError, request.status},
                status);
        });
}

bool importCspKey(CallContext& context, const NewKey& request, const SecureBytes& blob) {
    return inNewCspContainer(context, request, [&](HCRYPTPROV provider) {
        ScopedKey key;
        return runStep(context, {kImportKey, kImported, kImportError, request.status}, [&] {
            return context.platform.CryptImportKey(provider, blob.data(),
                                                   static_cast<DWORD>(blob.size()), 0, 0,
                                                   key.put()) != FALSE;
        });
    });
}

// The key's SubjectPublicKeyInfo, through the two-call protocol, as DER.
bool exportPublicKeyInfo(CallContext& context, HCRYPTPROV_OR_NCRYPT_KEY_HANDLE key, DWORD keySpec,
                         std::vector<BYTE>& der) {
    const CryptoPlatform& platform = context.platform;
    DWORD size = 0;
    std::vector<BYTE> buffer;
    DWORD error = ERROR_SUCCESS;
    if (!platform.CryptExportPublicKeyInfo(key, keySpec, X509_ASN_ENCODING, nullptr, &size)) {
        error = platform.GetLastError();
    } else {
        try {
            buffer.resize(size);
        } catch (const std::bad_alloc&) {
            error = ERROR_NOT_ENOUGH_MEMORY;
        }
    }
    auto* info = reinterpret_cast<PCERT_PUBLIC_KEY_INFO>(buffer.data());
    if (error == ERROR_SUCCESS &&
        !platform.CryptExportPublicKeyInfo(key, keySpec, X509_ASN_ENCODING, info, &size))
        error = platform.GetLastError();
    if (error == ERROR_SUCCESS &&
        (size < sizeof(CERT_PUBLIC_KEY_INFO) || !encodePublicKeyInfo(*info, der)))
        error = static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT);
    return finishStep(context,
                      {kExportPublicKeyInfo, kPublicKeyExported, kPublicKeyExportError,
                       kStatusKeyNotGenerated},
                      error == ERROR_SUCCESS, error);
}

LPCWSTR storageAlgorithm(bool ec, DWORD bits) {
    if (!ec) return NCRYPT_RSA_ALGORITHM;
    switch (bits) {
        case 256: return NCRYPT_ECDSA_P256_ALGORITHM;
        case 384: return NCRYPT_ECDSA_P384_ALGORITHM;
        case 521: return NCRYPT_ECDSA_P521_ALGORITHM;
        default: return nullptr;
    }
}

bool generateStorageKey(CallContext& context, const NewKey& request, bool ec, DWORD bits,
                        std::vector<BYTE>& publicKeyInfo) {
    const CryptoPlatform& platform = context.platform;
    const ContainerKey& target = request.target;
    const LPCWSTR algorithm = storageAlgorithm(ec, bits);
    if (!refuseUnless(context, algorithm != nullptr, kCreatePersistedKey, request.status,
                      static_cast<DWORD>(NTE_BAD_ALGID)))
        return false;
    ScopedNcryptObject storage;
    ScopedNcryptObject key;
    const bool persisted = persistNewStorageKey(
        context, request, storage, key, [&](NCRYPT_PROV_HANDLE provider, ScopedNcryptObject& made) {
            NCRYPT_KEY_HANDLE created = 0;
            SECURITY_STATUS status = platform.NCryptCreatePersistedKey(
                provider, &created, algorithm, toWide(target.container).c_str(), 0,
                ncryptKeysetFlags(bindingOf(target)));
            made.reset(created);
            if (!finishCngStep(context, {kCreatePersistedKey, kCreated, kCreateError, request.status},
                               status))
                return false;
            if (ec) return true;
            DWORD length = bits;
            return finishCngStep(
                context, {kSetProperty, kLengthSet, kLengthError, request.status},
                platform.NCryptSetProperty(created, NCRYPT_LENGTH_PROPERTY,
                                           reinterpret_cast<PBYTE>(&length), sizeof(length), 0));
        });
    if (!persisted) return false;
    if (exportPublicKeyInfo(context, key.get(), CERT_NCRYPT_KEY_SPEC, publicKeyInfo)) return true;
    undoAfterFailure(context, [&] { deleteStorageKey(context, key); });
    return false;
}

bool generateCspKey(CallContext& context, const NewKey& request, DWORD bits,
                    std::vector<BYTE>& publicKeyInfo) {
    return inNewCspContainer(context, request, [&](HCRYPTPROV provider) {
        ScopedKey key;
        return runStep(context, {kGenKey, kGenerated, kGenerateError, request.status},
                       [&] {
                           return context.platform.CryptGenKey(provider, AT_KEYEXCHANGE, bits << 16,
                                                               key.put()) != FALSE;
                       }) &&
               exportPublicKeyInfo(context, provider, AT_KEYEXCHANGE, publicKeyInfo);
    });
}

// The checks every new key shares, then `make`; `made` is set and success recorded only when it
// made the key.
template <typename Make>
bool makeKey(CallContext& context, const char* banner, const NewKey& request,
             const SecureBytes& pin, ContainerKey& made, Make make) {
    writeLogFormatted(banner, context.log, request.target.container.c_str());
    const char* step = request.target.inKeyStorageProvider() ? kCreatePersistedKey : kAcquireContext;
    NewKey checked = request;
    if (!refuseUnless(context, isContainerName(request.target.container), step, request.status,
                      ERROR_INVALID_PARAMETER) ||
        !refuseUnless(context, pinText(pin, checked.pin), step, request.status,
                      ERROR_INVALID_PARAMETER) ||
        !make(checked))
        return false;
    writeLogFormatted(kKeyMade, context.log, request.target.container.c_str());
    made = request.target;
    context.outcome.record(kStatusSuccess);
    return true;
}

}  // namespace

bool importKey(CallContext& context, StoreLocation location, const std::string& container,
               KeyHome home, const RsaPrivateKey& key, const SecureBytes& pin, ContainerKey& made) {
    const bool csp = home == KeyHome::Csp;
    const NewKey request = {newContainerKey(location, container, home), kStatusKeyNotImported,
                            nullptr};
    return makeKey(context, kImportBanner, request, pin, made, [&](const NewKey& checked) {
        SecureBytes blob;
        const bool laidOut = csp ? cspRsaPrivateBlob(key, blob) : cngRsaPrivateBlob(key, blob);
        if (!refuseUnless(context, laidOut, csp ? kImportKey : kNcryptImportKey, checked.status,
                          static_cast<DWORD>(NTE_BAD_DATA)))
            return false;
        return csp ? importCspKey(context, checked, blob)
                   : importStorageKey(context, checked, BCRYPT_RSAFULLPRIVATE_BLOB, blob);
    });
}

bool importKey(CallContext& context, StoreLocation location, const std::string& container,
               const EcPrivateKey& key, const SecureBytes& pin, ContainerKey& made) {
    const NewKey request = {newContainerKey(location, container, KeyHome::KeyStorageProvider),
                            kStatusKeyNotImported, nullptr};
    return makeKey(context, kImportBanner, request, pin, made, [&](const NewKey& checked) {
        SecureBytes blob;
        if (!refuseUnless(context, cngEcPrivateBlob(key, blob), kNcryptImportKey, checked.status,
                          static_cast<DWORD>(NTE_BAD_DATA)))
            return false;
        return importStorageKey(context, checked, BCRYPT_ECCPRIVATE_BLOB, blob);
    });
}

bool generateKey(CallContext& context, StoreLocation location, const std::string& container,
                 KeyHome home, bool ec, DWORD bits, const SecureBytes& pin, ContainerKey& made,
                 std::vector<BYTE>& publicKeyInfo) {
    const bool csp = home == KeyHome::Csp && !ec;
    const NewKey request = {
        newContainerKey(location, container, csp ? KeyHome::Csp : KeyHome::KeyStorageProvider),
        kStatusKeyNotGenerated, nullptr};
    std::vector<BYTE> generated;
    if (!makeKey(context, kGenerateBanner, request, pin, made, [&](const NewKey& checked) {
            return csp ? generateCspKey(context, checked, bits, generated)
                       : generateStorageKey(context, checked, ec, bits, generated);
        }))
        return false;
    publicKeyInfo = std::move(generated);
    return true;
}

bool deleteContainer(CallContext& context, const ContainerKey& key) {
    writeLogFormatted(kDeleteBanner, context.log, key.container.c_str());
    const CryptoPlatform& platform = context.platform;
    const KeyBinding binding = bindingOf(key);
    bool deleted = false;
    if (key.inKeyStorageProvider()) {
        ScopedNcryptObject storage;
        ScopedNcryptObject handle;
        deleted = openStorageKey(context, binding, kStatusContainerNotDeleted, storage, handle) &&
                  deleteStorageKey(context, handle);
    } else {
        deleted = runStep(
            context, {kAcquireContext, kKeysetDeleted, kKeysetDeleteError, kStatusContainerNotDeleted},
            [&] {
                // Deleting hands out no context.
                HCRYPTPROV none = 0;
                return platform.CryptAcquireContextA(
                           &none, binding.containerName.c_str(), binding.providerName.c_str(),
                           binding.providerType,
                           CRYPT_DELETEKEYSET | CRYPT_SILENT | binding.keysetFlags) != FALSE;
            });
    }
    if (deleted) context.outcome.record(kStatusSuccess);
    return deleted;
}

}  // namespace keyops
