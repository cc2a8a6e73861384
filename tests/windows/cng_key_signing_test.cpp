// The core's CNG signing against the CNG of Windows, or of Wine: an RSA key made by BCrypt and
// imported into the key storage provider (Wine keeps no persisted keys, but takes imported ones),
// signed with PKCS #1 v1.5 and PSS by signWithCngKey and checked by BCryptVerifySignature.
#include <gtest/gtest.h>

#include <windows.h>
#include <bcrypt.h>
#include <ncrypt.h>

#include <vector>

#include "keyops/cng_operations.h"

namespace {

using Bytes = std::vector<BYTE>;

class CngKeySigning : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(BCryptOpenAlgorithmProvider(&algorithm_, BCRYPT_RSA_ALGORITHM, nullptr, 0), 0);
        ASSERT_EQ(BCryptGenerateKeyPair(algorithm_, &pair_, 2048, 0), 0);
        ASSERT_EQ(BCryptFinalizeKeyPair(pair_, 0), 0);
        Bytes blob = exported(BCRYPT_RSAPRIVATE_BLOB);
        ASSERT_FALSE(blob.empty());
        ASSERT_EQ(NCryptOpenStorageProvider(&storage_, MS_KEY_STORAGE_PROVIDER, 0), ERROR_SUCCESS);
        ASSERT_EQ(NCryptImportKey(storage_, 0, BCRYPT_RSAPRIVATE_BLOB, nullptr, &key_, blob.data(),
                                  static_cast<DWORD>(blob.size()), 0),
                  ERROR_SUCCESS);
        for (BYTE& byte : hash_) byte = static_cast<BYTE>(&byte - hash_.data());
    }

    void TearDown() override {
        if (key_ != 0) NCryptFreeObject(key_);
        if (storage_ != 0) NCryptFreeObject(storage_);
        if (pair_ != nullptr) BCryptDestroyKey(pair_);
        if (algorithm_ != nullptr) BCryptCloseAlgorithmProvider(algorithm_, 0);
    }

    Bytes exported(LPCWSTR type) {
        ULONG size = 0;
        if (BCryptExportKey(pair_, nullptr, type, nullptr, 0, &size, 0) != 0) return {};
        Bytes blob(size);
        if (BCryptExportKey(pair_, nullptr, type, blob.data(), size, &size, 0) != 0) return {};
        return blob;
    }

    bool verifies(void* padding, const Bytes& signature, ULONG flags) {
        return BCryptVerifySignature(pair_, padding, hash_.data(), static_cast<ULONG>(hash_.size()),
                                     const_cast<PUCHAR>(signature.data()),
                                     static_cast<ULONG>(signature.size()), flags) == 0;
    }

    BCRYPT_ALG_HANDLE algorithm_ = nullptr;
    BCRYPT_KEY_HANDLE pair_ = nullptr;
    NCRYPT_PROV_HANDLE storage_ = 0;
    NCRYPT_KEY_HANDLE key_ = 0;
    Bytes hash_ = Bytes(32);
};

TEST_F(CngKeySigning, Pkcs1AndPssSignaturesVerify) {
    for (DWORD scheme : {static_cast<DWORD>(BCRYPT_PAD_PKCS1), static_cast<DWORD>(BCRYPT_PAD_PSS)}) {
        SCOPED_TRACE(scheme);
        keyops::CallContext context;
        Bytes signature;
        ASSERT_TRUE(keyops::signWithCngKey(context, key_, {scheme, CALG_SHA_256, 32},
                                           hash_.data(), static_cast<DWORD>(hash_.size()),
                                           signature))
            << context.outcome.code() << " at " << (context.outcome.step() ? context.outcome.step() : "")
            << std::hex << " error " << context.outcome.windowsError();
        ASSERT_EQ(signature.size(), 256u);
        BCRYPT_PKCS1_PADDING_INFO pkcs1{BCRYPT_SHA256_ALGORITHM};
        BCRYPT_PSS_PADDING_INFO pss{BCRYPT_SHA256_ALGORITHM, 32};
        void* padding = scheme == BCRYPT_PAD_PSS ? static_cast<void*>(&pss) : &pkcs1;
        EXPECT_TRUE(verifies(padding, signature, scheme));
        signature[100] ^= 1;
        EXPECT_FALSE(verifies(padding, signature, scheme));
    }
}

}  // namespace
