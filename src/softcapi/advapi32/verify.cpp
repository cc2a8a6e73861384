// Signatures of a CSP's hash checked with a public key imported from a certificate: PKCS#1 v1.5
// RSA and DSS, in CryptoAPI's byte order.
#include <algorithm>
#include <mutex>

#include "softcapi/crypto/signature_schemes.h"
#include "softcapi/shim/crypt_objects.h"
#include "softcapi/shim/entry_guard.h"
#include "softcapi/shim/last_error.h"

using namespace softcapi;

namespace {

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
