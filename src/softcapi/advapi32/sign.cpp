// Signing a hash with a container's key: PKCS#1 v1.5 RSA and DSS, in CryptoAPI's byte order.
#include <algorithm>
#include <cstring>

#include "softcapi/crypto/signature_schemes.h"
#include "softcapi/shim/crypt_objects.h"
#include "softcapi/shim/entry_guard.h"
#include "softcapi/shim/last_error.h"

using namespace softcapi;

namespace {

DWORD signatureSize(const SoftProvider& provider, EVP_PKEY* publicKey) {
    if (provider.info->family == KeyFamily::Dss) return kDssSignatureSize;
    return static_cast<DWORD>(EVP_PKEY_get_size(publicKey));
}

// PKCS#1 v1.5 over the DigestInfo of the hash, written least significant byte first.
DWORD signRsa(EVP_PKEY* key, const SoftHash& hash, DWORD flags, BYTE* out, DWORD size) {
    PkeyCtxPtr context = rsaSignatureContext(key, hash.algorithm, flags, true);
    if (!context) return windowsErrorForOpenSsl(NTE_FAIL);
    size_t length = size;
    if (EVP_PKEY_sign(context.get(), out, &length, hash.value.data(), hash.value.size()) != 1 ||
        length != size)
        return windowsErrorForOpenSsl(NTE_BAD_DATA);
    std::reverse(out, out + size);
    return ERROR_SUCCESS;
}

// DSS signs SHA-1 hashes only; r or s longer than 20 bytes (a key whose q is longer than 160
// bits) cannot be written.
DWORD signDss(EVP_PKEY* key, const SoftHash& hash, BYTE* out) {
    if (hash.algorithm != CALG_SHA1) return NTE_BAD_ALGID;
    PkeyCtxPtr context = dssSignatureContext(key, true);
    if (!context) return windowsErrorForOpenSsl(NTE_FAIL);
    std::vector<BYTE> der(EVP_PKEY_get_size(key));
    size_t length = der.size();
    if (EVP_PKEY_sign(context.get(), der.data(), &length, hash.value.data(), hash.value.size()) != 1)
        return windowsErrorForOpenSsl(NTE_FAIL);
    BYTE signature[kDssSignatureSize];
    if (!dssSignatureFromDer(der.data(), length, signature))
        return windowsErrorForOpenSsl(NTE_BAD_KEY);
    std::memcpy(out, signature, sizeof(signature));
    return ERROR_SUCCESS;
}

}  // namespace

BOOL WINAPI CryptSignHashA(HCRYPTHASH hHash, DWORD dwKeySpec, LPCSTR szDescription,
                           DWORD dwFlags, BYTE* pbSignature, DWORD* pdwSigLen) {
    return guardEntryPoint([&]() -> BOOL {
        std::shared_ptr<SoftHash> hash = hashHandles().find(hHash);
        if (!hash) return failWith(ERROR_INVALID_PARAMETER);
        if (pdwSigLen == nullptr) return failWith(ERROR_INVALID_PARAMETER);
        if (dwKeySpec != AT_KEYEXCHANGE && dwKeySpec != AT_SIGNATURE)
            return failWith(NTE_BAD_ALGID);
        if ((dwFlags & ~static_cast<DWORD>(CRYPT_NOHASHOID)) != 0) return failWith(NTE_BAD_FLAGS);
        SoftProvider& provider = *hash->provider;
        std::shared_ptr<const LoadedContainer> container = provider.loaded();
        const ContainerKey* key = container ? container->key(dwKeySpec) : nullptr;
        if (key == nullptr) return failWith(NTE_NO_KEY);

        DWORD size = signatureSize(provider, key->publicKey.get());
        if (pbSignature == nullptr) {
            *pdwSigLen = size;
            return TRUE;
        }
        if (*pdwSigLen < size) {
            *pdwSigLen = size;
            return failWith(ERROR_MORE_DATA);
        }
        DWORD error = ERROR_SUCCESS;
        SharedKey privateKey = provider.privateKey(dwKeySpec, error);
        if (!privateKey) return failWith(error);

        OpenSslErrorScope scope;
        std::lock_guard<std::mutex> lock(hash->mutex);
        if (!hash->finish()) return failWith(windowsErrorForOpenSsl(NTE_BAD_HASH_STATE));
        error = provider.info->family == KeyFamily::Dss
                    ? signDss(privateKey.get(), *hash, pbSignature)
                    : signRsa(privateKey.get(), *hash, dwFlags, pbSignature, size);
        if (error != ERROR_SUCCESS) return failWith(error);
        *pdwSigLen = size;
        return TRUE;
    });
}
