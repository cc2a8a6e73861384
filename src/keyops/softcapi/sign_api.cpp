// Signing a hash with a container's key: PKCS#1 v1.5 RSA and DSS, in CryptoAPI's byte order.
#include <openssl/dsa.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cstring>

#include "keyops/softcapi/crypt_objects.h"
#include "keyops/softcapi/entry_guard.h"
#include "keyops/softcapi/last_error.h"

using namespace softcapi;

namespace {

const DWORD kDssHalfSize = 20;

DWORD signatureSize(const SoftProvider& provider, EVP_PKEY* publicKey) {
    if (provider.info->family == KeyFamily::Dss) return 2 * kDssHalfSize;
    return static_cast<DWORD>(EVP_PKEY_get_size(publicKey));
}

// PKCS#1 v1.5 over the DigestInfo of the hash (none for SSL3 SHAMD5 or CRYPT_NOHASHOID),
// written least significant byte first.
DWORD signRsa(EVP_PKEY* key, const SoftHash& hash, DWORD flags, BYTE* out, DWORD size) {
    PkeyCtxPtr context(EVP_PKEY_CTX_new(key, nullptr));
    if (!context || EVP_PKEY_sign_init(context.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) != 1)
        return windowsErrorForOpenSsl(NTE_FAIL);
    const EVP_MD* digest = (flags & CRYPT_NOHASHOID) != 0 ? nullptr : digestFor(hash.algorithm);
    if (digest != nullptr && EVP_PKEY_CTX_set_signature_md(context.get(), digest) != 1)
        return windowsErrorForOpenSsl(NTE_FAIL);
    size_t length = size;
    if (EVP_PKEY_sign(context.get(), out, &length, hash.value.data(), hash.value.size()) != 1 ||
        length != size)
        return windowsErrorForOpenSsl(NTE_BAD_DATA);
    std::reverse(out, out + size);
    return ERROR_SUCCESS;
}

// False when the number does not fit, as r and s of a key whose q is longer than 160 bits.
bool writeLittleEndian(const BIGNUM* number, BYTE* out) {
    return BN_bn2lebinpad(number, out, kDssHalfSize) == static_cast<int>(kDssHalfSize);
}

// r then s, 20 bytes each, each least significant byte first. DSS signs SHA-1 hashes only.
DWORD signDss(EVP_PKEY* key, const SoftHash& hash, BYTE* out) {
    if (hash.algorithm != CALG_SHA1) return NTE_BAD_ALGID;
    PkeyCtxPtr context(EVP_PKEY_CTX_new(key, nullptr));
    if (!context || EVP_PKEY_sign_init(context.get()) != 1 ||
        EVP_PKEY_CTX_set_signature_md(context.get(), digestFor(CALG_SHA1)) != 1)
        return windowsErrorForOpenSsl(NTE_FAIL);
    std::vector<BYTE> der(EVP_PKEY_get_size(key));
    size_t length = der.size();
    if (EVP_PKEY_sign(context.get(), der.data(), &length, hash.value.data(), hash.value.size()) != 1)
        return windowsErrorForOpenSsl(NTE_FAIL);
    const unsigned char* in = der.data();
    DSA_SIG* signature = d2i_DSA_SIG(nullptr, &in, static_cast<long>(length));
    if (signature == nullptr) return windowsErrorForOpenSsl(NTE_FAIL);
    const BIGNUM* r = nullptr;
    const BIGNUM* s = nullptr;
    DSA_SIG_get0(signature, &r, &s);
    bool written = writeLittleEndian(r, out) && writeLittleEndian(s, out + kDssHalfSize);
    DSA_SIG_free(signature);
    return written ? ERROR_SUCCESS : static_cast<DWORD>(NTE_BAD_KEY);
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
        const ContainerKey* key = provider.container ? provider.container->key(dwKeySpec) : nullptr;
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
