// Store maintenance: listing order and the "MY" filter, additions and deletions, what is and is
// not recorded, and every acquisition released.
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "keyops/system_stores.h"
#include "support/host.h"
#include "unit/keyops_test_support.h"

using namespace diagnostics;
using namespace keyops;

namespace {

using SystemStores = KeyopsTest;

// The store's certificates in the order the platform enumerates them: insertion order in the
// software key store, thumbprint order in registry-backed ones.
CertificateList enumerated(const char* store) {
    CertificateList encodings;
    HCERTSTORE handle = CertOpenSystemStoreA(0, store);
    for (PCCERT_CONTEXT context = nullptr;
         (context = CertEnumCertificatesInStore(handle, context)) != nullptr;)
        encodings.emplace_back(context->pbCertEncoded, context->pbCertEncoded + context->cbCertEncoded);
    CertCloseStore(handle, 0);
    return encodings;
}

CertificateList sorted(CertificateList list) {
    std::sort(list.begin(), list.end());
    return list;
}

const uint32_t kEarlierStatus = kStatusSignatureFailed;

// The core's routines as the natives call them: a context of their own, its outcome then left in
// the status words.
CertificateList listCertificates(const char* store) {
    CallContext context(diagnostics::LogSink::none());
    CertificateList list = keyops::listCertificates(context, store);
    recordInStatusWords(context.outcome);
    return list;
}

StoreChange addCertificate(const char* store, const BYTE* encoding, DWORD length) {
    CallContext context(diagnostics::LogSink::none());
    StoreChange change = keyops::addCertificate(context, store, encoding, length);
    recordInStatusWords(context.outcome);
    return change;
}

StoreChange deleteCertificate(const char* store, const BYTE* encoding, DWORD length) {
    CallContext context(diagnostics::LogSink::none());
    StoreChange change = keyops::deleteCertificate(context, store, encoding, length);
    recordInStatusWords(context.outcome);
    return change;
}

TEST_F(SystemStores, ListRunsInTheReverseOfTheEnumerationOrder) {
    Bytes a = fixture_->createCertificate("A");
    Bytes b = fixture_->createCertificate("B");
    Bytes c = fixture_->createCertificate("C");
    FaultInjectingPlatform platform;
    for (const Bytes& certificate : {a, b, c})
        addCertificate("Qdie", certificate.data(), static_cast<DWORD>(certificate.size()));
    CertificateList order = enumerated("Qdie");
    ASSERT_EQ(sorted(order), sorted({a, b, c}));
    EXPECT_EQ(listCertificates("Qdie"), CertificateList(order.rbegin(), order.rend()));
    EXPECT_ALL_RELEASED(platform);
}

TEST_F(SystemStores, UpperCaseMyListsOnlyCertificatesWithAKey) {
    TestIdentity withKey = makeIdentity();
    Bytes withoutKey = fixture_->createCertificate("NoKey");
    addCertificate("My", withoutKey.data(), static_cast<DWORD>(withoutKey.size()));
    FaultInjectingPlatform platform;
    EXPECT_EQ(listCertificates("MY"), (CertificateList{withKey.certificate}));
    EXPECT_EQ(sorted(listCertificates("My")), sorted({withoutKey, withKey.certificate}));
    EXPECT_EQ(sorted(listCertificates("my")), sorted({withoutKey, withKey.certificate}));
    EXPECT_ALL_RELEASED(platform);
}

TEST_F(SystemStores, StoreThatCannotBeOpenedIsStatus7AndNothingElse) {
    Bytes certificate = fixture_->createCertificate("Any");
    FaultInjectingPlatform platform;
    platform.failCall(PlatformOp::CertOpenSystemStoreA, 1, 0x80070057);
    platform.failCall(PlatformOp::CertOpenSystemStoreA, 2, 0x80070057);
    platform.failCall(PlatformOp::CertOpenSystemStoreA, 3, 0x80070057);
    EXPECT_TRUE(listCertificates("Qdie").empty());
    EXPECT_EQ(lastStatus(), kStatusStoreNotOpened);
    recordStatus(kEarlierStatus);
    addCertificate("Qdie", certificate.data(), static_cast<DWORD>(certificate.size()));
    EXPECT_EQ(lastStatus(), kStatusStoreNotOpened);
    recordStatus(kEarlierStatus);
    deleteCertificate("Qdie", certificate.data(), static_cast<DWORD>(certificate.size()));
    EXPECT_EQ(lastStatus(), kStatusStoreNotOpened);
    EXPECT_EQ(platform.calls(PlatformOp::CertAddEncodedCertificateToSystemStoreA), 0);
    EXPECT_ALL_RELEASED(platform);
}

TEST_F(SystemStores, SuccessesAndRefusalsLeaveTheEarlierStatus) {
    Bytes kept = fixture_->createCertificate("Kept");
    Bytes other = fixture_->createCertificate("Other");
    const BYTE malformed[] = {0x30, 0x03, 0x01, 0x02, 0x03};
    recordStatus(kEarlierStatus);
    FaultInjectingPlatform platform;
    addCertificate("Qdie", kept.data(), static_cast<DWORD>(kept.size()));
    addCertificate("Qdie", malformed, sizeof(malformed));
    deleteCertificate("Qdie", other.data(), static_cast<DWORD>(other.size()));
    EXPECT_EQ(listCertificates("Qdie"), (CertificateList{kept}));
    EXPECT_EQ(lastStatus(), kEarlierStatus);
    EXPECT_ALL_RELEASED(platform);
}

TEST_F(SystemStores, DeleteRemovesTheCertificateWithThatEncoding) {
    Bytes first = fixture_->createCertificate("First");
    Bytes second = fixture_->createCertificate("Second");
    for (const Bytes& certificate : {first, second})
        addCertificate("Qdie", certificate.data(), static_cast<DWORD>(certificate.size()));
    FaultInjectingPlatform platform;
    Bytes truncated(second.begin(), second.end() - 1);
    deleteCertificate("Qdie", truncated.data(), static_cast<DWORD>(truncated.size()));
    EXPECT_EQ(sorted(listCertificates("Qdie")), sorted({first, second}));
    deleteCertificate("Qdie", second.data(), static_cast<DWORD>(second.size()));
    CertificateList left = listCertificates("Qdie");
    if (left.size() == 2 && runningUnderWine())
        GTEST_SKIP() << "Wine: a deletion from a store opened with CertOpenSystemStoreA is lost "
                        "unless the store is committed before it is closed; Windows keeps it";
    EXPECT_EQ(left, (CertificateList{first}));
    EXPECT_ALL_RELEASED(platform);
}

TEST_F(SystemStores, NeitherLogNorTrimTheLog) {
    Bytes certificate = fixture_->createCertificate("Quiet");
    {
        std::ofstream big(profile_.logPath(), std::ios::binary);
        big << std::string(600000, 'x');
    }
    addCertificate("Qdie", certificate.data(), static_cast<DWORD>(certificate.size()));
    listCertificates("Qdie");
    deleteCertificate("Qdie", certificate.data(), static_cast<DWORD>(certificate.size()));
    EXPECT_EQ(std::filesystem::file_size(profile_.logPath()), 600000u);
}

TEST_F(SystemStores, EveryPlatformCallFailingInTurnReleasesEverything) {
    Bytes a = fixture_->createCertificate("A");
    Bytes b = fixture_->createCertificate("B");
    for (const Bytes& certificate : {a, b})
        addCertificate("Qdie", certificate.data(), static_cast<DWORD>(certificate.size()));
    auto operations = [&] {
        listCertificates("Qdie");
        listCertificates("MY");
        addCertificate("Qdie", a.data(), static_cast<DWORD>(a.size()));
        deleteCertificate("Qdie", b.data(), static_cast<DWORD>(b.size()));
    };
    int calls = 0;
    {
        TempProfile scratch;
        std::unique_ptr<CryptoFixture> fixture = makeCryptoFixture();
        for (const Bytes& certificate : {a, b})
            addCertificate("Qdie", certificate.data(), static_cast<DWORD>(certificate.size()));
        FaultInjectingPlatform platform;
        operations();
        calls = platform.failableCalls();
    }
    for (int nth = 1; nth <= calls; ++nth) {
        SCOPED_TRACE(nth);
        FaultInjectingPlatform platform;
        platform.failOverallCall(nth, 0x80090020);
        operations();
        EXPECT_ALL_RELEASED(platform);
    }
}

}  // namespace
