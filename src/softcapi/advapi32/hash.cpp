// Hash objects: created in a provider, fed data or given their value, read back, destroyed.
#include <cstring>

#include "softcapi/shim/crypt_objects.h"
#include "softcapi/shim/entry_guard.h"
#include "softcapi/shim/last_error.h"

using namespace softcapi;

namespace {

BOOL answerDword(DWORD value, BYTE* data, DWORD* length) {
    if (data == nullptr) {
        *length = sizeof(DWORD);
        return TRUE;
    }
    if (*length < sizeof(DWORD)) {
        *length = sizeof(DWORD);
        return failWith(ERROR_MORE_DATA);
    }
    std::memcpy(data, &value, sizeof(DWORD));
    *length = sizeof(DWORD);
    return TRUE;
}

BOOL answerValue(SoftHash& hash, BYTE* data, DWORD* length) {
    DWORD size = digestSize(hash.algorithm);
    if (data == nullptr) {
        *length = size;
        return TRUE;
    }
    if (*length < size) {
        *length = size;
        return failWith(ERROR_MORE_DATA);
    }
    if (!hash.finish()) return failWith(windowsErrorForOpenSsl(NTE_BAD_HASH_STATE));
    std::memcpy(data, hash.value.data(), size);
    *length = size;
    return TRUE;
}

}  // namespace

BOOL WINAPI CryptCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags,
                            HCRYPTHASH* phHash) {
    return guardEntryPoint([&]() -> BOOL {
        std::shared_ptr<SoftProvider> provider = providerHandles().find(hProv);
        if (!provider) return failWith(badProviderHandle(hProv));
        if (phHash == nullptr) return failWith(ERROR_INVALID_PARAMETER);
        if (dwFlags != 0) return failWith(NTE_BAD_FLAGS);
        // Keyed hashes (HMAC, MAC) are not offered, so a key never belongs here.
        if (hKey != 0) return failWith(NTE_BAD_KEY);
        if (!offersAlgorithm(*provider->info, Algid) || digestSize(Algid) == 0)
            return failWith(NTE_BAD_ALGID);
        OpenSslErrorScope scope;
        auto hash = std::make_shared<SoftHash>();
        hash->provider = std::move(provider);
        hash->algorithm = Algid;
        if (const EVP_MD* digest = digestFor(Algid)) {
            hash->digest.reset(EVP_MD_CTX_new());
            if (!hash->digest || EVP_DigestInit_ex(hash->digest.get(), digest, nullptr) != 1)
                return failWith(windowsErrorForOpenSsl(NTE_FAIL));
        }
        *phHash = hashHandles().add(std::move(hash));
        return TRUE;
    });
}

BOOL WINAPI CryptHashData(HCRYPTHASH hHash, CONST BYTE* pbData, DWORD dwDataLen, DWORD dwFlags) {
    return guardEntryPoint([&]() -> BOOL {
        std::shared_ptr<SoftHash> hash = hashHandles().find(hHash);
        if (!hash) return failWith(ERROR_INVALID_PARAMETER);
        if (pbData == nullptr && dwDataLen != 0) return failWith(ERROR_INVALID_PARAMETER);
        if (dwFlags != 0) return failWith(NTE_BAD_FLAGS);
        // SSL3 SHAMD5 has no data of its own: its value is set whole.
        if (!hash->digest) return failWith(NTE_BAD_ALGID);
        OpenSslErrorScope scope;
        std::lock_guard<std::mutex> lock(hash->mutex);
        if (hash->finished) return failWith(NTE_BAD_HASH_STATE);
        if (dwDataLen != 0 && EVP_DigestUpdate(hash->digest.get(), pbData, dwDataLen) != 1)
            return failWith(windowsErrorForOpenSsl(NTE_FAIL));
        return TRUE;
    });
}

BOOL WINAPI CryptSetHashParam(HCRYPTHASH hHash, DWORD dwParam, CONST BYTE* pbData,
                              DWORD dwFlags) {
    return guardEntryPoint([&]() -> BOOL {
        std::shared_ptr<SoftHash> hash = hashHandles().find(hHash);
        if (!hash) return failWith(ERROR_INVALID_PARAMETER);
        if (dwParam != HP_HASHVAL) return failWith(NTE_BAD_TYPE);
        if (pbData == nullptr) return failWith(ERROR_INVALID_PARAMETER);
        std::lock_guard<std::mutex> lock(hash->mutex);
        // As on Windows, the value is as long as the algorithm's digest; the caller vouches for it.
        hash->value.assign(pbData, pbData + digestSize(hash->algorithm));
        hash->finished = true;
        return TRUE;
    });
}

BOOL WINAPI CryptGetHashParam(HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                              DWORD dwFlags) {
    return guardEntryPoint([&]() -> BOOL {
        std::shared_ptr<SoftHash> hash = hashHandles().find(hHash);
        if (!hash) return failWith(ERROR_INVALID_PARAMETER);
        if (pdwDataLen == nullptr) return failWith(ERROR_INVALID_PARAMETER);
        OpenSslErrorScope scope;
        std::lock_guard<std::mutex> lock(hash->mutex);
        switch (dwParam) {
            case HP_ALGID:
                return answerDword(hash->algorithm, pbData, pdwDataLen);
            case HP_HASHSIZE:
                return answerDword(digestSize(hash->algorithm), pbData, pdwDataLen);
            case HP_HASHVAL:
                return answerValue(*hash, pbData, pdwDataLen);
            default:
                return failWith(NTE_BAD_TYPE);
        }
    });
}

BOOL WINAPI CryptDestroyHash(HCRYPTHASH hHash) {
    return guardEntryPoint([&]() -> BOOL {
        if (!hashHandles().remove(hHash)) return failWith(ERROR_INVALID_PARAMETER);
        return TRUE;
    });
}
