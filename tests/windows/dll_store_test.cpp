// The DLL's QDIECAKeyStore natives over a named system store: listing, adding and deleting
// through the exports, and the byte[][] the listing builds.
#include <windows.h>

#include <algorithm>

#include "support/host.h"
#include "windows/dll_test.h"

namespace {

const char kStore[] = "QdieDll";

// The store's certificates in the order CryptoAPI enumerates them: by thumbprint in Wine's
// registry stores, whatever Windows' own order is there.
std::vector<Bytes> enumerated(const char* store) {
    std::vector<Bytes> encodings;
    HCERTSTORE handle = CertOpenSystemStoreA(0, store);
    for (PCCERT_CONTEXT context = nullptr; (context = CertEnumCertificatesInStore(handle, context)) != nullptr;)
        encodings.emplace_back(context->pbCertEncoded, context->pbCertEncoded + context->cbCertEncoded);
    CertCloseStore(handle, 0);
    return encodings;
}

std::vector<Bytes> sorted(std::vector<Bytes> list) {
    std::sort(list.begin(), list.end());
    return list;
}

class DllStores : public DllTest {
protected:
    std::vector<Bytes> list(const char* store) {
        return jni_.elementsOf(jni_.call(natives().getCertificatesInIESystemStore, jni_.newString(store)));
    }
    void add(const char* store, const Bytes& certificate) {
        jni_.call(natives().addCertificateInIESystemStore, jni_.newString(store), javaBytes(certificate));
    }
    void remove(const char* store, const Bytes& certificate) {
        jni_.call(natives().deleteCertificateInIESystemStore, jni_.newString(store), javaBytes(certificate));
    }
};

TEST_F(DllStores, AddListAndDeleteInANamedStore) {
    const Bytes a = fixture_->createCertificate("A");
    const Bytes b = fixture_->createCertificate("B");
    const Bytes c = fixture_->createCertificate("C");
    EXPECT_TRUE(list(kStore).empty());
    for (const Bytes& certificate : {a, b, c}) add(kStore, certificate);

    const std::vector<Bytes> order = enumerated(kStore);
    ASSERT_EQ(sorted(order), sorted({a, b, c}));
    EXPECT_EQ(list(kStore), std::vector<Bytes>(order.rbegin(), order.rend()));

    // Store maintenance neither logs nor forwards anything.
    EXPECT_TRUE(forwarded().empty());
    EXPECT_FALSE(fileExists(profile_.logPath()));

    remove(kStore, b);
    const std::vector<Bytes> left = sorted(list(kStore));
    if (left == sorted({a, b, c}) && runningUnderWine())
        GTEST_SKIP() << "Wine: a deletion from a store opened with CertOpenSystemStoreA is lost "
                        "unless the store is committed before it is closed; Windows keeps it";
    EXPECT_EQ(left, sorted({a, c}));
}

TEST_F(DllStores, UpperCaseMyListsOnlyCertificatesWithAKey) {
    const TestIdentity withKey = makeIdentity();
    const Bytes withoutKey = fixture_->createCertificate("NoKey");
    add("My", withoutKey);
    EXPECT_EQ(list("MY"), std::vector<Bytes>{withKey.certificate});
    EXPECT_EQ(sorted(list("My")), sorted({withKey.certificate, withoutKey}));
}

TEST_F(DllStores, MaintenanceLeavesTheStatusOfTheCallBefore) {
    const TestIdentity identity = makeIdentity();
    Bytes plainText;
    EXPECT_FALSE(read(jni_.call(natives().decrypt, javaBytes(identity.certificate), javaBytes(Bytes(128, 0))),
                      plainText));
    ASSERT_EQ(lastError(), kDecryptionFailed);
    const Bytes certificate = fixture_->createCertificate("Kept");
    add(kStore, certificate);
    EXPECT_EQ(list(kStore), std::vector<Bytes>{certificate});
    remove(kStore, certificate);
    EXPECT_EQ(lastError(), kDecryptionFailed);
}

}  // namespace
