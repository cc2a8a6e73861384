// The software CryptoAPI when memory runs out: each entry point that allocates, with each of its
// allocations failing in turn, from empty caches. It must fail as CryptoAPI fails, with its
// failure value and NTE_NO_MEMORY as the last error, never with an exception, and the same call
// must succeed once memory is there again.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>

#include "softcapi/shim/entry_guard.h"
#include "support/crypto_fixture.h"
#include "support/failing_allocator.h"
#include "support/keystore_caches.h"
#include "support/temp_profile.h"

namespace {

const DWORD kUnsetError = 0xdeadbeef;
const char kPin[] = "4321";
const BYTE kData[] = {'o', 'o', 'm'};

class EntryPointsOutOfMemory : public ::testing::Test {
protected:
    // The entry point alone, with this run's allocation failure armed around it; the rest of a
    // scenario (what it needs first, what it releases after) allocates freely.
    bool armed(const std::function<bool()>& entryPoint) {
        SetLastError(kUnsetError);
        ArmedAllocations allocations(failAt_);
        bool succeeded = entryPoint();
        error_ = GetLastError();
        allocations_ = allocations.count();
        failed_ = allocations.failed();
        return succeeded;
    }

    // A scenario returns whether its armed entry point succeeded.
    void sweep(const char* name, const std::function<bool()>& scenario) {
        SCOPED_TRACE(name);
        // The first call fills what lives as long as the process; the second counts.
        for (int run = 0; run < 2; ++run) {
            forgetKeystoreCaches();
            ASSERT_TRUE(scenario());
        }
        const int points = allocations_;
        EXPECT_GT(points, 0);
        int clean = 0;
        for (int nth = 1; nth <= points; ++nth) {
            SCOPED_TRACE("allocation " + std::to_string(nth));
            forgetKeystoreCaches();
            failAt_ = nth;
            bool succeeded = scenario();
            failAt_ = 0;
            EXPECT_TRUE(failed_) << "the allocation to fail was never made";
            EXPECT_FALSE(succeeded);
            EXPECT_EQ(error_, static_cast<DWORD>(NTE_NO_MEMORY));
            bool failedRight =
                failed_ && !succeeded && error_ == static_cast<DWORD>(NTE_NO_MEMORY);
            bool recovered = scenario();
            EXPECT_TRUE(recovered) << "the same call without a failure";
            clean += failedRight && recovered;
        }
        std::printf("%s: %d allocation failure points, %d clean\n", name, points, clean);
    }

    // Acquires the identity's container, runs `use` on it, releases it.
    bool inContainer(const TestIdentity& identity, const std::function<bool(HCRYPTPROV)>& use) {
        HCRYPTPROV provider = 0;
        if (!CryptAcquireContextA(&provider, identity.container.c_str(), identity.provider.c_str(),
                                  identity.providerType, 0))
            return false;
        bool succeeded = use(provider);
        CryptReleaseContext(provider, 0);
        return succeeded;
    }

    // Creates a SHA-256 hash of kData in the provider, runs `use` on it, destroys it.
    bool withHash(HCRYPTPROV provider, const std::function<bool(HCRYPTHASH)>& use) {
        HCRYPTHASH hash = 0;
        if (!CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash)) return false;
        bool succeeded = CryptHashData(hash, kData, sizeof(kData), 0) && use(hash);
        CryptDestroyHash(hash);
        return succeeded;
    }

    // The first certificate of the personal store, given to `use`, then released.
    bool withPersonalCertificate(const std::function<bool(PCCERT_CONTEXT)>& use) {
        HCERTSTORE store = CertOpenSystemStoreA(0, "My");
        PCCERT_CONTEXT context = CertEnumCertificatesInStore(store, nullptr);
        bool succeeded = context != nullptr && use(context);
        CertFreeCertificateContext(context);
        CertCloseStore(store, 0);
        return succeeded;
    }

    TempProfile profile_;
    std::unique_ptr<CryptoFixture> fixture_ = makeCryptoFixture();
    TestIdentity identity_ = fixture_->createIdentity({});

private:
    int failAt_ = 0;
    int allocations_ = 0;
    bool failed_ = false;
    DWORD error_ = kUnsetError;
};

TEST_F(EntryPointsOutOfMemory, StoresFailWithNoMemory) {
    auto opened = [](HCERTSTORE store) {
        CertCloseStore(store, 0);
        return store != nullptr;
    };
    sweep("CertOpenSystemStoreA", [&] {
        HCERTSTORE store = nullptr;
        armed([&] { return (store = CertOpenSystemStoreA(0, "My")) != nullptr; });
        return opened(store);
    });
    sweep("CertOpenStore", [&] {
        HCERTSTORE store = nullptr;
        armed([&] {
            store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                  CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG, u"My");
            return store != nullptr;
        });
        return opened(store);
    });
    sweep("CertGetCertificateContextProperty", [&] {
        return withPersonalCertificate([&](PCCERT_CONTEXT certificate) {
            DWORD size = 0;
            return armed([&] {
                return CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID,
                                                         nullptr, &size) != FALSE;
            });
        });
    });
    Bytes added = fixture_->createCertificate("CN=Added");
    sweep("CertAddEncodedCertificateToSystemStoreA", [&] {
        return armed([&] {
            return CertAddEncodedCertificateToSystemStoreA("Added", added.data(),
                                                           static_cast<DWORD>(added.size())) !=
                   FALSE;
        });
    });
    sweep("CertDeleteCertificateFromStore", [&] {
        CertAddEncodedCertificateToSystemStoreA("Deleted", added.data(),
                                                static_cast<DWORD>(added.size()));
        HCERTSTORE store = CertOpenSystemStoreA(0, "Deleted");
        PCCERT_CONTEXT context = CertEnumCertificatesInStore(store, nullptr);
        bool deleted = armed([&] { return CertDeleteCertificateFromStore(context) != FALSE; });
        CertCloseStore(store, 0);
        return deleted;
    });
}

TEST_F(EntryPointsOutOfMemory, ProvidersHashesAndKeysFailWithNoMemory) {
    sweep("CryptAcquireContextA", [&] {
        HCRYPTPROV provider = 0;
        bool acquired = armed([&] {
            return CryptAcquireContextA(&provider, identity_.container.c_str(),
                                        identity_.provider.c_str(), identity_.providerType, 0) !=
                   FALSE;
        });
        if (acquired) CryptReleaseContext(provider, 0);
        return acquired;
    });
    sweep("CryptCreateHash", [&] {
        return inContainer(identity_, [&](HCRYPTPROV provider) {
            HCRYPTHASH hash = 0;
            bool created =
                armed([&] { return CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash) != FALSE; });
            if (created) CryptDestroyHash(hash);
            return created;
        });
    });
    sweep("CryptSignHashA", [&] {
        return inContainer(identity_, [&](HCRYPTPROV provider) {
            return withHash(provider, [&](HCRYPTHASH hash) {
                BYTE signature[512];
                DWORD length = sizeof(signature);
                return armed([&] {
                    return CryptSignHashA(hash, AT_KEYEXCHANGE, nullptr, 0, signature, &length) !=
                           FALSE;
                });
            });
        });
    });
    sweep("CryptImportPublicKeyInfo", [&] {
        return inContainer(identity_, [&](HCRYPTPROV provider) {
            return withPersonalCertificate([&](PCCERT_CONTEXT certificate) {
                HCRYPTKEY key = 0;
                bool imported = armed([&] {
                    return CryptImportPublicKeyInfo(provider, X509_ASN_ENCODING,
                                                    &certificate->pCertInfo->SubjectPublicKeyInfo,
                                                    &key) != FALSE;
                });
                if (imported) CryptDestroyKey(key);
                return imported;
            });
        });
    });
    sweep("CryptVerifySignatureA", [&] {
        return inContainer(identity_, [&](HCRYPTPROV provider) {
            return withHash(provider, [&](HCRYPTHASH hash) {
                BYTE signature[512];
                DWORD length = sizeof(signature);
                return CryptSignHashA(hash, AT_KEYEXCHANGE, nullptr, 0, signature, &length) &&
                       withPersonalCertificate([&](PCCERT_CONTEXT certificate) {
                           HCRYPTKEY key = 0;
                           if (!CryptImportPublicKeyInfo(
                                   provider, X509_ASN_ENCODING,
                                   &certificate->pCertInfo->SubjectPublicKeyInfo, &key))
                               return false;
                           bool verified = armed([&] {
                               return CryptVerifySignatureA(hash, signature, length, key, nullptr,
                                                            0) != FALSE;
                           });
                           CryptDestroyKey(key);
                           return verified;
                       });
            });
        });
    });
    sweep("CryptDecrypt", [&] {
        // Decrypted in place, so made anew for each call; CryptoAPI takes it backwards.
        Bytes cipherText =
            fixture_->encryptFor(identity_.certificate, {kData, kData + sizeof(kData)}, false);
        std::reverse(cipherText.begin(), cipherText.end());
        return inContainer(identity_, [&](HCRYPTPROV provider) {
            HCRYPTKEY key = 0;
            if (!CryptGetUserKey(provider, AT_KEYEXCHANGE, &key)) return false;
            DWORD length = static_cast<DWORD>(cipherText.size());
            bool decrypted = armed([&] {
                return CryptDecrypt(key, 0, TRUE, 0, cipherText.data(), &length) != FALSE;
            });
            CryptDestroyKey(key);
            return decrypted;
        });
    });
    IdentityRequest locked;
    locked.pin = kPin;
    TestIdentity pinned = fixture_->createIdentity(locked);
    sweep("CryptSetProvParam", [&] {
        return inContainer(pinned, [&](HCRYPTPROV provider) {
            return armed([&] {
                return CryptSetProvParam(provider, PP_SIGNATURE_PIN,
                                         reinterpret_cast<const BYTE*>(kPin), 0) != FALSE;
            });
        });
    });
}

TEST(EntryPointGuard, AnythingElseThrownIsUnexpected) {
    SetLastError(kUnsetError);
    EXPECT_EQ(softcapi::guardEntryPoint([]() -> BOOL { throw std::runtime_error("thrown"); }),
              FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_UNEXPECTED));
    SetLastError(kUnsetError);
    EXPECT_EQ(softcapi::guardEntryPoint([]() -> HCERTSTORE { throw 42; }), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_UNEXPECTED));
}

}  // namespace
