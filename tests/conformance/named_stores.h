// System stores a test makes by a name no run has used (Wine keeps stores and containers in its
// prefix), and their removal however the test ends.
#pragma once

#include <random>
#include <string>
#include <vector>

#include "conformance/conformance_test.h"

inline std::string uniqueName(const std::string& prefix) {
    std::random_device random;
    return prefix + std::to_string(random()) + std::to_string(random());
}

inline HCERTSTORE openAt(DWORD location, const std::string& name, DWORD flags = 0) {
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, location | flags, name.c_str());
}

// Wine writes a registry store's deletions only when it is committed; Windows keeps them at
// once, and takes the commit as a no-op.
inline void keepDeletions(HCERTSTORE store) {
#ifdef _WIN32
    CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
#else
    static_cast<void>(store);
#endif
}

// Empties a store the test made, whatever the test did before it failed.
class StoreCleanup {
public:
    StoreCleanup(DWORD location, std::string name) : location_(location), name_(std::move(name)) {}
    ~StoreCleanup() {
        ScopedStore store{openAt(location_, name_)};
        if (!store.valid()) return;
        std::vector<PCCERT_CONTEXT> doomed;
        PCCERT_CONTEXT context = nullptr;
        while ((context = CertEnumCertificatesInStore(store.get(), context)) != nullptr)
            doomed.push_back(CertDuplicateCertificateContext(context));
        for (PCCERT_CONTEXT certificate : doomed) CertDeleteCertificateFromStore(certificate);
        keepDeletions(store.get());
    }
    StoreCleanup(const StoreCleanup&) = delete;
    StoreCleanup& operator=(const StoreCleanup&) = delete;

private:
    DWORD location_;
    std::string name_;
};
