// Public keys from certificates, and signatures checked with them: what a caller needs to verify
// a signature before it trusts it.
#include <algorithm>
#include <map>
#include <mutex>

#include "softcapi/certificate_info.h"
#include "softcapi/crypt_objects.h"
#include "softcapi/entry_guard.h"
#include "softcapi/last_error.h"
#include "softcapi/signature_schemes.h"

using namespace softcapi;

namespace {

bool ofFamily(EVP_PKEY* key, KeyFamily family) {
    return EVP_PKEY_is_a(key, family == KeyFamily::Rsa ? "RSA" : "DSA") == 1;
}

bool verifiesRsa(EVP_PKEY* key, const SoftHash& hash, DWORD flags, const BYTE* signature,
                 DWORD length) {
    if (length != static_cast<DWORD>(EVP_PKEY_get_size(key))) return false;
    std::vector<BYTE> wellOrdered(signature, signature + length);
    std::reverse(wellOrdered.begin(), wellOrdered.end());
    PkeyCtxPtr context = rsaSignatureContext(key, hash.algorithm, flags, false);
    return context && EVP_PKEY_verify(context.get(), wellOrdered.data(), wellOrdered.size(),
                                      hash.value.data(), hash.value.size()) == 1;
}

bool verifiesDss(EVP_PKEY* key, const SoftHash& hash, const BYTE* signature, DWORD length) {
    if (length != kDssSignatureSize) return false;
    std::vector<BYTE> der = dssSignatureToDer(signature);
    PkeyCtxPtr context = dssSignatureContext(key, false);
    return !der.empty() && context &&
           EVP_PKEY_verify(context.get(), der.data(), der.size(), hash.value.data(),
                           hash.value.size()) == 1;
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

BOOL WINAPI CryptVerifySignatureA(HCRYPTHASH hHash, CONST BYTE* pbSignature, DWORD dwSigLen,
                                  HCRYPTKEY hPubKey, LPCSTR szDescription, DWORD dwFlags) {
    return guardEntryPoint([&]() -> BOOL {
        std::shared_ptr<SoftHash> hash = hashHandles().find(hHash);
        if (!hash) return failWith(ERROR_INVALID_PARAMETER);
        std::shared_ptr<SoftKey> key = keyHandles().find(hPubKey);
        if (!key) return failWith(NTE_BAD_KEY);
        if (pbSignature == nullptr && dwSigLen != 0) return failWith(ERROR_INVALID_PARAMETER);
        if ((dwFlags & ~static_cast<DWORD>(CRYPT_NOHASHOID)) != 0) return failWith(NTE_BAD_FLAGS);
        KeyFamily family = hash->provider->info->family;
        if (key->provider->info->family != family) return failWith(NTE_BAD_KEY);
        if (family == KeyFamily::Dss && hash->algorithm != CALG_SHA1)
            return failWith(NTE_BAD_ALGID);

        OpenSslErrorScope scope;
        std::lock_guard<std::mutex> lock(hash->mutex);
        if (!hash->finish()) return failWith(windowsErrorForOpenSsl(NTE_BAD_HASH_STATE));
        EVP_PKEY* publicKey = key->publicKey.get();
        bool verified = family == KeyFamily::Dss
                            ? verifiesDss(publicKey, *hash, pbSignature, dwSigLen)
                            : verifiesRsa(publicKey, *hash, dwFlags, pbSignature, dwSigLen);
        return verified ? TRUE : failWith(windowsErrorForOpenSsl(NTE_BAD_SIGNATURE));
    });
}
