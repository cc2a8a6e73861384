// Decryption with a container's exchange key: ciphertexts made elsewhere, given least
// significant byte first, with PKCS #1 v1.5 and with OAEP.
#include <algorithm>

#include "conformance/conformance_test.h"

namespace {

const Bytes kSecret = {'t', 'o', 'p', ' ', 's', 'e', 'c', 'r', 'e', 't'};

using RsaDecryption = ConformanceTest;

// Decrypts a most-significant-first ciphertext in place; the plaintext, or nothing with the
// error left in GetLastError.
bool decryptWith(HCRYPTKEY key, const Bytes& cipherText, DWORD flags, Bytes& plainText) {
    plainText.assign(cipherText.rbegin(), cipherText.rend());
    DWORD length = static_cast<DWORD>(plainText.size());
    if (!CryptDecrypt(key, 0, TRUE, flags, plainText.data(), &length)) return false;
    plainText.resize(length);
    return true;
}

class RsaDecryptionTest : public ConformanceTest {
protected:
    void SetUp() override {
        ConformanceTest::SetUp();
        identity_ = fixture_->createIdentity({});
        acquireIdentity(identity_, provider_);
        ASSERT_TRUE(CryptGetUserKey(provider_.get(), AT_KEYEXCHANGE, key_.put()))
            << std::hex << GetLastError();
    }

    TestIdentity identity_;
    ScopedProvider provider_;
    ScopedKey key_;
};

TEST_F(RsaDecryptionTest, Pkcs1CipherTextDecrypts) {
    Bytes plainText;
    ASSERT_TRUE(decryptWith(key_.get(), fixture_->encryptFor(identity_.certificate, kSecret, false),
                            0, plainText))
        << std::hex << GetLastError();
    EXPECT_EQ(plainText, kSecret);
}

TEST_F(RsaDecryptionTest, OaepCipherTextDecryptsWithTheOaepFlagOnly) {
    // PKCS #1 v1.5 padding accepts a random block about once in a few hundred: such a
    // ciphertext would not tell the two paddings apart, so another is drawn.
    Bytes cipherText;
    Bytes plainText;
    for (int attempt = 0; attempt < 8; ++attempt) {
        cipherText = fixture_->encryptFor(identity_.certificate, kSecret, true);
        SetLastError(kUnsetError);
        if (!decryptWith(key_.get(), cipherText, 0, plainText)) break;
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_DATA));
    ASSERT_TRUE(decryptWith(key_.get(), cipherText, CRYPT_OAEP, plainText))
        << std::hex << GetLastError();
    EXPECT_EQ(plainText, kSecret);
}

// CRYPT_DECRYPT_RSA_NO_PADDING_CHECK, documented for the Enhanced RSA and AES provider: the block
// as the private-key operation leaves it, its padding in place.
TEST_F(RsaDecryptionTest, NoPaddingCheckGivesThePaddedBlock) {
    Bytes cipherText = fixture_->encryptFor(identity_.certificate, kSecret, false);
    Bytes block(cipherText.rbegin(), cipherText.rend());
    DWORD length = static_cast<DWORD>(block.size());
    SetLastError(0xdeadbeef);
    BOOL decrypted = CryptDecrypt(key_.get(), 0, TRUE, CRYPT_DECRYPT_RSA_NO_PADDING_CHECK,
                                  block.data(), &length);
    if (!decrypted && GetLastError() == static_cast<DWORD>(NTE_BAD_FLAGS) && runningUnderWine())
        GTEST_SKIP() << "Wine's RSAENH refuses CRYPT_DECRYPT_RSA_NO_PADDING_CHECK; Windows takes it";
    ASSERT_TRUE(decrypted) << std::hex << GetLastError();
    ASSERT_EQ(length, cipherText.size());
    std::reverse(block.begin(), block.end());
    EXPECT_EQ(block[0], 0);
    EXPECT_EQ(block[1], 2);
    EXPECT_TRUE(std::equal(kSecret.rbegin(), kSecret.rend(), block.rbegin()));
    EXPECT_EQ(block[block.size() - kSecret.size() - 1], 0);
}

TEST_F(RsaDecryptionTest, WrongLengthIsBadData) {
    Bytes cipherText = fixture_->encryptFor(identity_.certificate, kSecret, false);
    cipherText.pop_back();
    Bytes plainText;
    SetLastError(kUnsetError);
    EXPECT_FALSE(decryptWith(key_.get(), cipherText, 0, plainText));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_DATA));
}

TEST_F(RsaDecryptionTest, EmptyPlainTextDecryptsToNothing) {
    Bytes plainText = {1};
    ASSERT_TRUE(decryptWith(key_.get(), fixture_->encryptFor(identity_.certificate, {}, false), 0,
                            plainText))
        << std::hex << GetLastError();
    EXPECT_TRUE(plainText.empty());
}

TEST_F(RsaDecryption, SignatureKeyCannotBeTakenAsExchangeKey) {
    IdentityRequest request;
    request.keySpec = AT_SIGNATURE;
    TestIdentity identity = fixture_->createIdentity(request);
    ScopedProvider provider;
    acquireIdentity(identity, provider);
    HCRYPTKEY key = 0;
    SetLastError(kUnsetError);
    EXPECT_FALSE(CryptGetUserKey(provider.get(), AT_KEYEXCHANGE, &key));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_NO_KEY));
}

}  // namespace
