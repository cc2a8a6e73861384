// Public keys from certificates, as a CSP's key (CryptImportPublicKeyInfo) or a BCrypt key
// (CryptImportPublicKeyInfoEx2): what a caller needs to verify a signature before it trusts it.
#include <map>
#include <mutex>

#include "softcapi/crypt32/certificate_info.h"
#include "softcapi/crypto/cng_schemes.h"
#include "softcapi/shim/crypt_objects.h"
#include "softcapi/shim/entry_guard.h"
#include "softcapi/shim/last_error.h"

using namespace softcapi;

namespace {

bool ofFamily(EVP_PKEY* key, KeyFamily family) {
    return EVP_PKEY_is_a(key, family == KeyFamily::Rsa ? "RSA" : "DSA") == 1;
}

}  // namespace

namespace softcapi {

// OpenSSL 3 decodes a public key in tens of microseconds, a good part of a signing; the same few
// certificates are checked over and over, so their keys are kept, a bounded number of them.
SharedKey rememberedPublicKey(const std::vector<BYTE>& der) {
    static const size_t kRememberedPublicKeys = 64;
    static std::mutex mutex;
    static auto* remembered = new std::map<std::vector<BYTE>, SharedKey>();  // lives as long as the process
    std::lock_guard<std::mutex> lock(mutex);
    auto found = remembered->find(der);
    if (found != remembered->end()) return found->second;
    SharedKey key = shareKey(decodePublicKey(der));
    if (!key) return nullptr;
    if (remembered->size() >= kRememberedPublicKeys) remembered->clear();
    remembered->emplace(der, key);
    return key;
}

}  // namespace softcapi

BOOL WINAPI CryptImportPublicKeyInfo(HCRYPTPROV hCryptProv, DWORD dwCertEncodingType,
                                     PCERT_PUBLIC_KEY_INFO pInfo, HCRYPTKEY* phKey) {
    return guardEntryPoint([&]() -> BOOL {
        std::shared_ptr<SoftProvider> provider = providerHandles().find(hCryptProv);
        if (!provider) return failWith(badProviderHandle(hCryptProv));
        if (pInfo == nullptr || phKey == nullptr) return failWith(ERROR_INVALID_PARAMETER);
        // CRYPT32 has no decoder for an encoding other than X.509's.
        if ((dwCertEncodingType & X509_ASN_ENCODING) == 0) return failWith(ERROR_FILE_NOT_FOUND);
        OpenSslErrorScope scope;
        std::vector<BYTE> der = encodePublicKeyInfo(*pInfo);
        SharedKey key = der.empty() ? nullptr : rememberedPublicKey(der);
        if (!key) return failWith(windowsErrorForOpenSsl(CRYPT_E_ASN1_CORRUPT));
        // A provider holds keys of its own family only.
        if (!ofFamily(key.get(), provider->info->family)) return failWith(NTE_BAD_ALGID);
        auto imported = std::make_shared<SoftKey>();
        imported->provider = std::move(provider);
        imported->publicKey = std::move(key);
        *phKey = keyHandles().add(std::move(imported));
        return TRUE;
    });
}

BOOL WINAPI CryptImportPublicKeyInfoEx2(DWORD dwCertEncodingType, PCERT_PUBLIC_KEY_INFO pInfo,
                                        DWORD dwFlags, void* pvAuxInfo, BCRYPT_KEY_HANDLE* phKey) {
    return guardEntryPoint([&]() -> BOOL {
        if (pInfo == nullptr || phKey == nullptr || pvAuxInfo != nullptr)
            return failWith(ERROR_INVALID_PARAMETER);
        if (dwFlags != 0) return failWith(NTE_BAD_FLAGS);
        // CRYPT32 has no decoder for an encoding other than X.509's.
        if ((dwCertEncodingType & X509_ASN_ENCODING) == 0) return failWith(ERROR_FILE_NOT_FOUND);
        OpenSslErrorScope scope;
        std::vector<BYTE> der = encodePublicKeyInfo(*pInfo);
        SharedKey key = der.empty() ? nullptr : rememberedPublicKey(der);
        if (!key) return failWith(windowsErrorForOpenSsl(CRYPT_E_ASN1_CORRUPT));
        if (!isEcKey(key.get()) && EVP_PKEY_is_a(key.get(), "RSA") != 1)
            return failWith(NTE_BAD_ALGID);
        auto imported = std::make_shared<SoftNcryptObject>();
        imported->publicKey = std::move(key);
        *phKey = reinterpret_cast<BCRYPT_KEY_HANDLE>(bcryptKeyHandles().add(std::move(imported)));
        return TRUE;
    });
}
