// Signing inside the provider: every hash algorithm the library signs with, the two key
// specifications, DSS, and containers protected by a PIN.
#include "conformance/conformance_test.h"

namespace {

const Bytes kMessage = {'s', 'i', 'g', 'n', ' ', 'm', 'e'};

// Hashes `message` (or sets `value` when given) and signs with `keySpec`; the signature as the
// provider wrote it, empty with the error left in GetLastError on failure.
Bytes signWith(HCRYPTPROV provider, ALG_ID algorithm, const Bytes& message, DWORD keySpec,
               const Bytes* value = nullptr) {
    ScopedHash hash;
    if (!CryptCreateHash(provider, algorithm, 0, 0, hash.put())) return {};
    bool hashed = value != nullptr
                      ? CryptSetHashParam(hash.get(), HP_HASHVAL, value->data(), 0)
                      : CryptHashData(hash.get(), message.data(),
                                      static_cast<DWORD>(message.size()), 0);
    if (!hashed) return {};
    DWORD size = 0;
    if (!CryptSignHashA(hash.get(), keySpec, nullptr, 0, nullptr, &size)) return {};
    Bytes signature(size);
    if (!CryptSignHashA(hash.get(), keySpec, nullptr, 0, signature.data(), &size)) return {};
    signature.resize(size);
    return signature;
}

using RsaSignatures = ConformanceTest;
using KeySpecifications = ConformanceTest;
using DssSignatures = ConformanceTest;
using PinProtection = ConformanceTest;

TEST_F(RsaSignatures, EveryHashAlgorithmVerifiesAgainstTheCertificate) {
    TestIdentity identity = fixture_->createIdentity({});
    ScopedProvider provider;
    acquireIdentity(identity, provider);
    for (ALG_ID algorithm : {CALG_MD5, CALG_SHA1, CALG_SHA_256, CALG_SHA_384, CALG_SHA_512}) {
        SCOPED_TRACE(algorithm);
        Bytes signature = signWith(provider.get(), algorithm, kMessage, AT_KEYEXCHANGE);
        ASSERT_EQ(signature.size(), 256u) << std::hex << GetLastError();
        EXPECT_TRUE(fixture_->verifySignature(identity.certificate, algorithm, kMessage, signature));
        Bytes tampered = signature;
        tampered[0] ^= 1;
        EXPECT_FALSE(fixture_->verifySignature(identity.certificate, algorithm, kMessage, tampered));
    }
}

TEST_F(RsaSignatures, Ssl3ShaMd5SignsTheSetValueWithoutDigestInfo) {
    TestIdentity identity = fixture_->createIdentity({});
    ScopedProvider provider;
    acquireIdentity(identity, provider);
    Bytes value(36);
    for (size_t i = 0; i < value.size(); ++i) value[i] = static_cast<BYTE>(0xA0 + i);
    Bytes signature = signWith(provider.get(), CALG_SSL3_SHAMD5, {}, AT_KEYEXCHANGE, &value);
    ASSERT_EQ(signature.size(), 256u) << std::hex << GetLastError();
    EXPECT_TRUE(fixture_->verifySignature(identity.certificate, CALG_SSL3_SHAMD5, value, signature));
}

TEST_F(RsaSignatures, SizeQueryAndShortBuffer) {
    IdentityRequest request;
    request.key = FixtureKey::Rsa1024;
    TestIdentity identity = fixture_->createIdentity(request);
    ScopedProvider provider;
    acquireIdentity(identity, provider);
    ScopedHash hash;
    ASSERT_TRUE(CryptCreateHash(provider.get(), CALG_SHA1, 0, 0, hash.put()));
    ASSERT_TRUE(CryptHashData(hash.get(), kMessage.data(), static_cast<DWORD>(kMessage.size()), 0));
    DWORD size = 0;
    ASSERT_TRUE(CryptSignHashA(hash.get(), AT_KEYEXCHANGE, nullptr, 0, nullptr, &size));
    EXPECT_EQ(size, 128u);
    Bytes signature(size);
    DWORD shortSize = size - 1;
    SetLastError(kUnsetError);
    EXPECT_FALSE(
        CryptSignHashA(hash.get(), AT_KEYEXCHANGE, nullptr, 0, signature.data(), &shortSize));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(shortSize, 128u);
}

TEST_F(KeySpecifications, SignatureOnlyContainerHasNoExchangeKey) {
    IdentityRequest request;
    request.keySpec = AT_SIGNATURE;
    TestIdentity identity = fixture_->createIdentity(request);
    ScopedProvider provider;
    acquireIdentity(identity, provider);

    SetLastError(kUnsetError);
    EXPECT_TRUE(signWith(provider.get(), CALG_SHA1, kMessage, AT_KEYEXCHANGE).empty());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_NO_KEY));
    HCRYPTKEY key = 0;
    SetLastError(kUnsetError);
    EXPECT_FALSE(CryptGetUserKey(provider.get(), AT_KEYEXCHANGE, &key));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_NO_KEY));

    Bytes signature = signWith(provider.get(), CALG_SHA1, kMessage, AT_SIGNATURE);
    ASSERT_FALSE(signature.empty()) << std::hex << GetLastError();
    EXPECT_TRUE(fixture_->verifySignature(identity.certificate, CALG_SHA1, kMessage, signature));
}

TEST_F(KeySpecifications, ExchangeOnlyContainerHasNoSignatureKey) {
    TestIdentity identity = fixture_->createIdentity({});
    ScopedProvider provider;
    acquireIdentity(identity, provider);
    SetLastError(kUnsetError);
    EXPECT_TRUE(signWith(provider.get(), CALG_SHA1, kMessage, AT_SIGNATURE).empty());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_NO_KEY));
}

TEST_F(DssSignatures, AreTwoLittleEndianHalvesThatVerify) {
    IdentityRequest request = dssSignatureKey();
    if (std::string why = fixture_->unsupportedReason(request); !why.empty()) GTEST_SKIP() << why;
    TestIdentity identity = fixture_->createIdentity(request);
    EXPECT_EQ(identity.providerType, static_cast<DWORD>(PROV_DSS_DH));
    ScopedProvider provider;
    acquireIdentity(identity, provider);
    Bytes signature = signWith(provider.get(), CALG_SHA1, kMessage, AT_SIGNATURE);
    ASSERT_EQ(signature.size(), 40u) << std::hex << GetLastError();
    EXPECT_TRUE(fixture_->verifySignature(identity.certificate, CALG_SHA1, kMessage, signature));
    // DSS is randomised: a second signature differs and verifies as well.
    Bytes second = signWith(provider.get(), CALG_SHA1, kMessage, AT_SIGNATURE);
    EXPECT_NE(second, signature);
    EXPECT_TRUE(fixture_->verifySignature(identity.certificate, CALG_SHA1, kMessage, second));
}

TEST_F(PinProtection, LockedUntilTheRightPinIsGiven) {
    IdentityRequest request;
    request.pin = "1234";
    if (std::string why = fixture_->unsupportedReason(request); !why.empty()) GTEST_SKIP() << why;
    TestIdentity identity = fixture_->createIdentity(request);
    ScopedProvider provider;
    acquireIdentity(identity, provider);

    SetLastError(kUnsetError);
    EXPECT_TRUE(signWith(provider.get(), CALG_SHA1, kMessage, AT_KEYEXCHANGE).empty());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(SCARD_W_CARD_NOT_AUTHENTICATED));

    const char wrong[] = "4321";
    SetLastError(kUnsetError);
    EXPECT_FALSE(CryptSetProvParam(provider.get(), PP_SIGNATURE_PIN,
                                   reinterpret_cast<const BYTE*>(wrong), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(SCARD_W_WRONG_CHV));
    EXPECT_TRUE(signWith(provider.get(), CALG_SHA1, kMessage, AT_KEYEXCHANGE).empty());

    const char right[] = "1234";
    ASSERT_TRUE(CryptSetProvParam(provider.get(), PP_SIGNATURE_PIN,
                                  reinterpret_cast<const BYTE*>(right), 0))
        << std::hex << GetLastError();
    Bytes signature = signWith(provider.get(), CALG_SHA1, kMessage, AT_KEYEXCHANGE);
    ASSERT_FALSE(signature.empty()) << std::hex << GetLastError();
    EXPECT_TRUE(fixture_->verifySignature(identity.certificate, CALG_SHA1, kMessage, signature));

    // The PIN belongs to the handle that was given it.
    ScopedProvider other;
    acquireIdentity(identity, other);
    SetLastError(kUnsetError);
    EXPECT_TRUE(signWith(other.get(), CALG_SHA1, kMessage, AT_KEYEXCHANGE).empty());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(SCARD_W_CARD_NOT_AUTHENTICATED));
}

// Once the right PIN has been accepted in a process, a wrong one that shares its beginning is
// still wrong, for any handle.
TEST_F(PinProtection, WrongPinLikeOneAcceptedBeforeIsStillRefused) {
    IdentityRequest request;
    request.pin = "2468";
    if (std::string why = fixture_->unsupportedReason(request); !why.empty()) GTEST_SKIP() << why;
    TestIdentity identity = fixture_->createIdentity(request);
    ScopedProvider unlocked;
    acquireIdentity(identity, unlocked);
    ASSERT_TRUE(CryptSetProvParam(unlocked.get(), PP_SIGNATURE_PIN,
                                  reinterpret_cast<const BYTE*>("2468"), 0))
        << std::hex << GetLastError();
    ASSERT_FALSE(signWith(unlocked.get(), CALG_SHA1, kMessage, AT_KEYEXCHANGE).empty());

    for (const char* wrong : {"24680", "246"}) {
        SCOPED_TRACE(wrong);
        ScopedProvider other;
        acquireIdentity(identity, other);
        SetLastError(kUnsetError);
        EXPECT_FALSE(CryptSetProvParam(other.get(), PP_SIGNATURE_PIN,
                                       reinterpret_cast<const BYTE*>(wrong), 0));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(SCARD_W_WRONG_CHV));
        SetLastError(kUnsetError);
        EXPECT_TRUE(signWith(other.get(), CALG_SHA1, kMessage, AT_KEYEXCHANGE).empty());
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(SCARD_W_CARD_NOT_AUTHENTICATED));
    }
}

TEST_F(PinProtection, ContainerWithoutPinRefusesOne) {
    TestIdentity identity = fixture_->createIdentity({});
    ScopedProvider provider;
    acquireIdentity(identity, provider);
    const char pin[] = "1234";
    SetLastError(kUnsetError);
    EXPECT_FALSE(CryptSetProvParam(provider.get(), PP_SIGNATURE_PIN,
                                   reinterpret_cast<const BYTE*>(pin), 0));
    const DWORD error = GetLastError();
    EXPECT_FALSE(signWith(provider.get(), CALG_SHA1, kMessage, AT_KEYEXCHANGE).empty());
    if (error == kUnsetError && runningUnderWine())
        GTEST_SKIP() << "Wine: PP_SIGNATURE_PIN is refused without setting an error, where "
                        "Windows' software providers give NTE_BAD_TYPE";
    EXPECT_EQ(error, static_cast<DWORD>(NTE_BAD_TYPE));
}

}  // namespace
