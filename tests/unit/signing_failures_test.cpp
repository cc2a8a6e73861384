// Every point at which a signing can fail: its status, its log lines, its result, the provider
// error word, and every acquisition released.
#include "unit/keyops_test_support.h"

namespace {

const std::vector<std::string> kLookup = {
    "########## Sign (DigestAlgo: 00008004h)##########",
    "CertOpenStore success",
    "Certificate found.",
    "CertGetCertificateContextProperty# success",
    "CertGetCertificateContextProperty success",
    std::string("Provider: ") + kAesProvider,
    "Set CSP popup parent",
    "Enumerate algorithm",
    "CryptAcquireContext success",
    "CryptCreateHash success",
    "CryptHashData success",
    "Hash ready (AT_KEYEXCHANGE)",
    "CryptSignHash# success (AT_KEYEXCHANGE)",
    "CryptSignHash success",
};

// The first `count` lines of a good signing, then `rest`.
std::vector<std::string> firstLinesThen(size_t count, const std::vector<std::string>& rest) {
    return ::firstLinesThen(kLookup, count, rest);
}

const std::vector<std::string> kReleases = {"CryptDestroyHash success", "CryptRelaseContext success",
                                            "CertCloseStore success"};

std::vector<std::string> plus(std::vector<std::string> lines, const std::vector<std::string>& more) {
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

struct FailurePoint {
    const char* label;
    PlatformOp op;
    int nth;
    uint32_t status;
    std::vector<std::string> log;
    bool setsProviderError;
};

using SigningFailures = SigningTest;

TEST_F(SigningFailures, EachFailurePointRecordsItsStatusAndLogsItsLines) {
    TestIdentity identity = makeIdentity();
    const std::string close = "CertCloseStore success";
    const std::string release = "CryptRelaseContext success";
    const FailurePoint points[] = {
        {"store", PlatformOp::CertOpenStore, 1, kStatusStoreNotOpened,
         {kLookup[0], withError("CertOpenStore error: %x")}, false},
        {"enumeration", PlatformOp::CertEnumCertificatesInStore, 1, kStatusCertificateNotFound,
         {kLookup[0], kLookup[1], "Certificate not found", close}, false},
        {"property size", PlatformOp::CertGetCertificateContextProperty, 1,
         kStatusKeyProvInfoSizeUnknown,
         firstLinesThen(3, {withError("CertGetCertificateContextProperty# error: %x"), close}), false},
        {"property", PlatformOp::CertGetCertificateContextProperty, 2, kStatusKeyProvInfoUnreadable,
         firstLinesThen(4, {withError("CertGetCertificateContextProperty error: %x"), close}), false},
        {"acquisition", PlatformOp::CryptAcquireContextA, 1, kStatusNoKeyContainer,
         firstLinesThen(7, {withError("CryptAcquire Context error: %x"), close}), false},
        {"hash creation", PlatformOp::CryptCreateHash, 1, kStatusHashNotCreated,
         firstLinesThen(9, {withError("CryptCreateHash error: %x"), release, close}), false},
        {"hashing", PlatformOp::CryptHashData, 1, kStatusHashNotReady,
         firstLinesThen(10, kReleases), false},
        {"signing", PlatformOp::CryptSignHashA, 2, kStatusSignatureFailed,
         firstLinesThen(13, plus({withError("CryptSignHash error: %x")}, kReleases)), true},
        {"public key import", PlatformOp::CryptImportPublicKeyInfo, 1, kStatusSignatureFailed,
         firstLinesThen(14, plus({withError("CryptVerifySignature error: %x")}, kReleases)), true},
        {"verification", PlatformOp::CryptVerifySignatureA, 1, kStatusSignatureFailed,
         firstLinesThen(14, plus({withError("CryptVerifySignature error: %x")}, kReleases)), true},
        {"hash destruction", PlatformOp::CryptDestroyHash, 1, kStatusHashNotDestroyed,
         plus(kLookup, {withError("CryptDestroyHash error: %x"), release, close}), false},
        {"release", PlatformOp::CryptReleaseContext, 1, kStatusContextNotReleased,
         plus(kLookup, {"CryptDestroyHash success", withError("CryptRelaseContext error: %x"), close}),
         false},
        {"store close", PlatformOp::CertCloseStore, 1, kStatusStoreNotClosed,
         plus(kLookup, {"CryptDestroyHash success", release, withError("CertCloseStore error: %x")}),
         false},
    };
    for (const FailurePoint& point : points) {
        SCOPED_TRACE(point.label);
        recordProviderError(kUntouchedProviderError);
        int result;
        {
            FaultInjectingPlatform platform;
            platform.failCall(point.op, point.nth, kInjected);
            result = sign(identity.certificate);
            EXPECT_ALL_RELEASED(platform);
        }
        EXPECT_EQ(result, point.status == kStatusSuccess ? 0 : -1);
        EXPECT_EQ(signature_.empty(), point.status != kStatusSuccess);
        EXPECT_EQ(lastStatus(), point.status);
        EXPECT_EQ(providerError(), point.setsProviderError ? kInjected : kUntouchedProviderError);
        EXPECT_EQ(logWithoutAlgorithms(), point.log);
    }
}

TEST_F(SigningFailures, NoKeyForEitherSpecificationIsStatus13WithTheSecondError) {
    TestIdentity identity = makeIdentity();
    FaultInjectingPlatform platform;
    platform.failCall(PlatformOp::CryptSignHashA, 1, 0x80090001);
    platform.failCall(PlatformOp::CryptSignHashA, 2, kInjected);
    EXPECT_EQ(sign(identity.certificate), -1);
    EXPECT_EQ(lastStatus(), kStatusSignatureSizeUnknown);
    EXPECT_EQ(providerError(), kInjected);
    EXPECT_EQ(logWithoutAlgorithms(),
              firstLinesThen(12, plus({withError("CryptSignHash# error (AT_SIGNATURE): %x")}, kReleases)));
    EXPECT_ALL_RELEASED(platform);
}

TEST_F(SigningFailures, LaterReleaseFailuresReplaceEarlierCodes) {
    TestIdentity identity = makeIdentity();
    FaultInjectingPlatform platform;
    platform.failCall(PlatformOp::CryptDestroyHash, 1, kInjected);
    platform.failCall(PlatformOp::CryptReleaseContext, 1, kInjected);
    EXPECT_EQ(sign(identity.certificate), -1);
    EXPECT_EQ(lastStatus(), kStatusContextNotReleased);
    EXPECT_ALL_RELEASED(platform);
}

TEST_F(SigningFailures, StoreThatCannotBeClosedKeepsAnEarlierCode) {
    TestIdentity identity = makeIdentity();
    Bytes other = identity.certificate;
    other.back() ^= 0x01;
    FaultInjectingPlatform platform;
    platform.failCall(PlatformOp::CertCloseStore, 1, kInjected);
    EXPECT_EQ(sign(other), -1);
    EXPECT_EQ(lastStatus(), kStatusCertificateNotFound);
    EXPECT_EQ(log().back(), withError("CertCloseStore error: %x"));
    EXPECT_ALL_RELEASED(platform);
}

TEST_F(SigningFailures, ReleasesRunHashThenContextThenStore) {
    TestIdentity identity = makeIdentity();
    FaultInjectingPlatform platform;
    ASSERT_EQ(sign(identity.certificate), 0);
    std::vector<PlatformOp> releases;
    for (PlatformOp op : platform.callSequence()) {
        if (op == PlatformOp::CryptDestroyHash || op == PlatformOp::CryptReleaseContext ||
            op == PlatformOp::CertCloseStore)
            releases.push_back(op);
    }
    EXPECT_EQ(releases, (std::vector<PlatformOp>{PlatformOp::CryptDestroyHash,
                                                 PlatformOp::CryptReleaseContext,
                                                 PlatformOp::CertCloseStore}));
    EXPECT_ALL_RELEASED(platform);
}

TEST_F(SigningFailures, CertificateDifferingInOneByteOrInLengthIsNotFound) {
    TestIdentity identity = makeIdentity();
    Bytes changed = identity.certificate;
    changed[changed.size() / 2] ^= 0x40;
    Bytes longer = identity.certificate;
    longer.push_back(0);
    for (const Bytes& certificate : {changed, longer, Bytes(identity.certificate.begin(),
                                                            identity.certificate.end() - 1)}) {
        FaultInjectingPlatform platform;
        EXPECT_EQ(sign(certificate), -1);
        EXPECT_EQ(lastStatus(), kStatusCertificateNotFound);
        EXPECT_EQ(log(), (std::vector<std::string>{kLookup[0], kLookup[1], "Certificate not found",
                                                   "CertCloseStore success"}));
        EXPECT_ALL_RELEASED(platform);
    }
}

TEST_F(SigningFailures, EveryPlatformCallFailingInTurnReleasesEverything) {
    TestIdentity identity = makeIdentity();
    int calls = 0;
    {
        FaultInjectingPlatform platform;
        ASSERT_EQ(sign(identity.certificate), 0);
        calls = platform.failableCalls();
    }
    for (int nth = 1; nth <= calls; ++nth) {
        SCOPED_TRACE(nth);
        FaultInjectingPlatform platform;
        platform.failOverallCall(nth, kInjected);
        int result = sign(identity.certificate);
        EXPECT_EQ(result == 0, lastStatus() == kStatusSuccess);
        EXPECT_EQ(result == 0, !signature_.empty());
        EXPECT_ALL_RELEASED(platform);
    }
}

}  // namespace
