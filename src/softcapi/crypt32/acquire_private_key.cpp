// CryptAcquireCertificatePrivateKey: the key a certificate's key-provider property names, as a
// CSP context or, with the NCrypt flags, as a CNG key.
#include <cstring>

#include "softcapi/keystore/keystore_cache.h"
#include "softcapi/ncrypt/keys.h"
#include "softcapi/shim/entry_guard.h"
#include "softcapi/shim/last_error.h"
#include "softcapi/shim/text_encoding.h"

using namespace softcapi;

namespace {

const DWORD kNcryptFlags = CRYPT_ACQUIRE_ALLOW_NCRYPT_KEY_FLAG |
                           CRYPT_ACQUIRE_PREFER_NCRYPT_KEY_FLAG | CRYPT_ACQUIRE_ONLY_NCRYPT_KEY_FLAG;
// Every context is the caller's to free, so the cache flag changes nothing the caller sees.
const DWORD kAcceptedFlags = CRYPT_ACQUIRE_CACHE_FLAG | CRYPT_ACQUIRE_USE_PROV_INFO_FLAG |
                             CRYPT_ACQUIRE_COMPARE_KEY_FLAG | CRYPT_ACQUIRE_SILENT_FLAG | kNcryptFlags;

bool matchesCertificate(EVP_PKEY* publicKey, const CertificateRecord& record) {
    const unsigned char* in = record.encoded.data();
    X509Ptr certificate(d2i_X509(nullptr, &in, static_cast<long>(record.encoded.size())));
    return certificate && EVP_PKEY_eq(publicKey, X509_get0_pubkey(certificate.get())) == 1;
}

// A CSP's key through CNG, the CSP context let go: what the NCrypt flags ask for a CSP binding.
BOOL translated(HCRYPTPROV context, DWORD keySpec, std::shared_ptr<SoftNcryptObject>& key) {
    std::shared_ptr<SoftProvider> provider = providerHandles().find(context);
    DWORD error = ERROR_SUCCESS;
    key = translatedNcryptKey(*provider, keySpec, error);
    CryptReleaseContext(context, 0);
    return key ? TRUE : failWith(error);
}

}  // namespace

BOOL WINAPI CryptAcquireCertificatePrivateKey(PCCERT_CONTEXT pCert, DWORD dwFlags,
                                              void* pvParameters,
                                              HCRYPTPROV_OR_NCRYPT_KEY_HANDLE* phCryptProvOrNCryptKey,
                                              DWORD* pdwKeySpec, BOOL* pfCallerFreeProvOrNCryptKey) {
    return guardEntryPoint([&]() -> BOOL {
        if (phCryptProvOrNCryptKey == nullptr || pfCallerFreeProvOrNCryptKey == nullptr ||
            pvParameters != nullptr)
            return failWith(E_INVALIDARG);
        if ((dwFlags & ~kAcceptedFlags) != 0) return failWith(NTE_BAD_FLAGS);
        ContextPlace place;
        if (!placeOf(pCert, place)) return failWith(E_INVALIDARG);
        const SnapshotEntry* entry = entryAt(*place.snapshot, place.index);
        if (entry == nullptr) return failWith(E_INVALIDARG);
        const CertificateRecord* record = &entry->record;
        const std::optional<KeyBinding> bound = entry->binding();
        if (!bound) return failWith(CRYPT_E_NO_KEY_PROPERTY);
        const KeyBinding& binding = *bound;
        // The key lives where its certificate does.
        const Location location = locationAt(*place.snapshot, place.index);
        const bool compare = (dwFlags & CRYPT_ACQUIRE_COMPARE_KEY_FLAG) != 0;

        std::shared_ptr<SoftNcryptObject> key;
        DWORD keySpec = binding.keySpec;
        HCRYPTPROV context = 0;
        if (binding.providerType == 0) {
            // A key storage provider's key exists for CNG callers only.
            if ((dwFlags & kNcryptFlags) == 0) return failWith(NTE_PROV_TYPE_NOT_DEF);
            if (!isKeyStorageProvider(binding.provider)) return failWith(NTE_KEYSET_NOT_DEF);
            DWORD error = ERROR_SUCCESS;
            key = storedNcryptKey(location, binding.container, error);
            if (!key) return failWith(error);
        } else {
            DWORD flags = (dwFlags & CRYPT_ACQUIRE_SILENT_FLAG) != 0 ? CRYPT_SILENT : 0;
            if (location == Location::LocalMachine) flags |= CRYPT_MACHINE_KEYSET;
            if (!CryptAcquireContextA(&context, utf8ToLatin1(binding.container).c_str(),
                                      utf8ToLatin1(binding.provider).c_str(), binding.providerType,
                                      flags))
                return FALSE;
            const bool preferCng = (dwFlags & (CRYPT_ACQUIRE_PREFER_NCRYPT_KEY_FLAG |
                                               CRYPT_ACQUIRE_ONLY_NCRYPT_KEY_FLAG)) != 0;
            if (preferCng) {
                if (!translated(context, keySpec, key)) return FALSE;
            } else if (compare) {
                std::shared_ptr<SoftProvider> provider = providerHandles().find(context);
                const ContainerKey* stored = provider->loaded()->key(keySpec);
                if (stored == nullptr || !matchesCertificate(stored->publicKey.get(), *record)) {
                    CryptReleaseContext(context, 0);
                    return failWith(stored == nullptr ? NTE_NO_KEY : NTE_BAD_PUBLIC_KEY);
                }
            }
        }
        if (key) {
            if (compare && !matchesCertificate(key->publicKey.get(), *record))
                return failWith(NTE_BAD_PUBLIC_KEY);
            *phCryptProvOrNCryptKey = ncryptHandles().add(std::move(key));
            keySpec = CERT_NCRYPT_KEY_SPEC;
        } else {
            *phCryptProvOrNCryptKey = context;
        }
        if (pdwKeySpec != nullptr) *pdwKeySpec = keySpec;
        *pfCallerFreeProvOrNCryptKey = TRUE;
        return TRUE;
    });
}
