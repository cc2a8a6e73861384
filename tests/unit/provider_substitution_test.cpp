// Which provider a signing opens the container through: legacy names moved by key algorithm,
// other names kept, and the acquisition's fallbacks.
#include <cstring>
#include <mutex>

#include "support/host.h"
#include "unit/keyops_test_support.h"

using namespace diagnostics;
using namespace keyops;

namespace {


const char* const kLegacyRsaProviders[] = {
    "Microsoft Base Cryptographic Provider v1.0",
    "Microsoft Enhanced Cryptographic Provider v1.0",
    "Microsoft RSA SChannel Cryptographic Provider",
    "Microsoft Strong Cryptographic Provider",
};

const char kPrototypeProvider[] = "Microsoft Enhanced RSA and AES Cryptographic Provider (Prototype)";

// Whether the AES provider still answers to the name Windows XP gave it. Wine registers it;
// later Windows does not, so a retry through it fails there.
bool prototypeProviderKnown() {
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextA(&provider, nullptr, kPrototypeProvider, PROV_RSA_AES,
                              CRYPT_VERIFYCONTEXT))
        return false;
    CryptReleaseContext(provider, 0);
    return true;
}

struct Acquisition {
    std::string container;
    std::string provider;
    DWORD type;
};

// Records what every CryptAcquireContextA was asked, then lets the software CryptoAPI answer.
std::vector<Acquisition> gAcquisitions;

BOOL WINAPI recordingAcquire(HCRYPTPROV* provider, LPCSTR container, LPCSTR name, DWORD type,
                             DWORD flags) {
    gAcquisitions.push_back({container, name, type});
    return defaultCryptoPlatform().CryptAcquireContextA(provider, container, name, type, flags);
}

CryptoPlatform recordingPlatform() {
    CryptoPlatform platform = defaultCryptoPlatform();
    platform.CryptAcquireContextA = recordingAcquire;
    return platform;
}

class ProviderSubstitution : public SigningTest {
protected:
    void SetUp() override { gAcquisitions.clear(); }
    const CryptoPlatform recording_ = recordingPlatform();
};

TEST_F(ProviderSubstitution, LegacyRsaProvidersMoveToTheAesProviderWithRsa) {
    for (const char* legacy : kLegacyRsaProviders) {
        SCOPED_TRACE(legacy);
        IdentityRequest wanted = smallKey();
        wanted.provider = legacy;
        TestIdentity identity = makeIdentity(wanted);
        gAcquisitions.clear();
        FaultInjectingPlatform platform(recording_);
        SignRequest request;
        request.digestAlgorithm = CALG_SHA_256;
        ASSERT_EQ(sign(identity.certificate, request), 0) << lastStatus();
        ASSERT_EQ(gAcquisitions.size(), 1u);
        EXPECT_EQ(gAcquisitions[0].provider, kAesProvider);
        EXPECT_EQ(gAcquisitions[0].type, static_cast<DWORD>(PROV_RSA_AES));
        EXPECT_EQ(gAcquisitions[0].container, identity.container);
        std::vector<std::string> lines = log();
        auto provider = std::find(lines.begin(), lines.end(), std::string("Provider: ") + legacy);
        ASSERT_NE(provider, lines.end());
        EXPECT_EQ(*(provider + 1), std::string("New provider: ") + kAesProvider);
        EXPECT_ALL_RELEASED(platform);
    }
}

TEST_F(ProviderSubstitution, LegacyDssProviderMovesToTheDssDhProviderWithDsa) {
    IdentityRequest wanted;
    wanted.key = FixtureKey::Dsa1024;
    wanted.keySpec = AT_SIGNATURE;
    wanted.provider = "Microsoft Base DSS Cryptographic Provider";
    if (std::string why = fixture_->unsupportedReason(wanted); !why.empty()) GTEST_SKIP() << why;
    TestIdentity identity = makeIdentity(wanted);
    FaultInjectingPlatform platform(recording_);
    SignRequest request;
    request.keyAlgorithm = "DSA";
    ASSERT_EQ(sign(identity.certificate, request), 0) << lastStatus();
    ASSERT_EQ(gAcquisitions.size(), 1u);
    EXPECT_EQ(gAcquisitions[0].provider, kDssDhProvider);
    EXPECT_EQ(gAcquisitions[0].type, static_cast<DWORD>(PROV_DSS_DH));
    EXPECT_EQ(signature_.size(), 40u);
    std::vector<std::string> lines = log();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "CryptSignHash# success (AT_SIGNATURE)"),
              lines.end());
    EXPECT_ALL_RELEASED(platform);
}

TEST_F(ProviderSubstitution, OtherKeyAlgorithmNamesAreRefusedWithoutAMessage) {
    IdentityRequest wanted = smallKey();
    wanted.provider = "Microsoft Strong Cryptographic Provider";
    TestIdentity identity = makeIdentity(wanted);
    for (const char* keyAlgorithm : {"rsa", "ECDSA", "RSA ", "", static_cast<const char*>(nullptr)}) {
        SCOPED_TRACE(keyAlgorithm != nullptr ? keyAlgorithm : "(null)");
        FaultInjectingPlatform platform(recording_);
        gAcquisitions.clear();
        SignRequest request;
        request.keyAlgorithm = keyAlgorithm;
        EXPECT_EQ(sign(identity.certificate, request), -1);
        EXPECT_EQ(lastStatus(), kStatusNoKeyContainer);
        EXPECT_TRUE(gAcquisitions.empty());
        std::vector<std::string> lines = log();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[lines.size() - 2], "Provider: Microsoft Strong Cryptographic Provider");
        EXPECT_EQ(lines.back(), "CertCloseStore success");
        EXPECT_ALL_RELEASED(platform);
    }
}

TEST_F(ProviderSubstitution, OtherProvidersKeepTheirNameAndTypeWhateverTheKeyAlgorithm) {
    TestIdentity identity = makeIdentity();
    for (const char* keyAlgorithm : {"RSA", "DSA", "anything"}) {
        SCOPED_TRACE(keyAlgorithm);
        FaultInjectingPlatform platform(recording_);
        gAcquisitions.clear();
        SignRequest request;
        request.keyAlgorithm = keyAlgorithm;
        ASSERT_EQ(sign(identity.certificate, request), 0);
        ASSERT_EQ(gAcquisitions.size(), 1u);
        EXPECT_EQ(gAcquisitions[0].provider, kAesProvider);
        for (const std::string& line : log()) EXPECT_EQ(line.rfind("New provider", 0), std::string::npos);
        EXPECT_ALL_RELEASED(platform);
    }
}

TEST_F(ProviderSubstitution, MissingKeysetsFallBackToPrototypeThenStandardProvider) {
    // An unknown provider of type 1: its own name and the prototype are unknown, the standard
    // provider opens the container.
    IdentityRequest wanted = smallKey();
    wanted.provider = "Contoso Cryptographic Provider";
    wanted.providerType = PROV_RSA_FULL;
    TestIdentity identity = makeIdentity(wanted);
    FaultInjectingPlatform platform(recording_);
    ASSERT_EQ(sign(identity.certificate), 0) << lastStatus();
    ASSERT_EQ(gAcquisitions.size(), 3u);
    EXPECT_EQ(gAcquisitions[0].provider, "Contoso Cryptographic Provider");
    EXPECT_EQ(gAcquisitions[1].provider, kPrototypeProvider);
    EXPECT_EQ(gAcquisitions[2].provider, "Microsoft Enhanced Cryptographic Provider v1.0");
    for (const Acquisition& acquisition : gAcquisitions) {
        EXPECT_EQ(acquisition.container, identity.container);
        EXPECT_EQ(acquisition.type, static_cast<DWORD>(PROV_RSA_FULL));
    }
    std::vector<std::string> lines = logWithoutAlgorithms();
    auto parent = std::find(lines.begin(), lines.end(), "Set CSP popup parent");
    ASSERT_NE(parent, lines.end());
    EXPECT_EQ(*(parent + 1), "Attempting to using prototype provider (XP?).");
    EXPECT_EQ(*(parent + 2), "Attempting to using standard provider (support SHA-1 only).");
    EXPECT_EQ(*(parent + 4), "CryptAcquireContext success");
    EXPECT_ALL_RELEASED(platform);
}

TEST_F(ProviderSubstitution, FallbacksRunForBadKeysetAndKeysetNotDefinedOnly) {
    TestIdentity identity = makeIdentity();
    struct Case {
        DWORD error;
        size_t attempts;
    };
    const bool wineKnowsPrototype = runningUnderWine() && prototypeProviderKnown();
    for (Case c : {Case{static_cast<DWORD>(NTE_BAD_KEYSET), 3},
                   Case{static_cast<DWORD>(NTE_KEYSET_NOT_DEF), 3}, Case{0x80090010, 1}}) {
        SCOPED_TRACE(c.error);
        // There the retry opens the container: the cases with retries are reported below.
        if (c.attempts > 1 && wineKnowsPrototype) continue;
        gAcquisitions.clear();
        FaultInjectingPlatform platform(recording_);
        // The first attempt fails with the error; the retries fail on their own, the last one
        // because the standard provider is not of the AES provider's type.
        platform.failCall(PlatformOp::CryptAcquireContextA, 1, c.error);
        EXPECT_EQ(sign(identity.certificate), -1);
        EXPECT_EQ(lastStatus(), kStatusNoKeyContainer);
        EXPECT_EQ(gAcquisitions.size(), c.attempts - 1);
        std::vector<std::string> lines = log();
        char expected[64];
        std::snprintf(expected, sizeof(expected), "CryptAcquire Context error: %x",
                      static_cast<unsigned>(c.attempts == 3 ? NTE_PROV_TYPE_NO_MATCH : c.error));
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[lines.size() - 2], expected);
        EXPECT_EQ(std::count(lines.begin(), lines.end(),
                             "Attempting to using prototype provider (XP?)."),
                  c.attempts == 3 ? 1 : 0);
        EXPECT_ALL_RELEASED(platform);
    }
    if (wineKnowsPrototype)
        GTEST_SKIP() << "Wine: the AES provider also answers to its Windows XP name '"
                     << kPrototypeProvider << "', which later Windows does not register";
}

// A foreground window becomes the parent of the provider's dialogs.
HWND WINAPI someWindow() {
    return reinterpret_cast<HWND>(0x1234);
}

// A desktop has a foreground window more often than not; a test cannot count on having none.
HWND WINAPI noWindow() {
    return nullptr;
}

TEST_F(ProviderSubstitution, ForegroundWindowIsGivenToTheProvider) {
    TestIdentity identity = makeIdentity();
    CryptoPlatform withWindow = defaultCryptoPlatform();
    withWindow.GetForegroundWindow = someWindow;
    FaultInjectingPlatform platform(withWindow);
    ASSERT_EQ(sign(identity.certificate), 0);
    EXPECT_EQ(platform.calls(PlatformOp::CryptSetProvParam), 1);
    CryptoPlatform withoutWindow = defaultCryptoPlatform();
    withoutWindow.GetForegroundWindow = noWindow;
    FaultInjectingPlatform without(withoutWindow);
    ASSERT_EQ(sign(identity.certificate), 0);
    EXPECT_EQ(without.calls(PlatformOp::CryptSetProvParam), 0);
}

}  // namespace
