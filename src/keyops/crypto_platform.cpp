#include "keyops/crypto_platform.h"

#include <atomic>

namespace {

const CryptoPlatform kDefaultPlatform = {
    &::CertOpenStore,
    &::CertOpenSystemStoreA,
    &::CertEnumCertificatesInStore,
    &::CertGetCertificateContextProperty,
    &::CertAddEncodedCertificateToSystemStoreA,
    &::CertDeleteCertificateFromStore,
    &::CertDuplicateCertificateContext,
    &::CertFreeCertificateContext,
    &::CertCloseStore,
    &::CryptSetProvParam,
    &::CryptAcquireContextA,
    &::CryptGetProvParam,
    &::CryptCreateHash,
    &::CryptHashData,
    &::CryptSetHashParam,
    &::CryptGetHashParam,
    &::CryptDestroyHash,
    &::CryptSignHashA,
    &::CryptImportPublicKeyInfo,
    &::CryptVerifySignatureA,
    &::CryptGetUserKey,
    &::CryptSetKeyParam,
    &::CryptDecrypt,
    &::CryptDestroyKey,
    &::CryptReleaseContext,
    &::GetForegroundWindow,
    &::GetLastError,
};

std::atomic<const CryptoPlatform*> gCurrent{&kDefaultPlatform};

}  // namespace

const CryptoPlatform& defaultCryptoPlatform() {
    return kDefaultPlatform;
}

const CryptoPlatform& cryptoPlatform() {
    return *gCurrent.load(std::memory_order_acquire);
}

const CryptoPlatform* installCryptoPlatform(const CryptoPlatform* table) {
    return gCurrent.exchange(table != nullptr ? table : &kDefaultPlatform,
                             std::memory_order_acq_rel);
}
