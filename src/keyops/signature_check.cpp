#include "keyops/signature_check.h"

#include "keyops/handles.h"

bool signatureVerifies(HCRYPTPROV provider, HCRYPTHASH hash, PCCERT_CONTEXT certificate,
                       const BYTE* signature, DWORD length, DWORD& error) {
    const CryptoPlatform& platform = cryptoPlatform();
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
