// BCrypt's side of CNG as the library uses it: CNG's signatures checked with a certificate's
// public key (imported by CryptImportPublicKeyInfoEx2), the key's public blob, and the key
// destroyed.
#include <cstring>

#include "softcapi/crypto/cng_schemes.h"
#include "softcapi/crypto/public_key_blobs.h"
#include "softcapi/shim/crypt_objects.h"
#include "softcapi/shim/entry_guard.h"
#include "softcapi/shim/last_error.h"

using namespace softcapi;

namespace {

NTSTATUS verifyEc(EVP_PKEY* key, const void* paddingInfo, ULONG flags, const BYTE* hash,
                  ULONG hashSize, const BYTE* signature, ULONG size) {
    if (paddingInfo != nullptr || flags != 0) return STATUS_INVALID_PARAMETER;
    if (size != cngSignatureSize(key)) return STATUS_INVALID_SIGNATURE;
    std::vector<BYTE> der = ecdsaToDer(signature, size);
    PkeyCtxPtr context(EVP_PKEY_CTX_new(key, nullptr));
    if (der.empty() || !context || EVP_PKEY_verify_init(context.get()) != 1) return STATUS_NO_MEMORY;
    return EVP_PKEY_verify(context.get(), der.data(), der.size(), hash, hashSize) == 1
               ? STATUS_SUCCESS
               : STATUS_INVALID_SIGNATURE;
}

NTSTATUS verifyRsa(EVP_PKEY* key, const void* paddingInfo, ULONG flags, const BYTE* hash,
                   ULONG hashSize, const BYTE* signature, ULONG size) {
    PkeyCtxPtr context;
    DWORD error = cngRsaContext(key, paddingInfo, flags, hashSize, false, context);
    if (error == static_cast<DWORD>(NTE_NOT_SUPPORTED)) return STATUS_NOT_SUPPORTED;
    if (error != ERROR_SUCCESS) return STATUS_INVALID_PARAMETER;
    if (size != cngSignatureSize(key)) return STATUS_INVALID_SIGNATURE;
    return EVP_PKEY_verify(context.get(), signature, size, hash, hashSize) == 1
               ? STATUS_SUCCESS
               : STATUS_INVALID_SIGNATURE;
}

}  // namespace

NTSTATUS WINAPI BCryptVerifySignature(BCRYPT_KEY_HANDLE hKey, void* pPaddingInfo, PUCHAR pbHash,
                                      ULONG cbHash, PUCHAR pbSignature, ULONG cbSignature,
                                      ULONG dwFlags) {
    try {
        std::shared_ptr<SoftNcryptObject> key =
            bcryptKeyHandles().find(reinterpret_cast<ULONG_PTR>(hKey));
        if (!key) return STATUS_INVALID_HANDLE;
        if (pbHash == nullptr || pbSignature == nullptr) return STATUS_INVALID_PARAMETER;
        OpenSslErrorScope scope;
        EVP_PKEY* publicKey = key->publicKey.get();
        return isEcKey(publicKey)
                   ? verifyEc(publicKey, pPaddingInfo, dwFlags, pbHash, cbHash, pbSignature, cbSignature)
                   : verifyRsa(publicKey, pPaddingInfo, dwFlags, pbHash, cbHash, pbSignature, cbSignature);
    } catch (...) {
        return STATUS_NO_MEMORY;
    }
}

NTSTATUS WINAPI BCryptExportKey(BCRYPT_KEY_HANDLE hKey, BCRYPT_KEY_HANDLE hExportKey,
                                LPCWSTR pszBlobType, PUCHAR pbOutput, ULONG cbOutput,
                                ULONG* pcbResult, ULONG dwFlags) {
    try {
        std::shared_ptr<SoftNcryptObject> key =
            bcryptKeyHandles().find(reinterpret_cast<ULONG_PTR>(hKey));
        if (!key) return STATUS_INVALID_HANDLE;
        // A public key has only public blobs, never encrypted; BCrypt answers any other request so.
        if (pszBlobType == nullptr || pcbResult == nullptr || hExportKey != nullptr || dwFlags != 0 ||
            !cngPublicBlobFits(key->publicKey.get(), pszBlobType))
            return STATUS_INVALID_PARAMETER;
        OpenSslErrorScope scope;
        std::vector<BYTE> blob = cngPublicKeyBlob(key->publicKey.get());
        if (blob.empty()) return STATUS_NO_MEMORY;
        *pcbResult = static_cast<ULONG>(blob.size());
        if (pbOutput == nullptr) return STATUS_SUCCESS;
        if (cbOutput < blob.size()) return STATUS_BUFFER_TOO_SMALL;
        std::memcpy(pbOutput, blob.data(), blob.size());
        return STATUS_SUCCESS;
    } catch (...) {
        return STATUS_NO_MEMORY;
    }
}

NTSTATUS WINAPI BCryptDestroyKey(BCRYPT_KEY_HANDLE hKey) {
    try {
        return bcryptKeyHandles().remove(reinterpret_cast<ULONG_PTR>(hKey)) ? STATUS_SUCCESS
                                                                            : STATUS_INVALID_HANDLE;
    } catch (...) {
        return STATUS_NO_MEMORY;
    }
}
