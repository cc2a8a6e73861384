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

}  // namespace keyops
