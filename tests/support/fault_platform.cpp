#include "support/fault_platform.h"

#include <sstream>

namespace {

FaultInjectingPlatform* gActive = nullptr;

const CryptoPlatform& real() {
    return gActive->inner();
}

// True when the call is to fail; the error is then set for the caller to read.
bool failing(PlatformOp op) {
    DWORD error = 0;
    if (!gActive->enter(op, &error)) return false;
    ::SetLastError(error);
    return true;
}

void count(PlatformOp op, int delta) {
    gActive->acquired(op, delta);
}

// A release that is made to fail has still released, as providers do; only its answer changes.
template <typename Release>
BOOL releaseReportingFailure(PlatformOp op, Release release) {
    DWORD error = 0;
    bool fail = gActive->enter(op, &error);
    BOOL ok = release();
    count(op, -1);
    if (!fail) return ok;
    ::SetLastError(error);
    return FALSE;
}

HCERTSTORE WINAPI openStore(LPCSTR provider, DWORD encoding, HCRYPTPROV_LEGACY prov, DWORD flags,
                            const void* para) {
    if (failing(PlatformOp::CertOpenStore)) return nullptr;
    HCERTSTORE store = real().CertOpenStore(provider, encoding, prov, flags, para);
    if (store != nullptr) count(PlatformOp::CertOpenStore, +1);
    return store;
}

HCERTSTORE WINAPI openSystemStore(HCRYPTPROV_LEGACY prov, LPCSTR name) {
    if (failing(PlatformOp::CertOpenSystemStoreA)) return nullptr;
    HCERTSTORE store = real().CertOpenSystemStoreA(prov, name);
    if (store != nullptr) count(PlatformOp::CertOpenSystemStoreA, +1);
    return store;
}

PCCERT_CONTEXT WINAPI enumCertificates(HCERTSTORE store, PCCERT_CONTEXT previous) {
    if (failing(PlatformOp::CertEnumCertificatesInStore)) {
        // Enumeration always gives back the previous context, even when it fails.
        if (previous != nullptr) {
            DWORD error = real().GetLastError();
            real().CertFreeCertificateContext(previous);
            count(PlatformOp::CertEnumCertificatesInStore, -1);
            ::SetLastError(error);
        }
        return nullptr;
    }
    PCCERT_CONTEXT next = real().CertEnumCertificatesInStore(store, previous);
    count(PlatformOp::CertEnumCertificatesInStore, (next != nullptr) - (previous != nullptr));
    return next;
}

BOOL WINAPI getProperty(PCCERT_CONTEXT cert, DWORD id, void* data, DWORD* size) {
    if (failing(PlatformOp::CertGetCertificateContextProperty)) return FALSE;
    return real().CertGetCertificateContextProperty(cert, id, data, size);
}

BOOL WINAPI addToSystemStore(LPCSTR name, const BYTE* encoded, DWORD length) {
    if (failing(PlatformOp::CertAddEncodedCertificateToSystemStoreA)) return FALSE;
    return real().CertAddEncodedCertificateToSystemStoreA(name, encoded, length);
}

BOOL WINAPI deleteFromStore(PCCERT_CONTEXT cert) {
    return releaseReportingFailure(PlatformOp::CertDeleteCertificateFromStore, [&] {
        return real().CertDeleteCertificateFromStore(cert);
    });
}

PCCERT_CONTEXT WINAPI duplicateContext(PCCERT_CONTEXT cert) {
    if (failing(PlatformOp::CertDuplicateCertificateContext)) return nullptr;
    PCCERT_CONTEXT copy = real().CertDuplicateCertificateContext(cert);
    if (copy != nullptr) count(PlatformOp::CertDuplicateCertificateContext, +1);
    return copy;
}

BOOL WINAPI freeContext(PCCERT_CONTEXT cert) {
    if (cert == nullptr) return real().CertFreeCertificateContext(cert);
    return releaseReportingFailure(PlatformOp::CertFreeCertificateContext,
                                   [&] { return real().CertFreeCertificateContext(cert); });
}

BOOL WINAPI closeStore(HCERTSTORE store, DWORD flags) {
    return releaseReportingFailure(PlatformOp::CertCloseStore,
                                   [&] { return real().CertCloseStore(store, flags); });
}

BOOL WINAPI setProvParam(HCRYPTPROV prov, DWORD param, CONST BYTE* data, DWORD flags) {
    if (failing(PlatformOp::CryptSetProvParam)) return FALSE;
    return real().CryptSetProvParam(prov, param, data, flags);
}

BOOL WINAPI acquireContext(HCRYPTPROV* prov, LPCSTR container, LPCSTR provider, DWORD type,
                           DWORD flags) {
    if (failing(PlatformOp::CryptAcquireContextA)) return FALSE;
    BOOL ok = real().CryptAcquireContextA(prov, container, provider, type, flags);
    if (ok && (flags & CRYPT_DELETEKEYSET) == 0) count(PlatformOp::CryptAcquireContextA, +1);
    return ok;
}

BOOL WINAPI getProvParam(HCRYPTPROV prov, DWORD param, BYTE* data, DWORD* length, DWORD flags) {
    if (failing(PlatformOp::CryptGetProvParam)) return FALSE;
    return real().CryptGetProvParam(prov, param, data, length, flags);
}

BOOL WINAPI createHash(HCRYPTPROV prov, ALG_ID alg, HCRYPTKEY key, DWORD flags, HCRYPTHASH* hash) {
    if (failing(PlatformOp::CryptCreateHash)) return FALSE;
    BOOL ok = real().CryptCreateHash(prov, alg, key, flags, hash);
    if (ok) count(PlatformOp::CryptCreateHash, +1);
    return ok;
}

BOOL WINAPI hashData(HCRYPTHASH hash, CONST BYTE* data, DWORD length, DWORD flags) {
    if (failing(PlatformOp::CryptHashData)) return FALSE;
    return real().CryptHashData(hash, data, length, flags);
}

BOOL WINAPI setHashParam(HCRYPTHASH hash, DWORD param, CONST BYTE* data, DWORD flags) {
    if (failing(PlatformOp::CryptSetHashParam)) return FALSE;
    return real().CryptSetHashParam(hash, param, data, flags);
}

BOOL WINAPI getHashParam(HCRYPTHASH hash, DWORD param, BYTE* data, DWORD* length, DWORD flags) {
    if (failing(PlatformOp::CryptGetHashParam)) return FALSE;
    return real().CryptGetHashParam(hash, param, data, length, flags);
}

BOOL WINAPI destroyHash(HCRYPTHASH hash) {
    return releaseReportingFailure(PlatformOp::CryptDestroyHash,
                                   [&] { return real().CryptDestroyHash(hash); });
}

BOOL WINAPI signHash(HCRYPTHASH hash, DWORD keySpec, LPCSTR description, DWORD flags,
                     BYTE* signature, DWORD* length) {
    if (failing(PlatformOp::CryptSignHashA)) return FALSE;
    return real().CryptSignHashA(hash, keySpec, description, flags, signature, length);
}

BOOL WINAPI importPublicKey(HCRYPTPROV prov, DWORD encoding, PCERT_PUBLIC_KEY_INFO info,
                            HCRYPTKEY* key) {
    if (failing(PlatformOp::CryptImportPublicKeyInfo)) return FALSE;
    BOOL ok = real().CryptImportPublicKeyInfo(prov, encoding, info, key);
    if (ok) count(PlatformOp::CryptImportPublicKeyInfo, +1);
    return ok;
}

BOOL WINAPI verifySignature(HCRYPTHASH hash, CONST BYTE* signature, DWORD length, HCRYPTKEY key,
                            LPCSTR description, DWORD flags) {
    if (failing(PlatformOp::CryptVerifySignatureA)) return FALSE;
    return real().CryptVerifySignatureA(hash, signature, length, key, description, flags);
}

BOOL WINAPI getUserKey(HCRYPTPROV prov, DWORD keySpec, HCRYPTKEY* key) {
    if (failing(PlatformOp::CryptGetUserKey)) return FALSE;
    BOOL ok = real().CryptGetUserKey(prov, keySpec, key);
    if (ok) count(PlatformOp::CryptGetUserKey, +1);
    return ok;
}

BOOL WINAPI setKeyParam(HCRYPTKEY key, DWORD param, CONST BYTE* data, DWORD flags) {
    if (failing(PlatformOp::CryptSetKeyParam)) return FALSE;
    return real().CryptSetKeyParam(key, param, data, flags);
}

BOOL WINAPI decrypt(HCRYPTKEY key, HCRYPTHASH hash, BOOL final, DWORD flags, BYTE* data,
                    DWORD* length) {
    if (failing(PlatformOp::CryptDecrypt)) return FALSE;
    return real().CryptDecrypt(key, hash, final, flags, data, length);
}

BOOL WINAPI destroyKey(HCRYPTKEY key) {
    return releaseReportingFailure(PlatformOp::CryptDestroyKey,
                                   [&] { return real().CryptDestroyKey(key); });
}

BOOL WINAPI releaseContext(HCRYPTPROV prov, DWORD flags) {
    return releaseReportingFailure(PlatformOp::CryptReleaseContext,
                                   [&] { return real().CryptReleaseContext(prov, flags); });
}

HWND WINAPI foregroundWindow() {
    gActive->enter(PlatformOp::GetForegroundWindow, nullptr);
    return real().GetForegroundWindow();
}

DWORD WINAPI lastError() {
    return real().GetLastError();
}

const CryptoPlatform kTrampolines = {
    openStore,       openSystemStore,  enumCertificates, getProperty,     addToSystemStore,
    deleteFromStore, duplicateContext, freeContext,      closeStore,      setProvParam,
    acquireContext,  getProvParam,     createHash,       hashData,        setHashParam,
    getHashParam,    destroyHash,      signHash,         importPublicKey, verifySignature,
    getUserKey,      setKeyParam,      decrypt,          destroyKey,      releaseContext,
    foregroundWindow, lastError,
};

const char* const kOpNames[] = {
    "CertOpenStore",        "CertOpenSystemStoreA", "CertEnumCertificatesInStore",
    "CertGetCertificateContextProperty", "CertAddEncodedCertificateToSystemStoreA",
    "CertDeleteCertificateFromStore", "CertDuplicateCertificateContext",
    "CertFreeCertificateContext", "CertCloseStore", "CryptSetProvParam",
    "CryptAcquireContextA", "CryptGetProvParam", "CryptCreateHash", "CryptHashData",
    "CryptSetHashParam", "CryptGetHashParam", "CryptDestroyHash", "CryptSignHashA",
    "CryptImportPublicKeyInfo", "CryptVerifySignatureA", "CryptGetUserKey", "CryptSetKeyParam",
    "CryptDecrypt", "CryptDestroyKey", "CryptReleaseContext", "GetForegroundWindow", "GetLastError",
};
static_assert(sizeof(kOpNames) / sizeof(kOpNames[0]) == static_cast<int>(PlatformOp::Count),
              "one name per operation");

bool isFailable(PlatformOp op) {
    return op != PlatformOp::GetForegroundWindow && op != PlatformOp::GetLastError;
}

}  // namespace

const char* platformOpName(PlatformOp op) {
    return kOpNames[static_cast<int>(op)];
}

FaultInjectingPlatform::FaultInjectingPlatform(const CryptoPlatform& inner)
    : inner_(inner), previous_(nullptr), previousActive_(gActive) {
    gActive = this;
    previous_ = installCryptoPlatform(&kTrampolines);
}

FaultInjectingPlatform::~FaultInjectingPlatform() {
    installCryptoPlatform(previous_ == &defaultCryptoPlatform() ? nullptr : previous_);
    gActive = previousActive_;
}

void FaultInjectingPlatform::failCall(PlatformOp op, int nth, DWORD error) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.push_back({op, nth, error});
}

void FaultInjectingPlatform::failOverallCall(int nth, DWORD error) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.push_back({PlatformOp::Count, nth, error});
}

bool FaultInjectingPlatform::enter(PlatformOp op, DWORD* error) {
    std::lock_guard<std::mutex> lock(mutex_);
    int nth = ++counts_[static_cast<int>(op)];
    sequence_.push_back(op);
    if (!isFailable(op)) return false;
    int overall = ++failable_;
    for (const Fault& fault : faults_) {
        bool hit = fault.op == PlatformOp::Count ? fault.nth == overall
                                                 : fault.op == op && fault.nth == nth;
        if (hit) {
            *error = fault.error;
            return true;
        }
    }
    return false;
}

void FaultInjectingPlatform::acquired(PlatformOp op, int delta) {
    std::lock_guard<std::mutex> lock(mutex_);
    switch (op) {
        case PlatformOp::CertOpenStore:
        case PlatformOp::CertOpenSystemStoreA:
        case PlatformOp::CertCloseStore:
            outstanding_.stores += delta;
            break;
        case PlatformOp::CryptAcquireContextA:
        case PlatformOp::CryptReleaseContext:
            outstanding_.providers += delta;
            break;
        case PlatformOp::CryptCreateHash:
        case PlatformOp::CryptDestroyHash:
            outstanding_.hashes += delta;
            break;
        case PlatformOp::CryptGetUserKey:
        case PlatformOp::CryptImportPublicKeyInfo:
        case PlatformOp::CryptDestroyKey:
            outstanding_.keys += delta;
            break;
        default:
            outstanding_.contexts += delta;
            break;
    }
}

int FaultInjectingPlatform::calls(PlatformOp op) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return counts_[static_cast<int>(op)];
}

int FaultInjectingPlatform::failableCalls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failable_;
}

std::vector<PlatformOp> FaultInjectingPlatform::callSequence() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sequence_;
}

Outstanding FaultInjectingPlatform::outstanding() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return outstanding_;
}

bool FaultInjectingPlatform::allReleased() const {
    Outstanding o = outstanding();
    return o.stores == 0 && o.contexts == 0 && o.providers == 0 && o.hashes == 0 && o.keys == 0;
}

std::string FaultInjectingPlatform::describeOutstanding() const {
    Outstanding o = outstanding();
    std::ostringstream text;
    text << "stores " << o.stores << ", certificate contexts " << o.contexts << ", providers "
         << o.providers << ", hashes " << o.hashes << ", keys " << o.keys;
    return text.str();
}
