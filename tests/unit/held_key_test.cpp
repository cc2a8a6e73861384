// The provider's held keys: each way of using a key opened once and checked against the
// certificate then, used without the certificate being looked up again, every step's failure
// with its status, everything released when the key goes; a key other than the certificate's
// refused before it signs; one key shared by many threads; and the ten natives, which know no
// CNG, failing on a key storage provider's key.
#include <algorithm>
#include <functional>
#include <memory>
#include <thread>

#include "keyops/held_key.h"
#include "support/openssl_check.h"
#include "unit/keyops_test_support.h"

using namespace diagnostics;
using namespace keyops;

namespace {

const Bytes kSecret = {'c', 'n', 'g', ' ', 's', 'e', 'c', 'r', 'e', 't'};

IdentityRequest keyStorageKey(FixtureKey key) {
    IdentityRequest request;
    request.key = key;
    request.provider = kKeyStorageProvider;
    request.keySpec = 0;
    return request;
}

const CngPadding kEcdsa = {0, CALG_SHA_256, 0};
const CngPadding kPss = {BCRYPT_PAD_PSS, CALG_SHA_256, 32};

const std::vector<std::string> kLookup = {"CertOpenStore success", "Certificate found.",
                                          "CertGetCertificateContextProperty# success",
                                          "CertGetCertificateContextProperty success"};

std::unique_ptr<HeldKey> hold(const TestIdentity& identity, const char* keyAlgorithm = "RSA") {
    return std::make_unique<HeldKey>(StoreLocation::CurrentUser,
                                     identity.certificate.data(), identity.certificate.size(),
                                     keyAlgorithm, common::SecureBytes());
}

// The lines, in order: the first, then the lookup, then the rest.
std::vector<std::string> bannerLookupThen(const std::string& banner, const std::string& opening,
                                          const std::vector<std::string>& rest) {
    std::vector<std::string> lines = {banner, opening};
    lines.insert(lines.end(), kLookup.begin(), kLookup.end());
    lines.insert(lines.end(), rest.begin(), rest.end());
    return lines;
}

class HeldKeys : public KeyopsTest {
protected:
    bool signCng(HeldKey& key, const CngPadding& padding) {
        forgetLog();
        hash_ = opensslDigest(padding.hashAlgorithm, kData);
        CallContext context;
        bool ok = key.signCng(context, padding, hash_.data(), static_cast<DWORD>(hash_.size()),
                              signature_);
        outcome_ = context.outcome;
        return ok;
    }

    bool signCsp(HeldKey& key) {
        forgetLog();
        hash_ = opensslDigest(CALG_SHA_256, kData);
        CallContext context;
        bool ok = key.sign(context, CALG_SHA_256, hash_.data(), static_cast<DWORD>(hash_.size()),
                           signature_);
        outcome_ = context.outcome;
        return ok;
    }

    bool decryptCng(HeldKey& key, const Bytes& cipherText, const CngPadding& padding) {
        forgetLog();
        CallContext context;
        common::SecureBytes plainText;
        bool ok = key.decryptCng(context, padding, cipherText.data(),
                                 static_cast<DWORD>(cipherText.size()), plainText);
        outcome_ = context.outcome;
        plainText_.assign(plainText.data(), plainText.data() + plainText.size());
        return ok;
    }

    bool decryptCsp(HeldKey& key, const Bytes& cipherText) {
        forgetLog();
        CallContext context;
        common::SecureBytes plainText;
        bool ok = key.decrypt(context, RsaPadding::Pkcs1, cipherText.data(),
                              static_cast<DWORD>(cipherText.size()), plainText);
        outcome_ = context.outcome;
        plainText_.assign(plainText.data(), plainText.data() + plainText.size());
        return ok;
    }

    bool cngVerifies(const TestIdentity& identity, const CngPadding& padding) {
        return opensslVerifiesCng(identity.certificate, padding.hashAlgorithm, hash_, signature_,
                                  padding.scheme, padding.saltLength);
    }

    // A signature most significant byte first, as the held CSP key gives it, over kData.
    bool cspVerifies(const TestIdentity& identity) {
        Bytes reversed(signature_.rbegin(), signature_.rend());
        return fixture_->verifySignature(identity.certificate, CALG_SHA_256, kData, reversed);
    }

    Bytes hash_;
    Bytes signature_;
    Bytes plainText_;
};

TEST_F(HeldKeys, AKeyIsOpenedAndCheckedOnceThenSignsWithoutALookup) {
    TestIdentity identity = makeIdentity(keyStorageKey(FixtureKey::EcP256));
    std::unique_ptr<HeldKey> key = hold(identity, "EC");
    ASSERT_TRUE(signCng(*key, kEcdsa)) << outcome_.code();
    EXPECT_EQ(signature_.size(), 64u);
    EXPECT_TRUE(cngVerifies(identity, kEcdsa));
    EXPECT_EQ(log(), bannerLookupThen("########## Sign with held key (CNG) ##########",
                                      "Opening the key for CNG",
                                      {"CryptAcquireCertificatePrivateKey success",
                                       "Public key is the certificate's", "CertCloseStore success",
                                       "Key held for CNG", "NCryptSignHash success",
                                       "Held key operation finished"}));
    FaultInjectingPlatform platform;
    ASSERT_TRUE(signCng(*key, kEcdsa)) << outcome_.code();
    EXPECT_TRUE(cngVerifies(identity, kEcdsa));
    EXPECT_EQ(log(), (std::vector<std::string>{"########## Sign with held key (CNG) ##########",
                                               "NCryptSignHash success",
                                               "Held key operation finished"}));
    EXPECT_EQ(platform.calls(PlatformOp::CertOpenStore), 0);
    EXPECT_EQ(platform.calls(PlatformOp::NCryptExportKey), 0);
}

TEST_F(HeldKeys, RsaOfTheKeyStorageProviderSignsPkcs1AndPssAndDecrypts) {
    TestIdentity identity = makeIdentity(keyStorageKey(FixtureKey::Rsa2048));
    std::unique_ptr<HeldKey> key = hold(identity);
    for (CngPadding padding : {CngPadding{BCRYPT_PAD_PKCS1, CALG_SHA_256, 0}, kPss,
                               CngPadding{BCRYPT_PAD_PSS, CALG_SHA_512, 0}}) {
        ASSERT_TRUE(signCng(*key, padding)) << outcome_.code();
        EXPECT_TRUE(cngVerifies(identity, padding)) << padding.scheme;
    }
    for (bool oaep : {false, true}) {
        CngPadding padding = {oaep ? static_cast<DWORD>(BCRYPT_PAD_OAEP) : BCRYPT_PAD_PKCS1,
                              CALG_SHA1, 0};
        ASSERT_TRUE(decryptCng(*key, fixture_->encryptFor(identity.certificate, kSecret, oaep),
                               padding))
            << outcome_.code();
        EXPECT_EQ(plainText_, kSecret);
    }
}

// A CSP's key is held three ways, each opened at its first use: its signing context, its
// key-exchange key, and CNG's view of it for PSS.
TEST_F(HeldKeys, CspKeySignsDecryptsAndSignsPssThroughItsCngView) {
    TestIdentity identity = makeIdentity({});
    std::unique_ptr<HeldKey> key = hold(identity);
    ASSERT_TRUE(signCsp(*key)) << outcome_.code();
    EXPECT_TRUE(cspVerifies(identity));
    ASSERT_TRUE(decryptCsp(*key, fixture_->encryptFor(identity.certificate, kSecret, false)));
    EXPECT_EQ(plainText_, kSecret);
    std::vector<std::string> lines = log();
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 6, lines.end()),
              (std::vector<std::string>{"CryptAcquireContext success", "CryptGetUserKey success",
                                        "Public key is the certificate's", "CertCloseStore success",
                                        "Key held for decryption", "CryptDecrypt success",
                                        "Held key operation finished"}));
    ASSERT_TRUE(signCng(*key, kPss)) << outcome_.code();
    EXPECT_TRUE(cngVerifies(identity, kPss));
    lines = log();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "NCryptTranslateHandle success"), lines.end());
    ASSERT_TRUE(signCsp(*key));
    EXPECT_EQ(log().size(), 8u) << "the signing context is held: no lookup, no acquisition";
}

TEST_F(HeldKeys, KeyOfTheWrongGroupIsRefusedBeforeItSigns) {
    std::unique_ptr<HeldKey> ec = hold(makeIdentity(keyStorageKey(FixtureKey::EcP256)), "EC");
    EXPECT_FALSE(signCng(*ec, kPss));
    EXPECT_EQ(outcome_.code(), kStatusNoCngKey);
    EXPECT_EQ(outcome_.windowsError(), static_cast<DWORD>(NTE_BAD_KEY));
    EXPECT_FALSE(decryptCng(*ec, Bytes(64, 1), {BCRYPT_PAD_PKCS1, 0, 0}));
    EXPECT_EQ(outcome_.code(), kStatusNoCngKey);
    std::unique_ptr<HeldKey> rsa = hold(makeIdentity({}));
    EXPECT_FALSE(signCng(*rsa, kEcdsa));
    EXPECT_EQ(outcome_.code(), kStatusNoCngKey);
    EXPECT_TRUE(signature_.empty());
}

// Each CryptoAPI and CNG call failing in turn, at the opening or at the operation: a failure with
// a status, the closing line, and every context, certificate, store and CNG object given back
// when the key goes.
TEST_F(HeldKeys, EveryCallFailingInTurnReleasesEverything) {
    TestIdentity ec = makeIdentity(keyStorageKey(FixtureKey::EcP384));
    TestIdentity csp = makeIdentity({});
    const Bytes cipherText = fixture_->encryptFor(csp.certificate, kSecret, false);
    const struct {
        const char* name;
        const TestIdentity& identity;
        std::function<bool(HeldKey&)> use;
    } uses[] = {
        {"ECDSA", ec, [&](HeldKey& key) { return signCng(key, kEcdsa); }},
        {"PSS through the CNG view", csp, [&](HeldKey& key) { return signCng(key, kPss); }},
        {"CSP signing", csp, [&](HeldKey& key) { return signCsp(key); }},
        {"CSP decryption", csp, [&](HeldKey& key) { return decryptCsp(key, cipherText); }},
    };
    for (const auto& [name, identity, use] : uses) {
        SCOPED_TRACE(name);
        int calls = 0;
        {
            FaultInjectingPlatform platform;
            std::unique_ptr<HeldKey> key = hold(identity);
            ASSERT_TRUE(use(*key));
            ASSERT_TRUE(use(*key));
            calls = platform.failableCalls();
        }
        for (int nth = 1; nth <= calls; ++nth) {
            SCOPED_TRACE(nth);
            FaultInjectingPlatform platform;
            platform.failOverallCall(nth, kInjected);
            std::unique_ptr<HeldKey> key = hold(identity);
            for (int round = 0; round < 2; ++round) {
                bool ok = use(*key);
                EXPECT_EQ(ok, outcome_.succeeded());
                EXPECT_EQ(log().back(), "Held key operation finished");
            }
            key.reset();
            EXPECT_ALL_RELEASED(platform);
        }
    }
}

TEST_F(HeldKeys, EachOpeningStepsFailureHasItsStatus) {
    TestIdentity csp = makeIdentity({});
    const struct {
        PlatformOp op;
        uint32_t status;
        const char* step;
    } points[] = {
        {PlatformOp::CryptAcquireCertificatePrivateKey, kStatusNoKeyContainer,
         "CryptAcquireCertificatePrivateKey"},
        {PlatformOp::NCryptTranslateHandle, kStatusNoCngKey, "NCryptTranslateHandle"},
        {PlatformOp::NCryptExportKey, kStatusNoKeyContainer, "NCryptExportKey"},
        {PlatformOp::CryptImportPublicKeyInfoEx2, kStatusNoKeyContainer,
         "CryptImportPublicKeyInfoEx2"},
        {PlatformOp::BCryptExportKey, kStatusNoKeyContainer, "BCryptExportKey"},
        {PlatformOp::NCryptSignHash, kStatusSignatureFailed, "NCryptSignHash"}};
    for (const auto& point : points) {
        SCOPED_TRACE(platformOpName(point.op));
        FaultInjectingPlatform platform;
        platform.failCall(point.op, 1, kInjected);
        std::unique_ptr<HeldKey> key = hold(csp);
        EXPECT_FALSE(signCng(*key, kPss));
        EXPECT_TRUE(signature_.empty());
        EXPECT_EQ(outcome_.code(), point.status);
        EXPECT_STREQ(outcome_.step(), point.step);
        EXPECT_EQ(outcome_.windowsError(), kInjected);
        key.reset();
        EXPECT_ALL_RELEASED(platform);
    }
}

// A certificate bound to another key's container is refused when its key is opened, whichever
// way: nothing is signed or decrypted with a key that is not the certificate's.
TEST_F(HeldKeys, AKeyOtherThanTheCertificatesIsRefusedAtItsOpening) {
    for (const IdentityRequest& request : {keyStorageKey(FixtureKey::EcP256), IdentityRequest{}}) {
        TestIdentity holder = makeIdentity(request);
        TestIdentity impostor;
        impostor.certificate = fixture_->createCertificateBoundTo(holder);
        std::unique_ptr<HeldKey> key = hold(impostor);
        FaultInjectingPlatform platform;
        const bool cng = request.provider == kKeyStorageProvider;
        EXPECT_FALSE(cng ? signCng(*key, kEcdsa) : signCsp(*key));
        EXPECT_EQ(outcome_.code(), kStatusNoKeyContainer);
        EXPECT_STREQ(outcome_.step(), cng ? "NCryptExportKey" : "CryptExportKey");
        EXPECT_EQ(outcome_.windowsError(), static_cast<DWORD>(NTE_BAD_PUBLIC_KEY));
        EXPECT_EQ(platform.calls(PlatformOp::NCryptSignHash), 0);
        EXPECT_EQ(platform.calls(PlatformOp::CryptSignHashA), 0);
        if (!cng) {
            const Bytes cipherText = fixture_->encryptFor(holder.certificate, kSecret, false);
            EXPECT_FALSE(decryptCsp(*key, cipherText));
            EXPECT_EQ(outcome_.windowsError(), static_cast<DWORD>(NTE_BAD_PUBLIC_KEY));
            EXPECT_EQ(platform.calls(PlatformOp::CryptDecrypt), 0);
        }
    }
}

// One key used by 32 threads at once: every signature is the certificate's.
TEST_F(HeldKeys, ThirtyTwoThreadsShareOneKey) {
    TestIdentity identity = makeIdentity(keyStorageKey(FixtureKey::EcP256));
    std::unique_ptr<HeldKey> key = hold(identity, "EC");
    const Bytes hash = opensslDigest(CALG_SHA_256, kData);
    std::vector<std::thread> threads;
    std::vector<int> good(32);
    for (size_t t = 0; t < good.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 20; ++i) {
                CallContext context;
                Bytes signature;
                if (key->signCng(context, kEcdsa, hash.data(), static_cast<DWORD>(hash.size()),
                                 signature) &&
                    opensslVerifiesCng(identity.certificate, CALG_SHA_256, hash, signature, 0, 0))
                    ++good[t];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(std::count(good.begin(), good.end(), 20), 32);
}

// The ten natives open the container with CryptAcquireContextA, which knows no key storage
// provider: a certificate bound to one fails there, with the status each gives that step (6 for
// signing, 10 for decryption), as it always did.
TEST_F(HeldKeys, TheTenNativesFailOnAKeyStorageProvidersKey) {
    TestIdentity identity = makeIdentity(keyStorageKey(FixtureKey::EcP256));
    CallContext context;
    std::vector<BYTE> signature;
    EXPECT_FALSE(signWithCertificate(context, identity.certificate.data(),
                                     static_cast<DWORD>(identity.certificate.size()), CALG_SHA_256,
                                     "RSA", kData.data(), static_cast<DWORD>(kData.size()),
                                     signature, nullptr, false));
    EXPECT_EQ(context.outcome.code(), kStatusNoKeyContainer);
    EXPECT_STREQ(context.outcome.step(), "CryptAcquireContextA");
    EXPECT_TRUE(signature.empty());

    TestIdentity rsa = makeIdentity(keyStorageKey(FixtureKey::Rsa2048));
    CallContext decryption;
    common::SecureBytes plainText;
    Bytes cipherText = fixture_->encryptFor(rsa.certificate, kSecret, false);
    EXPECT_FALSE(decryptWithCertificate(decryption, rsa.certificate.data(),
                                        static_cast<DWORD>(rsa.certificate.size()),
                                        cipherText.data(), static_cast<DWORD>(cipherText.size()),
                                        plainText));
    EXPECT_EQ(decryption.outcome.code(), kStatusKeyProvInfoUnreadable);
    EXPECT_STREQ(decryption.outcome.step(), "CryptAcquireContextA");
    EXPECT_EQ(plainText.size(), 0u);
}

}  // namespace
