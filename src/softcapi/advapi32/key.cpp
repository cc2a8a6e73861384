// Key handles: a container's key, its parameters, its public blob, and RSA decryption in
// CryptoAPI's byte order (padded, or the raw private-key operation of
// CRYPT_DECRYPT_RSA_NO_PADDING_CHECK).
#include <openssl/rsa.h>

#include <algorithm>
#include <cstring>

#include "softcapi/crypto/private_key_blobs.h"
#include "softcapi/crypto/public_key_blobs.h"
#include "softcapi/crypto/rsa_padding.h"
#include "softcapi/shim/crypt_objects.h"
#include "softcapi/shim/entry_guard.h"
#include "softcapi/shim/last_error.h"

using namespace softcapi;

namespace {

const DWORD kLastCipherMode = 5;  // CRYPT_MODE_CTS

// The private-key operation alone; the padding is checked by the caller.
bool rawRsaDecrypt(EVP_PKEY* key, const std::vector<BYTE>& cipherText, common::SecureBytes& block,
                   DWORD& error) {
    PkeyCtxPtr context(EVP_PKEY_CTX_new(key, nullptr));
    if (!context || EVP_PKEY_decrypt_init(context.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_NO_PADDING) != 1) {
        error = windowsErrorForOpenSsl(NTE_FAIL);
        return false;
    }
    common::SecureBytes out(cipherText.size());
    size_t length = out.size();
    if (EVP_PKEY_decrypt(context.get(), out.data(), &length, cipherText.data(),
                         cipherText.size()) != 1 ||
        length != out.size()) {
        error = windowsErrorForOpenSsl(NTE_BAD_DATA);
        return false;
    }
    block = std::move(out);
    return true;
}

DWORD decryptInPlace(SoftKey& key, EVP_PKEY* privateKey, DWORD flags, BYTE* data,
                     DWORD* length) {
    std::vector<BYTE> cipherText(data, data + *length);
    std::reverse(cipherText.begin(), cipherText.end());

    std::lock_guard<std::mutex> lock(key.mutex);
    common::SecureBytes block;
    if (!key.lastCipherText.empty() && key.lastCipherText == cipherText) {
        block = common::SecureBytes(key.lastRawBlock.data(), key.lastRawBlock.size());
    } else {
        DWORD error = ERROR_SUCCESS;
        if (!rawRsaDecrypt(privateKey, cipherText, block, error)) return error;
    }
    common::SecureBytes message;
    bool padded = (flags & CRYPT_OAEP) != 0 ? removeOaepPadding(block, message)
                                            : removePkcs1Padding(block, message);
    key.lastCipherText = std::move(cipherText);
    key.lastRawBlock = std::move(block);
    if (!padded) {
        // Like real providers, a failed attempt leaves the buffer and the length changed.
        std::memset(data, 0, *length);
        *length = 0;
        return NTE_BAD_DATA;
    }
    std::memcpy(data, message.data(), message.size());
    *length = static_cast<DWORD>(message.size());
    return ERROR_SUCCESS;
}

// CRYPT_DECRYPT_RSA_NO_PADDING_CHECK: the block as the private-key operation leaves it, the
// padding left for the caller, in CryptoAPI's byte order as the input was.
DWORD rawInPlace(EVP_PKEY* privateKey, BYTE* data, DWORD length) {
    std::vector<BYTE> input(data, data + length);
    std::reverse(input.begin(), input.end());
    common::SecureBytes block;
    DWORD error = ERROR_SUCCESS;
    if (!rawRsaDecrypt(privateKey, input, block, error)) return error;
    std::reverse_copy(block.data(), block.data() + block.size(), data);
    return ERROR_SUCCESS;
}

// What a key's blob names it: a DSS key signs; an RSA key is its container's signature key or,
// as CRYPT32 imports a certificate's key, a key-exchange key.
ALG_ID blobAlgorithm(const SoftKey& key) {
    if (EVP_PKEY_is_a(key.publicKey.get(), "DSA") == 1) return CALG_DSS_SIGN;
    return key.keySpec == AT_SIGNATURE ? CALG_RSA_SIGN : CALG_RSA_KEYX;
}

}  // namespace

BOOL WINAPI CryptGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey) {
    return guardEntryPoint([&]() -> BOOL {
        std::shared_ptr<SoftProvider> provider = providerHandles().find(hProv);
        if (!provider) return failWith(badProviderHandle(hProv));
        if (phUserKey == nullptr) return failWith(ERROR_INVALID_PARAMETER);
        std::shared_ptr<const LoadedContainer> container = provider->loaded();
        if (!container) return failWith(NTE_BAD_KEYSET);
        const ContainerKey* stored = container->key(dwKeySpec);
        if (stored == nullptr) return failWith(NTE_NO_KEY);
        auto key = std::make_shared<SoftKey>();
        key->provider = std::move(provider);
        key->keySpec = dwKeySpec;
        key->publicKey = stored->publicKey;
        *phUserKey = keyHandles().add(std::move(key));
        return TRUE;
    });
}

BOOL WINAPI CryptSetKeyParam(HCRYPTKEY hKey, DWORD dwParam, CONST BYTE* pbData, DWORD dwFlags) {
    return guardEntryPoint([&]() -> BOOL {
        std::shared_ptr<SoftKey> key = keyHandles().find(hKey);
        if (!key) return failWith(ERROR_INVALID_PARAMETER);
        if (dwParam != KP_MODE && dwParam != KP_PADDING) return failWith(NTE_BAD_TYPE);
        if (pbData == nullptr) return failWith(ERROR_INVALID_PARAMETER);
        DWORD value = 0;
        std::memcpy(&value, pbData, sizeof(value));
        // RSA has no chaining mode and pads per operation; the values are checked, then moot.
        bool known = dwParam == KP_MODE ? value >= CRYPT_MODE_CBC && value <= kLastCipherMode
                                        : value == PKCS5_PADDING;
        return known ? TRUE : failWith(NTE_BAD_DATA);
    });
}

BOOL WINAPI CryptDecrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL Final, DWORD dwFlags,
                         BYTE* pbData, DWORD* pdwDataLen) {
    return guardEntryPoint([&]() -> BOOL {
        std::shared_ptr<SoftKey> key = keyHandles().find(hKey);
        if (!key) return failWith(ERROR_INVALID_PARAMETER);
        if (hHash != 0) return failWith(NTE_BAD_HASH);
        const bool raw = dwFlags == CRYPT_DECRYPT_RSA_NO_PADDING_CHECK;
        if (!raw && (dwFlags & ~static_cast<DWORD>(CRYPT_OAEP)) != 0) return failWith(NTE_BAD_FLAGS);
        if (raw && !key->provider->info->rawRsaDecryption) return failWith(NTE_BAD_FLAGS);
        if (pdwDataLen == nullptr || (pbData == nullptr && *pdwDataLen != 0))
            return failWith(ERROR_INVALID_PARAMETER);
        // Only an RSA key-exchange key decrypts.
        if (key->provider->info->family != KeyFamily::Rsa || key->keySpec != AT_KEYEXCHANGE)
            return failWith(NTE_BAD_KEY);
        DWORD error = ERROR_SUCCESS;
        SharedKey privateKey = key->provider->privateKey(key->keySpec, error);
        if (!privateKey) return failWith(error);
        if (*pdwDataLen != static_cast<DWORD>(EVP_PKEY_get_size(privateKey.get())))
            return failWith(NTE_BAD_DATA);
        OpenSslErrorScope scope;
        error = raw ? rawInPlace(privateKey.get(), pbData, *pdwDataLen)
                    : decryptInPlace(*key, privateKey.get(), dwFlags, pbData, pdwDataLen);
        return error == ERROR_SUCCESS ? TRUE : failWith(error);
    });
}

BOOL WINAPI CryptExportKey(HCRYPTKEY hKey, HCRYPTKEY hExpKey, DWORD dwBlobType, DWORD dwFlags,
                           BYTE* pbData, DWORD* pdwDataLen) {
    return guardEntryPoint([&]() -> BOOL {
        std::shared_ptr<SoftKey> key = keyHandles().find(hKey);
        if (!key || pdwDataLen == nullptr) return failWith(ERROR_INVALID_PARAMETER);
        // The private key leaves only a handle CRYPT_EXPORTABLE made; the key store keeps keys as
        // made without it.
        if (dwBlobType == PRIVATEKEYBLOB && !key->exportablePrivateKey)
            return failWith(NTE_BAD_KEY_STATE);
        if (dwBlobType != PUBLICKEYBLOB && dwBlobType != PRIVATEKEYBLOB) return failWith(NTE_BAD_TYPE);
        // No blob is encrypted for another key.
        if (hExpKey != 0) return failWith(NTE_BAD_KEY);
        if (dwFlags != 0) return failWith(NTE_BAD_FLAGS);
        OpenSslErrorScope scope;
        common::SecureBytes blob;
        if (dwBlobType == PRIVATEKEYBLOB) {
            blob = capiPrivateKeyBlob(key->exportablePrivateKey.get(), blobAlgorithm(*key));
        } else {
            std::vector<BYTE> publicBlob = capiPublicKeyBlob(key->publicKey.get(), blobAlgorithm(*key));
            blob = common::SecureBytes(publicBlob.data(), publicBlob.size());
        }
        if (blob.empty()) return failWith(windowsErrorForOpenSsl(NTE_BAD_KEY));
        const DWORD size = static_cast<DWORD>(blob.size());
        const bool fits = pbData == nullptr || *pdwDataLen >= size;
        if (pbData != nullptr && fits) std::memcpy(pbData, blob.data(), size);
        *pdwDataLen = size;
        return fits ? TRUE : failWith(ERROR_MORE_DATA);
    });
}

BOOL WINAPI CryptDestroyKey(HCRYPTKEY hKey) {
    return guardEntryPoint([&]() -> BOOL {
        if (!keyHandles().remove(hKey)) return failWith(ERROR_INVALID_PARAMETER);
        return TRUE;
    });
}
