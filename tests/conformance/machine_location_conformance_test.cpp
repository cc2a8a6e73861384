// The local machine's location: its system stores apart from the current user's, certificates
// added through a store handle by their disposition, and key containers of the machine's key set.
#include <cstring>

#include "conformance/named_stores.h"

namespace {

const DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

Bytes encodingOf(PCCERT_CONTEXT context) {
    return Bytes(context->pbCertEncoded, context->pbCertEncoded + context->cbCertEncoded);
}

using MachineStores = ConformanceTest;
using MachineKeys = ConformanceTest;

TEST_F(MachineStores, AddEnumerateAndDeleteApartFromTheUsers) {
    const std::string name = uniqueName("QdieMachine");
    StoreCleanup cleanup(CERT_SYSTEM_STORE_LOCAL_MACHINE, name);
    const Bytes certificate = fixture_->createCertificate("Machine Store");
    {
        ScopedStore machine{openAt(CERT_SYSTEM_STORE_LOCAL_MACHINE, name)};
        ASSERT_TRUE(machine.valid()) << std::hex << GetLastError();
        PCCERT_CONTEXT added = nullptr;
        ASSERT_TRUE(CertAddEncodedCertificateToStore(machine.get(), kEncoding, certificate.data(),
                                                     static_cast<DWORD>(certificate.size()),
                                                     CERT_STORE_ADD_NEW, &added))
            << std::hex << GetLastError();
        ASSERT_NE(added, nullptr);
        EXPECT_EQ(encodingOf(added), certificate);
        EXPECT_TRUE(CertFreeCertificateContext(added));
    }
    ScopedStore machine{openAt(CERT_SYSTEM_STORE_LOCAL_MACHINE, name, CERT_STORE_READONLY_FLAG)};
    ASSERT_TRUE(machine.valid()) << std::hex << GetLastError();
    EXPECT_EQ(enumerateStore(machine.get()), std::vector<Bytes>{certificate});
    ScopedStore user{openAt(CERT_SYSTEM_STORE_CURRENT_USER, name, CERT_STORE_READONLY_FLAG)};
    ASSERT_TRUE(user.valid()) << std::hex << GetLastError();
    const std::vector<Bytes> usersView = enumerateStore(user.get());

    {
        ScopedStore writable{openAt(CERT_SYSTEM_STORE_LOCAL_MACHINE, name)};
        PCCERT_CONTEXT context = CertEnumCertificatesInStore(writable.get(), nullptr);
        ASSERT_NE(context, nullptr);
        EXPECT_TRUE(CertDeleteCertificateFromStore(context)) << std::hex << GetLastError();
        keepDeletions(writable.get());
    }
    ScopedStore after{openAt(CERT_SYSTEM_STORE_LOCAL_MACHINE, name, CERT_STORE_READONLY_FLAG)};
    EXPECT_TRUE(enumerateStore(after.get()).empty());
    if (usersView == std::vector<Bytes>{certificate} && runningUnderWine())
        GTEST_SKIP() << "Wine: every current-user system store shows the machine's store of the "
                        "same name beneath it; Windows layers only Root and its kind";
    EXPECT_TRUE(usersView.empty());
}

TEST_F(MachineStores, AnAdditionFollowsItsDisposition) {
    const std::string name = uniqueName("QdieMachine");
    StoreCleanup cleanup(CERT_SYSTEM_STORE_LOCAL_MACHINE, name);
    const Bytes certificate = fixture_->createCertificate("Disposition");
    const auto add = [&](HCERTSTORE store, const Bytes& encoded, DWORD disposition,
                         PCCERT_CONTEXT* context = nullptr) {
        SetLastError(kUnsetError);
        return CertAddEncodedCertificateToStore(store, kEncoding, encoded.data(),
                                                static_cast<DWORD>(encoded.size()), disposition,
                                                context);
    };
    {
        // Closed before it is opened again: Wine writes a registry store's additions then.
        ScopedStore store{openAt(CERT_SYSTEM_STORE_LOCAL_MACHINE, name)};
        ASSERT_TRUE(store.valid()) << std::hex << GetLastError();
        ASSERT_TRUE(add(store.get(), certificate, CERT_STORE_ADD_NEW)) << std::hex << GetLastError();
        EXPECT_FALSE(add(store.get(), certificate, CERT_STORE_ADD_NEW));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_EXISTS));
        PCCERT_CONTEXT existing = nullptr;
        EXPECT_TRUE(add(store.get(), certificate, CERT_STORE_ADD_USE_EXISTING, &existing));
        ASSERT_NE(existing, nullptr);
        EXPECT_EQ(encodingOf(existing), certificate);
        CertFreeCertificateContext(existing);
        EXPECT_TRUE(add(store.get(), certificate, CERT_STORE_ADD_REPLACE_EXISTING))
            << std::hex << GetLastError();

        const Bytes garbage = {0x01, 0x02, 0x03, 0x04};
        EXPECT_FALSE(add(store.get(), garbage, CERT_STORE_ADD_NEW));
        EXPECT_NE(GetLastError(), kUnsetError);
        Bytes truncated = certificate;
        truncated.resize(truncated.size() / 2);
        EXPECT_FALSE(add(store.get(), truncated, CERT_STORE_ADD_NEW));
        EXPECT_NE(GetLastError(), kUnsetError);
    }

    ScopedStore reopened{openAt(CERT_SYSTEM_STORE_LOCAL_MACHINE, name, CERT_STORE_READONLY_FLAG)};
    const std::vector<Bytes> kept = enumerateStore(reopened.get());
    if (kept.empty() && runningUnderWine())
        GTEST_SKIP() << "Wine: a registry store asked to add a certificate it holds already "
                        "(CERT_STORE_ADD_NEW refused with CRYPT_E_EXISTS) loses it when closed";
    EXPECT_EQ(kept, std::vector<Bytes>{certificate});
    const Bytes another = fixture_->createCertificate("Read Only");
    EXPECT_FALSE(add(reopened.get(), another, CERT_STORE_ADD_NEW));
    const DWORD readOnlyError = GetLastError();
    ScopedStore last{openAt(CERT_SYSTEM_STORE_LOCAL_MACHINE, name, CERT_STORE_READONLY_FLAG)};
    EXPECT_EQ(enumerateStore(last.get()), std::vector<Bytes>{certificate});
    if (readOnlyError == ERROR_ACCESS_DENIED && runningUnderWine())
        GTEST_SKIP() << "Wine: a read-only store refuses an addition with ERROR_ACCESS_DENIED, "
                        "where Windows gives E_ACCESSDENIED";
    EXPECT_EQ(readOnlyError, static_cast<DWORD>(E_ACCESSDENIED));
}

TEST_F(MachineKeys, AMachineKeyIsFoundInTheMachineKeySetOnly) {
    IdentityRequest request;
    request.key = FixtureKey::Rsa1024;
    request.machine = true;
    const std::string unsupported = fixture_->unsupportedReason(request);
    if (!unsupported.empty()) GTEST_SKIP() << unsupported;
    const TestIdentity identity = fixture_->createIdentity(request);

    ScopedProvider machine;
    ASSERT_TRUE(CryptAcquireContextA(machine.put(), identity.container.c_str(),
                                     identity.provider.c_str(), identity.providerType,
                                     CRYPT_MACHINE_KEYSET))
        << std::hex << GetLastError();
    DWORD keySet = 0;
    DWORD size = sizeof(keySet);
    EXPECT_TRUE(CryptGetProvParam(machine.get(), PP_KEYSET_TYPE, reinterpret_cast<BYTE*>(&keySet),
                                  &size, 0));
    EXPECT_EQ(keySet, static_cast<DWORD>(CRYPT_MACHINE_KEYSET));

    ScopedProvider user;
    SetLastError(kUnsetError);
    EXPECT_FALSE(CryptAcquireContextA(user.put(), identity.container.c_str(),
                                      identity.provider.c_str(), identity.providerType, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_KEYSET));

    // Its certificate, in the machine's My, names the machine's key set and opens its key there.
    ScopedStore store{openAt(CERT_SYSTEM_STORE_LOCAL_MACHINE, "My", CERT_STORE_READONLY_FLAG)};
    ASSERT_TRUE(store.valid()) << std::hex << GetLastError();
    ScopedCertContext context{keyops::walkCertificates(store.get(), [&](PCCERT_CONTEXT candidate) {
        return keyops::hasEncoding(candidate, identity.certificate.data(),
                                   static_cast<DWORD>(identity.certificate.size()));
    })};
    ASSERT_TRUE(context.valid()) << "the certificate is not in the machine's My";
    size = 0;
    ASSERT_TRUE(CertGetCertificateContextProperty(context.get(), CERT_KEY_PROV_INFO_PROP_ID, nullptr,
                                                  &size));
    std::vector<BYTE> info(size);
    ASSERT_TRUE(CertGetCertificateContextProperty(context.get(), CERT_KEY_PROV_INFO_PROP_ID,
                                                  info.data(), &size));
    EXPECT_EQ(reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(info.data())->dwFlags,
              static_cast<DWORD>(CRYPT_MACHINE_KEYSET));
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE key = 0;
    DWORD keySpec = 0;
    BOOL callerFrees = FALSE;
    SetLastError(kUnsetError);
    const BOOL acquired =
        CryptAcquireCertificatePrivateKey(context.get(), 0, nullptr, &key, &keySpec, &callerFrees);
    if (!acquired && GetLastError() == static_cast<DWORD>(CRYPT_E_NO_KEY_PROPERTY) &&
        runningUnderWine())
        GTEST_SKIP() << "Wine: CryptAcquireCertificatePrivateKey answers CRYPT_E_NO_KEY_PROPERTY "
                        "for a certificate whose property names the machine's key set; Windows "
                        "opens the key there";
    ASSERT_TRUE(acquired) << std::hex << GetLastError();
    ScopedProvider certificateKey{key};
    keySet = 0;
    size = sizeof(keySet);
    EXPECT_TRUE(CryptGetProvParam(certificateKey.get(), PP_KEYSET_TYPE,
                                  reinterpret_cast<BYTE*>(&keySet), &size, 0));
    EXPECT_EQ(keySet, static_cast<DWORD>(CRYPT_MACHINE_KEYSET));
}

}  // namespace
