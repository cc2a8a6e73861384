#include "support/keystore_caches.h"

namespace {

const char kScratchStore[] = "CacheScratch";

}  // namespace

void forgetKeystoreCaches(const Bytes& scratch) {
    CertAddEncodedCertificateToSystemStoreA(kScratchStore, scratch.data(),
                                            static_cast<DWORD>(scratch.size()));
    // The open finds the file changed and lets go of everything read before.
    HCERTSTORE store = CertOpenSystemStoreA(0, kScratchStore);
    CertDeleteCertificateFromStore(CertEnumCertificatesInStore(store, nullptr));
    CertCloseStore(store, 0);
}
