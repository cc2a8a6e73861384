// Signing end to end over the software CryptoAPI, with identities made by qdie-keystore: the
// signatures OpenSSL accepts, the log a signing writes, precomputed hashes, and PINs for signing
// and for decryption.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/openssl_check.h"
#include "unit/keyops_test_support.h"

using namespace diagnostics;

namespace {

// Runs qdie-keystore new-identity in the test's profile; the certificate it wrote.
Bytes toolIdentity(const TempProfile& profile, const std::string& options = "") {
    std::string out = profile.folder() + "/identity.der";
    std::string command = std::string("'") + QDIE_KEYSTORE_TOOL +
                          "' new-identity --subject 'CN=Tool Signer' --key rsa-2048 --out '" + out +
                          "' " + options + " > /dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream in(out, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The library hands signatures out most significant byte first; the judge takes them as the
// provider wrote them.
bool verifies(const Bytes& certificate, ALG_ID algorithm, const Bytes& message,
              const Bytes& signature, bool isHash = false) {
    return opensslVerifies(certificate, algorithm, message,
                           Bytes(signature.rbegin(), signature.rend()), isHash);
}

using Signing = SigningTest;

TEST_F(Signing, DataAndPrecomputedHashesSignAsOpenSslVerifies) {
    Bytes certificate = toolIdentity(profile_);
    for (ALG_ID algorithm : {CALG_SHA1, CALG_SHA_256}) {
        SCOPED_TRACE(algorithm);
        SignRequest request;
        request.digestAlgorithm = algorithm;
        ASSERT_EQ(sign(certificate, request), 0) << lastStatus();
        Bytes fromData = signature_;
        ASSERT_EQ(fromData.size(), 256u);
        EXPECT_TRUE(verifies(certificate, algorithm, kData, fromData));
        EXPECT_EQ(lastStatus(), kStatusSuccess);
        EXPECT_EQ(providerError(), kUntouchedProviderError);

        request.data = opensslDigest(algorithm, kData);
        request.dataIsHash = true;
        ASSERT_EQ(sign(certificate, request), 0) << lastStatus();
        EXPECT_TRUE(verifies(certificate, algorithm, request.data, signature_, true));
        EXPECT_EQ(signature_, fromData);
    }
}

TEST_F(Signing, WritesEveryStepInOrder) {
    Bytes certificate = toolIdentity(profile_);
    ASSERT_EQ(sign(certificate), 0);
    const std::vector<std::string> expected = {
        "########## Sign (DigestAlgo: 00008004h)##########",
        "CertOpenStore success",
        "Certificate found.",
        "CertGetCertificateContextProperty# success",
        "CertGetCertificateContextProperty success",
        "Provider: Microsoft Enhanced RSA and AES Cryptographic Provider",
        "Set CSP popup parent",
        "Enumerate algorithm",
        "    00008004h    160     Hash               SHA-1",
        "    00008003h    128     Hash               MD5",
        "    00008008h    288     Hash               SSL3 SHAMD5",
        "    0000800ch    256     Hash               SHA-256",
        "    0000800dh    384     Hash               SHA-384",
        "    0000800eh    512     Hash               SHA-512",
        "    00002400h    1024    Signature          RSA_SIGN",
        "    0000a400h    1024    Exchange           RSA_KEYX",
        "CryptAcquireContext success",
        "CryptCreateHash success",
        "CryptHashData success",
        "Hash ready (AT_KEYEXCHANGE)",
        "CryptSignHash# success (AT_KEYEXCHANGE)",
        "CryptSignHash success",
        "CryptDestroyHash success",
        "CryptRelaseContext success",
        "CertCloseStore success",
    };
    EXPECT_EQ(log(), expected);
}

TEST_F(Signing, HashValueShorterThanTheDigestIsRefused) {
    Bytes certificate = toolIdentity(profile_);
    SignRequest request;
    request.digestAlgorithm = CALG_SHA_256;
    request.dataIsHash = true;
    Bytes digest = opensslDigest(CALG_SHA_256, kData);
    request.data = Bytes(digest.begin(), digest.end() - 1);
    FaultInjectingPlatform platform;
    EXPECT_EQ(sign(certificate, request), -1);
    EXPECT_EQ(lastStatus(), kStatusHashNotReady);
    std::vector<std::string> lines = log();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "CryptSetHashParam success"), 0);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "CryptDestroyHash success"), 1);
    EXPECT_EQ(platform.calls(PlatformOp::CryptSetHashParam), 0);
    EXPECT_ALL_RELEASED(platform);

    // A longer value signs its first bytes, as the provider takes them.
    request.data = digest;
    ASSERT_EQ(sign(certificate, request), 0);
    Bytes exact = signature_;
    request.data.push_back(0xEE);
    ASSERT_EQ(sign(certificate, request), 0);
    EXPECT_EQ(signature_, exact);
}

TEST_F(Signing, EmptyDataSignsTheEmptyMessage) {
    Bytes certificate = toolIdentity(profile_);
    SignRequest request;
    request.data = {};
    ASSERT_EQ(sign(certificate, request), 0);
    EXPECT_TRUE(verifies(certificate, CALG_SHA1, {}, signature_));
}

TEST_F(Signing, SignatureOnlyContainerSignsWithTheSignatureKey) {
    Bytes certificate = toolIdentity(profile_, "--key-spec signature");
    ASSERT_EQ(sign(certificate), 0) << lastStatus();
    EXPECT_TRUE(verifies(certificate, CALG_SHA1, kData, signature_));
    std::vector<std::string> lines = log();
    auto ready = std::find(lines.begin(), lines.end(), "Hash ready (AT_KEYEXCHANGE)");
    ASSERT_NE(ready, lines.end());
    EXPECT_EQ(*(ready + 1), "CryptSignHash# success (AT_SIGNATURE)");
    EXPECT_EQ(providerError(), kUntouchedProviderError);
}

TEST_F(Signing, PinUnlocksTheContainerAndAWrongOneDoesNot) {
    Bytes certificate = toolIdentity(profile_, "--pin 2468");
    SignRequest request;
    request.pin = "2468";
    ASSERT_EQ(sign(certificate, request), 0) << lastStatus();
    EXPECT_TRUE(verifies(certificate, CALG_SHA1, kData, signature_));
    std::vector<std::string> lines = log();
    auto listed = std::find(lines.begin(), lines.end(), "CryptSetProvParam success");
    ASSERT_NE(listed, lines.end());
    EXPECT_EQ(*(listed + 1), "CryptAcquireContext success");

    for (const char* pin : {"1357", static_cast<const char*>(nullptr)}) {
        request.pin = pin;
        EXPECT_EQ(sign(certificate, request), -1);
        EXPECT_EQ(lastStatus(), kStatusSignatureFailed);
        EXPECT_EQ(providerError(), static_cast<uint32_t>(SCARD_W_CARD_NOT_AUTHENTICATED));
        lines = log();
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "CryptSetProvParam success"), 0);
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "CryptSignHash error: 8010006f"), 1);
    }
}

using PinnedDecryption = DecryptionTest;

// The ten natives give decryption no PIN; the provider's do, and it goes to the key-exchange key.
TEST_F(PinnedDecryption, PinReachesTheExchangeKeyAndOnlyTheRightOneDecrypts) {
    Bytes certificate = toolIdentity(profile_, "--pin 2468");
    const Bytes secret = {'s', 'i', 'x'};
    Bytes cipherText = fixture_->encryptFor(certificate, secret, false);
    ASSERT_EQ(decrypt(certificate, cipherText, "2468"), 0) << outcome_.code();
    EXPECT_EQ(plainText_, secret);
    std::vector<std::string> lines = log();
    auto acquired = std::find(lines.begin(), lines.end(), "CryptAcquireContext success");
    ASSERT_NE(acquired, lines.end());
    EXPECT_EQ(*(acquired + 1), "CryptSetProvParam success");

    for (const char* pin : {"1357", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(decrypt(certificate, cipherText, pin), -1);
        EXPECT_EQ(outcome_.code(), kStatusDecryptionFailed);
        EXPECT_STREQ(outcome_.step(), "CryptDecrypt");
        EXPECT_EQ(outcome_.windowsError(), static_cast<DWORD>(SCARD_W_CARD_NOT_AUTHENTICATED));
    }
}

TEST_F(Signing, PinRefusedByAContainerWithoutOneDoesNotStopTheSigning) {
    Bytes certificate = toolIdentity(profile_);
    SignRequest request;
    request.pin = "1234";
    ASSERT_EQ(sign(certificate, request), 0);
    std::vector<std::string> lines = log();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "CryptSetProvParam success"), 0);
}

TEST_F(Signing, WithoutTheLogFolderNothingIsWrittenAndTheSigningStillWorks) {
    Bytes certificate = toolIdentity(profile_);
    std::filesystem::remove_all(profile_.folder() + "/.quendrilax");
    ASSERT_EQ(sign(certificate), 0);
    EXPECT_TRUE(verifies(certificate, CALG_SHA1, kData, signature_));
    EXPECT_FALSE(std::filesystem::exists(profile_.folder() + "/.quendrilax"));
}

// The provider's call log: on, the very lines the ten natives write line by line; off, nothing
// at all, not even the algorithm enumeration that is there only to be logged, which the ten
// natives keep making.
TEST_F(Signing, CallLogWritesTheSameLinesOrNothingAtAll) {
    Bytes certificate = toolIdentity(profile_);
    ASSERT_EQ(sign(certificate), 0);
    const std::vector<std::string> lineByLine = log();
    {
        LogSession session;
        SignRequest request;
        request.session = &session;
        ASSERT_EQ(sign(certificate, request), 0);
    }
    EXPECT_EQ(log(), lineByLine);

    std::filesystem::remove_all(profile_.folder() + "/.quendrilax");
    for (bool decidedOnce : {true, false}) {
        SCOPED_TRACE(decidedOnce);
        LogSession session;
        SignRequest request;
        if (decidedOnce) request.session = &session;
        FaultInjectingPlatform platform;
        ASSERT_EQ(sign(certificate, request), 0);
        EXPECT_TRUE(verifies(certificate, CALG_SHA1, kData, signature_));
        EXPECT_EQ(platform.calls(PlatformOp::CryptGetProvParam) == 0, decidedOnce);
        EXPECT_ALL_RELEASED(platform);
    }
    EXPECT_FALSE(std::filesystem::exists(profile_.folder() + "/.quendrilax"));
}

}  // namespace
