// Public keys from certificates, as a CSP's key (CryptImportPublicKeyInfo) or a BCrypt key
// (CryptImportPublicKeyInfoEx2): what a caller needs to verify a signature before it trusts it;
// and a key's public key as a certificate would carry it (CryptExportPublicKeyInfo).
#include <cstring>
#include <map>
#include <mutex>

#include "softcapi/crypto/der.h"

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

// The public key a handle stands for: a CNG key's, or a container key's of a provider context.
SharedKey publicKeyOf(HCRYPTPROV_OR_NCRYPT_KEY_HANDLE handle, DWORD keySpec, DWORD& error) {
    if (keySpec == CERT_NCRYPT_KEY_SPEC) {
        std::shared_ptr<SoftNcryptObject> key = ncryptHandles().find(handle);
        if (!key || !key->isKey()) error = NTE_INVALID_HANDLE;
        else if (!key->publicKey) error = NTE_BAD_KEY_STATE;
        return key ? key->publicKey : nullptr;
    }
    std::shared_ptr<SoftProvider> provider = providerHandles().find(handle);
    if (!provider) {
        error = badProviderHandle(handle);
        return nullptr;
    }
    std::shared_ptr<const LoadedContainer> container = provider->loaded();
    const ContainerKey* stored = container ? container->key(keySpec) : nullptr;
    if (stored == nullptr) {
        error = NTE_NO_KEY;
        return nullptr;
    }
    return stored->publicKey;
}

// CERT_PUBLIC_KEY_INFO followed by what its pointers address: the identifier's text, the
// parameters and the key's bits.
BOOL answerPublicKeyInfo(const PublicKeyInfoParts& parts, PCERT_PUBLIC_KEY_INFO info,
                         DWORD* size) {
    const std::string objectId = objectIdText(parts.objectId, parts.objectIdSize);
    if (objectId.empty()) return failWith(CRYPT_E_ASN1_CORRUPT);
    const size_t needed = sizeof(CERT_PUBLIC_KEY_INFO) + objectId.size() + 1 +
                          parts.parametersSize + parts.keySize;
    const bool fits = info == nullptr || *size >= needed;
    *size = static_cast<DWORD>(needed);
    if (!fits) return failWith(ERROR_MORE_DATA);
    if (info == nullptr) return TRUE;
    auto* text = reinterpret_cast<char*>(info + 1);
    BYTE* parameters = reinterpret_cast<BYTE*>(text) + objectId.size() + 1;
    BYTE* key = parameters + parts.parametersSize;
    std::memcpy(text, objectId.c_str(), objectId.size() + 1);
    if (parts.parametersSize != 0) std::memcpy(parameters, parts.parameters, parts.parametersSize);
    std::memcpy(key, parts.key, parts.keySize);
    std::memset(info, 0, sizeof(*info));
    info->Algorithm.pszObjId = text;
    info->Algorithm.Parameters.cbData = static_cast<DWORD>(parts.parametersSize);
    info->Algorithm.Parameters.pbData = parts.parametersSize != 0 ? parameters : nullptr;
    info->PublicKey.cbData = static_cast<DWORD>(parts.keySize);
    info->PublicKey.pbData = key;
    info->PublicKey.cUnusedBits = parts.unusedBits;
    return TRUE;
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

BOOL WINAPI CryptExportPublicKeyInfo(HCRYPTPROV_OR_NCRYPT_KEY_HANDLE hCryptProvOrNCryptKey,
                                     DWORD dwKeySpec, DWORD dwCertEncodingType,
                                     PCERT_PUBLIC_KEY_INFO pInfo, DWORD* pcbInfo) {
    return guardEntryPoint([&]() -> BOOL {
        if (hCryptProvOrNCryptKey == 0 || pcbInfo == nullptr)
            return failWith(ERROR_INVALID_PARAMETER);
        // CRYPT32 has no encoder for an encoding other than X.509's.
        if ((dwCertEncodingType & X509_ASN_ENCODING) == 0) return failWith(ERROR_FILE_NOT_FOUND);
        DWORD error = ERROR_SUCCESS;
        SharedKey key = publicKeyOf(hCryptProvOrNCryptKey, dwKeySpec, error);
        if (!key) return failWith(error);
        OpenSslErrorScope scope;
        const std::vector<BYTE> der = encodePublicKey(key.get());
        PublicKeyInfoParts parts;
        if (der.empty() || !splitPublicKeyInfo(der.data(), der.size(), parts))
            return failWith(windowsErrorForOpenSsl(NTE_BAD_KEY));
        return answerPublicKeyInfo(parts, pInfo, pcbInfo);
    });
}
