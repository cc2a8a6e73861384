// CNG's key storage over the key store: the one key storage provider, its keys and their
// properties, their public blobs, and signing and decryption with them, most significant byte
// first as CNG writes.
#include <openssl/crypto.h>
#include <openssl/ec.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cstring>

#include "softcapi/crypto/cng_schemes.h"
#include "softcapi/crypto/public_key_blobs.h"
#include "softcapi/ncrypt/key_drafts.h"
#include "softcapi/ncrypt/keys.h"
#include "softcapi/shim/entry_guard.h"
#include "softcapi/shim/text_encoding.h"

using namespace softcapi;

namespace {

const DWORD kSilent = NCRYPT_SILENT_FLAG;

SECURITY_STATUS fail(DWORD error) {
    return static_cast<SECURITY_STATUS>(error);
}

// The two-call protocol of CNG: no buffer asks for the size; a short one is refused.
SECURITY_STATUS answer(const void* value, DWORD size, PBYTE out, DWORD outSize, DWORD* result) {
    *result = size;
    if (out == nullptr) return ERROR_SUCCESS;
    if (outSize < size) return fail(NTE_BUFFER_TOO_SMALL);
    std::memcpy(out, value, size);
    return ERROR_SUCCESS;
}

SECURITY_STATUS answerText(const std::u16string& text, PBYTE out, DWORD outSize, DWORD* result) {
    return answer(text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(char16_t)), out,
                  outSize, result);
}

DWORD keyBits(EVP_PKEY* key) {
    return static_cast<DWORD>(EVP_PKEY_get_bits(key));
}

std::u16string algorithmName(EVP_PKEY* key) {
    if (!isEcKey(key)) return u"RSA";
    switch (keyBits(key)) {
        case 256: return u"ECDSA_P256";
        case 384: return u"ECDSA_P384";
        default: return u"ECDSA_P521";
    }
}

DWORD signRsa(EVP_PKEY* key, const void* paddingInfo, DWORD padding, const BYTE* hash,
              DWORD hashSize, BYTE* out, DWORD size) {
    if (padding != BCRYPT_PAD_PKCS1 && padding != BCRYPT_PAD_PSS) return NTE_INVALID_PARAMETER;
    PkeyCtxPtr context;
    DWORD error = cngRsaContext(key, paddingInfo, padding, hashSize, true, context);
    if (error != ERROR_SUCCESS) return error;
    size_t length = size;
    if (EVP_PKEY_sign(context.get(), out, &length, hash, hashSize) != 1 || length != size)
        return windowsErrorForOpenSsl(NTE_INVALID_PARAMETER);
    return ERROR_SUCCESS;
}

// ECDSA over the hash as given (a longer one is cut to the order's length, as ECDSA says), written
// as r then s.
DWORD signEc(EVP_PKEY* key, const void* paddingInfo, DWORD padding, const BYTE* hash,
             DWORD hashSize, BYTE* out, DWORD size) {
    if (paddingInfo != nullptr || padding != 0) return NTE_INVALID_PARAMETER;
    PkeyCtxPtr context(EVP_PKEY_CTX_new(key, nullptr));
    if (!context || EVP_PKEY_sign_init(context.get()) != 1) return windowsErrorForOpenSsl(NTE_FAIL);
    std::vector<BYTE> der(static_cast<size_t>(EVP_PKEY_get_size(key)));
    size_t length = der.size();
    if (EVP_PKEY_sign(context.get(), der.data(), &length, hash, hashSize) != 1)
        return windowsErrorForOpenSsl(NTE_FAIL);
    return ecdsaFromDer(der.data(), length, out, size) ? ERROR_SUCCESS
                                                       : windowsErrorForOpenSsl(NTE_FAIL);
}

DWORD decryptRsa(EVP_PKEY* key, const void* paddingInfo, DWORD padding, const BYTE* in,
                 DWORD inSize, common::SecureBytes& plainText) {
    if (padding != NCRYPT_PAD_PKCS1_FLAG && padding != NCRYPT_PAD_OAEP_FLAG)
        return NTE_INVALID_PARAMETER;
    if (inSize != static_cast<DWORD>(EVP_PKEY_get_size(key))) return NTE_BAD_DATA;
    PkeyCtxPtr context(EVP_PKEY_CTX_new(key, nullptr));
    if (!context || EVP_PKEY_decrypt_init(context.get()) != 1) return windowsErrorForOpenSsl(NTE_FAIL);
    if (padding == NCRYPT_PAD_PKCS1_FLAG) {
        if (EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) != 1)
            return windowsErrorForOpenSsl(NTE_FAIL);
    } else {
        auto* info = static_cast<const BCRYPT_OAEP_PADDING_INFO*>(paddingInfo);
        if (info == nullptr) return NTE_INVALID_PARAMETER;
        const EVP_MD* digest = digestNamed(info->pszAlgId);
        if (digest == nullptr) return NTE_NOT_SUPPORTED;
        if (EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_OAEP_PADDING) != 1 ||
            EVP_PKEY_CTX_set_rsa_oaep_md(context.get(), digest) != 1 ||
            EVP_PKEY_CTX_set_rsa_mgf1_md(context.get(), digest) != 1)
            return windowsErrorForOpenSsl(NTE_FAIL);
        if (info->cbLabel != 0) {
            if (info->pbLabel == nullptr) return NTE_INVALID_PARAMETER;
            void* label = OPENSSL_memdup(info->pbLabel, info->cbLabel);
            if (label == nullptr) return NTE_NO_MEMORY;
            if (EVP_PKEY_CTX_set0_rsa_oaep_label(context.get(), label, static_cast<int>(info->cbLabel)) != 1) {
                OPENSSL_free(label);
                return windowsErrorForOpenSsl(NTE_FAIL);
            }
        }
    }
    common::SecureBytes out(inSize);
    size_t length = out.size();
    if (EVP_PKEY_decrypt(context.get(), out.data(), &length, in, inSize) != 1)
        return windowsErrorForOpenSsl(NTE_BAD_DATA);
    out.truncate(length);
    plainText = std::move(out);
    return ERROR_SUCCESS;
}

Location locationOf(DWORD flags) {
    return (flags & NCRYPT_MACHINE_KEY_FLAG) != 0 ? Location::LocalMachine : Location::CurrentUser;
}

// A finished key; null with NTE_BAD_KEY_STATE for one not yet finalized, NTE_INVALID_HANDLE for
// anything else.
std::shared_ptr<SoftNcryptObject> findKey(NCRYPT_KEY_HANDLE handle, DWORD& error) {
    std::shared_ptr<SoftNcryptObject> key = ncryptHandles().find(handle);
    if (key && key->publicKey) return key;
    error = key && key->draft ? NTE_BAD_KEY_STATE : NTE_INVALID_HANDLE;
    return nullptr;
}

// The algorithm's properties of a key not yet finalized, as it will be.
SECURITY_STATUS draftProperty(KeyDraft& draft, const std::u16string& property, PBYTE out,
                              DWORD outSize, DWORD* result) {
    const bool rsa = draft.algorithm == NCRYPT_RSA_ALGORITHM;
    if (property == NCRYPT_ALGORITHM_GROUP_PROPERTY)
        return answerText(rsa ? NCRYPT_RSA_ALGORITHM_GROUP : NCRYPT_ECDSA_ALGORITHM_GROUP, out,
                          outSize, result);
    if (property == NCRYPT_ALGORITHM_PROPERTY) return answerText(draft.algorithm, out, outSize, result);
    if (property == NCRYPT_LENGTH_PROPERTY) {
        DWORD bits = 0;
        {
            std::lock_guard<std::mutex> lock(draft.mutex);
            bits = draft.imported ? keyBits(draft.imported.get()) : draft.bits;
        }
        if (!rsa && !draft.imported) bits = draft.algorithm == NCRYPT_ECDSA_P256_ALGORITHM ? 256
                                            : draft.algorithm == NCRYPT_ECDSA_P384_ALGORITHM ? 384
                                                                                             : 521;
        return answer(&bits, sizeof(bits), out, outSize, result);
    }
    return fail(NTE_NOT_SUPPORTED);
}

}  // namespace

SECURITY_STATUS WINAPI NCryptOpenStorageProvider(NCRYPT_PROV_HANDLE* phProvider,
                                                 LPCWSTR pszProviderName, DWORD dwFlags) {
    return guardStatusEntryPoint([&]() -> SECURITY_STATUS {
        if (phProvider == nullptr) return fail(NTE_INVALID_PARAMETER);
        if ((dwFlags & ~static_cast<DWORD>(NCRYPT_MACHINE_KEY_FLAG)) != 0) return fail(NTE_BAD_FLAGS);
        if (pszProviderName != nullptr &&
            !isKeyStorageProvider(utf16ToUtf8(std::u16string(pszProviderName))))
            return fail(NTE_KEYSET_NOT_DEF);
        *phProvider = ncryptHandles().add(ncryptStorageProvider(locationOf(dwFlags)));
        return ERROR_SUCCESS;
    });
}

SECURITY_STATUS WINAPI NCryptOpenKey(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE* phKey,
                                     LPCWSTR pszKeyName, DWORD dwLegacyKeySpec, DWORD dwFlags) {
    return guardStatusEntryPoint([&]() -> SECURITY_STATUS {
        std::shared_ptr<SoftNcryptObject> provider = ncryptHandles().find(hProvider);
        if (!provider || provider->isKey()) return fail(NTE_INVALID_HANDLE);
        if (phKey == nullptr || pszKeyName == nullptr || dwLegacyKeySpec > AT_SIGNATURE)
            return fail(NTE_INVALID_PARAMETER);
        if ((dwFlags & ~(kSilent | NCRYPT_MACHINE_KEY_FLAG)) != 0) return fail(NTE_BAD_FLAGS);
        // A provider opened for the machine opens only the machine's keys, never a user's key
        // of the same name.
        const Location location = provider->location == Location::LocalMachine
                                      ? Location::LocalMachine
                                      : locationOf(dwFlags);
        DWORD error = ERROR_SUCCESS;
        std::shared_ptr<SoftNcryptObject> key =
            storedNcryptKey(location, utf16ToUtf8(std::u16string(pszKeyName)), error);
        if (!key) return fail(error);
        *phKey = ncryptHandles().add(std::move(key));
        return ERROR_SUCCESS;
    });
}

SECURITY_STATUS WINAPI NCryptGetProperty(NCRYPT_HANDLE hObject, LPCWSTR pszProperty,
                                         PBYTE pbOutput, DWORD cbOutput, DWORD* pcbResult,
                                         DWORD dwFlags) {
    return guardStatusEntryPoint([&]() -> SECURITY_STATUS {
        std::shared_ptr<SoftNcryptObject> object = ncryptHandles().find(hObject);
        if (!object) return fail(NTE_INVALID_HANDLE);
        if (pszProperty == nullptr || pcbResult == nullptr) return fail(NTE_INVALID_PARAMETER);
        if ((dwFlags & ~kSilent) != 0) return fail(NTE_BAD_FLAGS);
        std::u16string property(pszProperty);
        if (property == NCRYPT_NAME_PROPERTY)
            return answerText(utf8ToUtf16(object->name), pbOutput, cbOutput, pcbResult);
        if (!object->isKey()) return fail(NTE_NOT_SUPPORTED);
        if (property == NCRYPT_KEY_TYPE_PROPERTY) {
            const DWORD type = object->location == Location::LocalMachine ? NCRYPT_MACHINE_KEY_FLAG : 0;
            return answer(&type, sizeof(type), pbOutput, cbOutput, pcbResult);
        }
        if (object->draft) return draftProperty(*object->draft, property, pbOutput, cbOutput, pcbResult);
        EVP_PKEY* key = object->publicKey.get();
        if (property == NCRYPT_ALGORITHM_GROUP_PROPERTY)
            return answerText(isEcKey(key) ? NCRYPT_ECDSA_ALGORITHM_GROUP : NCRYPT_RSA_ALGORITHM_GROUP,
                              pbOutput, cbOutput, pcbResult);
        if (property == NCRYPT_ALGORITHM_PROPERTY)
            return answerText(algorithmName(key), pbOutput, cbOutput, pcbResult);
        if (property == NCRYPT_LENGTH_PROPERTY) {
            DWORD bits = keyBits(key);
            return answer(&bits, sizeof(bits), pbOutput, cbOutput, pcbResult);
        }
        return fail(NTE_NOT_SUPPORTED);
    });
}

SECURITY_STATUS WINAPI NCryptSetProperty(NCRYPT_HANDLE hObject, LPCWSTR pszProperty,
                                         PBYTE pbInput, DWORD cbInput, DWORD dwFlags) {
    return guardStatusEntryPoint([&]() -> SECURITY_STATUS {
        std::shared_ptr<SoftNcryptObject> object = ncryptHandles().find(hObject);
        if (!object) return fail(NTE_INVALID_HANDLE);
        if (pszProperty == nullptr || (pbInput == nullptr && cbInput != 0))
            return fail(NTE_INVALID_PARAMETER);
        if ((dwFlags & ~kSilent) != 0) return fail(NTE_BAD_FLAGS);
        if (!object->isKey()) return fail(NTE_NOT_SUPPORTED);
        const std::u16string property(pszProperty);
        if (object->draft) return fail(setDraftProperty(*object->draft, property, pbInput, cbInput));
        if (property != NCRYPT_PIN_PROPERTY) return fail(NTE_NOT_SUPPORTED);
        common::SecureBytes pin;
        if (!pinFromProperty(pbInput, cbInput, pin)) return fail(NTE_INVALID_PARAMETER);
        return fail(object->setPin(reinterpret_cast<const char*>(pin.data()), pin.size()));
    });
}

SECURITY_STATUS WINAPI NCryptSignHash(NCRYPT_KEY_HANDLE hKey, void* pPaddingInfo,
                                      PBYTE pbHashValue, DWORD cbHashValue, PBYTE pbSignature,
                                      DWORD cbSignature, DWORD* pcbResult, DWORD dwFlags) {
    return guardStatusEntryPoint([&]() -> SECURITY_STATUS {
        DWORD missing = ERROR_SUCCESS;
        std::shared_ptr<SoftNcryptObject> key = findKey(hKey, missing);
        if (!key) return fail(missing);
        if (pcbResult == nullptr || pbHashValue == nullptr || cbHashValue == 0)
            return fail(NTE_INVALID_PARAMETER);
        DWORD padding = dwFlags & ~kSilent;
        if ((padding & ~static_cast<DWORD>(BCRYPT_PAD_PKCS1 | BCRYPT_PAD_PSS)) != 0)
            return fail(NTE_BAD_FLAGS);
        DWORD size = cngSignatureSize(key->publicKey.get());
        *pcbResult = size;
        if (pbSignature == nullptr) return ERROR_SUCCESS;
        if (cbSignature < size) return fail(NTE_BUFFER_TOO_SMALL);
        DWORD error = ERROR_SUCCESS;
        SharedKey unlocked = key->privateKey(error);
        if (!unlocked) return fail(error);
        EVP_PKEY* privateKey = unlocked.get();
        OpenSslErrorScope scope;
        error = isEcKey(privateKey)
                          ? signEc(privateKey, pPaddingInfo, padding, pbHashValue, cbHashValue,
                                   pbSignature, size)
                          : signRsa(privateKey, pPaddingInfo, padding, pbHashValue, cbHashValue,
                                    pbSignature, size);
        return fail(error);
    });
}

SECURITY_STATUS WINAPI NCryptDecrypt(NCRYPT_KEY_HANDLE hKey, PBYTE pbInput, DWORD cbInput,
                                     void* pPaddingInfo, PBYTE pbOutput, DWORD cbOutput,
                                     DWORD* pcbResult, DWORD dwFlags) {
    return guardStatusEntryPoint([&]() -> SECURITY_STATUS {
        DWORD missing = ERROR_SUCCESS;
        std::shared_ptr<SoftNcryptObject> key = findKey(hKey, missing);
        if (!key) return fail(missing);
        if (pcbResult == nullptr || (pbInput == nullptr && cbInput != 0))
            return fail(NTE_INVALID_PARAMETER);
        if (isEcKey(key->publicKey.get())) return fail(NTE_NOT_SUPPORTED);
        DWORD padding = dwFlags & ~kSilent;
        if (pbOutput == nullptr) {
            // The most a block can hold, before the padding is known to be right.
            *pcbResult = static_cast<DWORD>(EVP_PKEY_get_size(key->publicKey.get()));
            return padding == NCRYPT_PAD_PKCS1_FLAG || padding == NCRYPT_PAD_OAEP_FLAG
                       ? ERROR_SUCCESS
                       : fail(NTE_INVALID_PARAMETER);
        }
        DWORD error = ERROR_SUCCESS;
        SharedKey unlocked = key->privateKey(error);
        if (!unlocked) return fail(error);
        EVP_PKEY* privateKey = unlocked.get();
        OpenSslErrorScope scope;
        common::SecureBytes plainText;
        error = decryptRsa(privateKey, pPaddingInfo, padding, pbInput, cbInput, plainText);
        if (error != ERROR_SUCCESS) return fail(error);
        return answer(plainText.data(), static_cast<DWORD>(plainText.size()), pbOutput, cbOutput,
                      pcbResult);
    });
}

SECURITY_STATUS WINAPI NCryptExportKey(NCRYPT_KEY_HANDLE hKey, NCRYPT_KEY_HANDLE hExportKey,
                                       LPCWSTR pszBlobType, NCryptBufferDesc* pParameterList,
                                       PBYTE pbOutput, DWORD cbOutput, DWORD* pcbResult,
                                       DWORD dwFlags) {
    return guardStatusEntryPoint([&]() -> SECURITY_STATUS {
        DWORD missing = ERROR_SUCCESS;
        std::shared_ptr<SoftNcryptObject> key = findKey(hKey, missing);
        if (!key) return fail(missing);
        if (pszBlobType == nullptr || pcbResult == nullptr) return fail(NTE_INVALID_PARAMETER);
        if ((dwFlags & ~kSilent) != 0) return fail(NTE_BAD_FLAGS);
        // Only public blobs leave: there is nothing to encrypt them for, nor to describe.
        if (hExportKey != 0 || pParameterList != nullptr) return fail(NTE_NOT_SUPPORTED);
        EVP_PKEY* publicKey = key->publicKey.get();
        if (!cngPublicBlobFits(publicKey, pszBlobType)) return fail(NTE_BAD_TYPE);
        OpenSslErrorScope scope;
        std::vector<BYTE> blob = cngPublicKeyBlob(publicKey);
        if (blob.empty()) return fail(windowsErrorForOpenSsl(NTE_FAIL));
        return answer(blob.data(), static_cast<DWORD>(blob.size()), pbOutput, cbOutput, pcbResult);
    });
}

SECURITY_STATUS WINAPI NCryptFreeObject(NCRYPT_HANDLE hObject) {
    return guardStatusEntryPoint([&]() -> SECURITY_STATUS {
        return ncryptHandles().remove(hObject) ? ERROR_SUCCESS : fail(NTE_INVALID_HANDLE);
    });
}

SECURITY_STATUS WINAPI NCryptTranslateHandle(NCRYPT_PROV_HANDLE* phProvider,
                                             NCRYPT_KEY_HANDLE* phKey, HCRYPTPROV hLegacyProv,
                                             HCRYPTKEY hLegacyKey, DWORD dwLegacyKeySpec,
                                             DWORD dwFlags) {
    return guardStatusEntryPoint([&]() -> SECURITY_STATUS {
        if (phProvider == nullptr || phKey == nullptr) return fail(NTE_INVALID_PARAMETER);
        if (dwFlags != 0) return fail(NTE_BAD_FLAGS);
        std::shared_ptr<SoftProvider> provider = providerHandles().find(hLegacyProv);
        if (!provider) return fail(NTE_INVALID_HANDLE);
        DWORD keySpec = dwLegacyKeySpec;
        if (hLegacyKey != 0) {
            std::shared_ptr<SoftKey> legacyKey = keyHandles().find(hLegacyKey);
            if (!legacyKey || legacyKey->provider != provider) return fail(NTE_INVALID_HANDLE);
            keySpec = legacyKey->keySpec;
        }
        if (keySpec != AT_KEYEXCHANGE && keySpec != AT_SIGNATURE) return fail(NTE_INVALID_PARAMETER);
        DWORD error = ERROR_SUCCESS;
        std::shared_ptr<SoftNcryptObject> key = translatedNcryptKey(*provider, keySpec, error);
        if (!key) return fail(error);
        std::shared_ptr<SoftNcryptObject> storage = ncryptStorageProvider(provider->location);
        NCRYPT_KEY_HANDLE keyHandle = ncryptHandles().add(std::move(key));
        try {
            *phProvider = ncryptHandles().add(std::move(storage));
        } catch (...) {
            ncryptHandles().remove(keyHandle);
            throw;
        }
        *phKey = keyHandle;
        return ERROR_SUCCESS;
    });
}
