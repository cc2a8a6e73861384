// A stored certificate bound to a key container with CertSetCertificateContextProperty: the
// binding is kept, opens the container through CryptAcquireCertificatePrivateKey, can be taken
// away again, and is refused through a read-only store; in both locations.
#include "conformance/key_creation_test_support.h"

namespace {

using CertificateBinding = ConformanceTest;

const DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
const DWORD kLocations[] = {CERT_SYSTEM_STORE_CURRENT_USER, CERT_SYSTEM_STORE_LOCAL_MACHINE};

// The store's first certificate, for the caller to free.
PCCERT_CONTEXT firstOf(HCERTSTORE store) {
    return CertEnumCertificatesInStore(store, nullptr);
}

TEST_F(CertificateBinding, ABoundCertificateOpensItsContainerUntilUnbound) {
    bool readOnlyTaken = false;
    bool machineKeyUnopened = false;
    for (DWORD location : kLocations) {
        const DWORD keySet = location == CERT_SYSTEM_STORE_LOCAL_MACHINE ? CRYPT_MACHINE_KEYSET : 0;
        std::string container = uniqueName("QdieBound");
        ContainerCleanup containerCleanup(container, keySet);
        std::vector<BYTE> publicKeyInfo;
        {
            ScopedProvider provider;
            ScopedKey key;
            ASSERT_TRUE(CryptAcquireContextA(provider.put(), container.c_str(), kAesProvider,
                                             PROV_RSA_AES, CRYPT_NEWKEYSET | keySet));
            ASSERT_TRUE(CryptGenKey(provider.get(), AT_KEYEXCHANGE, 2048u << 16, key.put()));
            publicKeyInfo = exportPublicKeyInfo(provider.get(), AT_KEYEXCHANGE);
        }
        const std::string storeName = uniqueName("QdieBinding");
        StoreCleanup storeCleanup(location, storeName);
        const Bytes certificate = fixture_->createCertificate("Bound Later");
        WideString wideContainer = wide(container);
        WideString provider = wide(kAesProvider);
        CRYPT_KEY_PROV_INFO info{};
        info.pwszContainerName = wideContainer.data();
        info.pwszProvName = provider.data();
        info.dwProvType = PROV_RSA_AES;
        info.dwFlags = keySet;
        info.dwKeySpec = AT_KEYEXCHANGE;
        {
            ScopedStore store{openAt(location, storeName)};
            ASSERT_TRUE(store.valid()) << std::hex << GetLastError();
            ScopedCertContext added;
            ASSERT_TRUE(CertAddEncodedCertificateToStore(store.get(), kEncoding, certificate.data(),
                                                         static_cast<DWORD>(certificate.size()),
                                                         CERT_STORE_ADD_NEW, added.put()));
            SetLastError(kUnsetError);
            ASSERT_TRUE(CertSetCertificateContextProperty(added.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &info))
                << std::hex << GetLastError();
            ScopedProvider acquired;
            DWORD keySpec = 0;
            BOOL callerFrees = FALSE;
            SetLastError(kUnsetError);
            const BOOL opened = CryptAcquireCertificatePrivateKey(added.get(), 0, nullptr,
                                                                  acquired.put(), &keySpec, &callerFrees);
            if (!opened && keySet != 0 && runningUnderWine() &&
                GetLastError() == static_cast<DWORD>(CRYPT_E_NO_KEY_PROPERTY)) {
                machineKeyUnopened = true;
                continue;
            }
            ASSERT_TRUE(opened) << std::hex << GetLastError();
            EXPECT_EQ(keySpec, static_cast<DWORD>(AT_KEYEXCHANGE));
            EXPECT_TRUE(signsForPublicKeyInfo(acquired.get(), keySpec, publicKeyInfo));
        }
        {
            // Kept: the store opened again shows the binding, with the location's key set.
            ScopedStore store{openAt(location, storeName)};
            ScopedCertContext stored{firstOf(store.get())};
            ASSERT_TRUE(stored.valid());
            DWORD size = 0;
            ASSERT_TRUE(CertGetCertificateContextProperty(stored.get(), CERT_KEY_PROV_INFO_PROP_ID,
                                                          nullptr, &size));
            std::vector<BYTE> read(size);
            ASSERT_TRUE(CertGetCertificateContextProperty(stored.get(), CERT_KEY_PROV_INFO_PROP_ID,
                                                          read.data(), &size));
            const auto* bound = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(read.data());
            EXPECT_EQ(WideString(bound->pwszContainerName), wideContainer);
            EXPECT_EQ(bound->dwFlags, keySet);

            ASSERT_TRUE(CertSetCertificateContextProperty(stored.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, nullptr))
                << std::hex << GetLastError();
            ScopedProvider none;
            DWORD keySpec = 0;
            BOOL callerFrees = FALSE;
            SetLastError(kUnsetError);
            EXPECT_FALSE(CryptAcquireCertificatePrivateKey(stored.get(), 0, nullptr, none.put(),
                                                           &keySpec, &callerFrees));
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_NO_KEY_PROPERTY));
        }
        ScopedStore readOnly{openAt(location, storeName, CERT_STORE_READONLY_FLAG)};
        ScopedCertContext context{firstOf(readOnly.get())};
        ASSERT_TRUE(context.valid());
        SetLastError(kUnsetError);
        const BOOL set = CertSetCertificateContextProperty(context.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &info);
        if (set && runningUnderWine()) {
            readOnlyTaken = true;
            continue;
        }
        EXPECT_FALSE(set);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_ACCESSDENIED));
    }
    if (machineKeyUnopened)
        GTEST_SKIP() << "Wine: CryptAcquireCertificatePrivateKey answers CRYPT_E_NO_KEY_PROPERTY "
                        "for a certificate whose property names the machine's key set; Windows "
                        "opens the key there";
    if (readOnlyTaken)
        GTEST_SKIP() << "Wine: a read-only store takes a property and keeps it in memory; "
                        "Windows refuses it with E_ACCESSDENIED";
}

}  // namespace
