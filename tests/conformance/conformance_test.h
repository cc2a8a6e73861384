// The base of every conformance test: a profile and fixture of its own, and the library's owners
// for the handles the tests open.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "keyops/certificate_walk.h"
#include "keyops/handles.h"
#include "support/crypto_fixture.h"
#include "support/host.h"
#include "support/temp_profile.h"

using keyops::ScopedCertContext;
using keyops::ScopedHash;
using keyops::ScopedKey;
using keyops::ScopedProvider;
using keyops::ScopedStore;

// Written into the last error before a call, to prove the call set it.
const DWORD kUnsetError = 0xdeadbeef;

class ConformanceTest : public ::testing::Test {
protected:
    void SetUp() override { fixture_ = makeCryptoFixture(); }
    void TearDown() override { fixture_.reset(); }

    TempProfile profile_;
    std::unique_ptr<CryptoFixture> fixture_;
};

// A DSS signature key of the DSS and Diffie-Hellman provider.
inline IdentityRequest dssSignatureKey() {
    IdentityRequest request;
    request.key = FixtureKey::Dsa1024;
    request.keySpec = AT_SIGNATURE;
    request.provider = kDssDhProvider;
    return request;
}

// Opens the identity's container as its key-provider property names it; fails the test if not.
inline void acquireIdentity(const TestIdentity& identity, ScopedProvider& provider) {
    ASSERT_TRUE(CryptAcquireContextA(provider.put(), identity.container.c_str(),
                                     identity.provider.c_str(), identity.providerType, 0))
        << std::hex << GetLastError();
}

// The identity's certificate as "My" gives it, with its decoded public key; the store stays open
// as long as the context is used.
struct StoredCertificate {
    ScopedStore store;
    ScopedCertContext context;
};

inline void findInMy(const Bytes& certificate, StoredCertificate& found) {
    found.store.reset(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                    CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG,
                                    u"My"));
    ASSERT_TRUE(found.store.valid());
    found.context = keyops::walkCertificates(found.store.get(), [&](PCCERT_CONTEXT context) {
        return keyops::hasEncoding(context, certificate.data(), static_cast<DWORD>(certificate.size()));
    });
    ASSERT_TRUE(found.context.valid()) << "the certificate is not in My";
}

// The certificate's public key imported into the provider, as the library imports it to verify.
inline void importKeyOf(HCRYPTPROV provider, const StoredCertificate& certificate, ScopedKey& key) {
    SetLastError(kUnsetError);
    ASSERT_TRUE(CryptImportPublicKeyInfo(provider, X509_ASN_ENCODING,
                                         &certificate.context.get()->pCertInfo->SubjectPublicKeyInfo,
                                         key.put()))
        << std::hex << GetLastError();
}

// The encodings a store enumerates, sorted: CryptoAPI promises no order (a registry-backed store
// lists as the registry enumerates its keys), and the library relies on none.
inline std::vector<Bytes> enumerateStore(HCERTSTORE store) {
    std::vector<Bytes> encodings;
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertEnumCertificatesInStore(store, context)) != nullptr)
        encodings.emplace_back(context->pbCertEncoded,
                               context->pbCertEncoded + context->cbCertEncoded);
    std::sort(encodings.begin(), encodings.end());
    return encodings;
}

inline std::vector<Bytes> sorted(std::vector<Bytes> encodings) {
    std::sort(encodings.begin(), encodings.end());
    return encodings;
}
