#include "keyops/signature_check.h"

#include "keyops/handles.h"

namespace keyops {

bool signatureVerifies(const CryptoPlatform& platform, HCRYPTPROV provider, HCRYPTHASH hash,
                       PCCERT_CONTEXT certificate, const BYTE* signature, DWORD length,
                       DWORD& error) {
    ScopedKey publicKey;
    if (!platform.CryptImportPublicKeyInfo(provider, X509_ASN_ENCODING,
                                           &certificate->pCertInfo->SubjectPublicKeyInfo,
                                           publicKey.put()) ||
        !platform.CryptVerifySignatureA(hash, signature, length, publicKey.get(), nullptr, 0)) {
        error = platform.GetLastError();
        return false;
    }
    return true;
}

bool cngSignatureVerifies(const CryptoPlatform& platform, PCCERT_CONTEXT certificate,
                          void* paddingInfo, DWORD flags, const BYTE* hash, DWORD hashLength,
                          const BYTE* signature, DWORD length, DWORD& error) {
    ScopedBcryptKey publicKey;
    if (!platform.CryptImportPublicKeyInfoEx2(X509_ASN_ENCODING,
                                              &certificate->pCertInfo->SubjectPublicKeyInfo, 0,
                                              nullptr, publicKey.put())) {
        error = platform.GetLastError();
        return false;
    }
    // BCrypt reads the hash and the signature only.
    NTSTATUS status = platform.BCryptVerifySignature(publicKey.get(), paddingInfo,
                                                     const_cast<PUCHAR>(hash), hashLength,
                                                     const_cast<PUCHAR>(signature), length, flags);
    error = static_cast<DWORD>(status);
    return status == 0;
}

}  // namespace keyops
