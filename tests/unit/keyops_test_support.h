// What the core's tests share: a profile whose log is on, identities made in the key store, and
// calls of the core routines whose log and status are read back.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diagnostics/status.h"
#include "keyops/decrypt.h"
#include "keyops/sign.h"
#include "support/crypto_fixture.h"
#include "support/fault_platform.h"
#include "support/log_lines.h"
#include "support/temp_profile.h"

extern const Bytes kData;
// The lines of a good decryption up to its key-exchange key.
extern const std::vector<std::string> kDecryptionUpToKey;

// A provider error no step of a signing produces, to see whether one was written.
const uint32_t kUntouchedProviderError = 0x0badf00d;
// The Windows error the failure tests inject.
const DWORD kInjected = 0x80090020;

// A log message with its "%x" completed, by default with the injected error.
std::string withError(const char* message, unsigned error = kInjected);
// The first `count` of `lines`, then `rest`.
std::vector<std::string> firstLinesThen(const std::vector<std::string>& lines, size_t count,
                                        const std::vector<std::string>& rest);

class KeyopsTest : public ::testing::Test {
protected:
    KeyopsTest();

    // An RSA-1024 exchange key of the AES provider unless the request says otherwise.
    static IdentityRequest smallKey();
    TestIdentity makeIdentity(const IdentityRequest& request = smallKey());

    std::vector<std::string> log() const { return logMessages(profile_.readLog()); }
    // The outcome of the last call, as the call itself tells it.
    keyops::Outcome outcome_;
    // The log with the algorithm lines (which depend on the provider) taken out.
    std::vector<std::string> logWithoutAlgorithms() const;
    void forgetLog() const;

    TempProfile profile_;
    std::unique_ptr<CryptoFixture> fixture_ = makeCryptoFixture();
};

struct SignRequest {
    ALG_ID digestAlgorithm = CALG_SHA1;
    const char* keyAlgorithm = "RSA";
    Bytes data = kData;
    const char* pin = nullptr;
    bool dataIsHash = false;
    // The provider's call log, decided once; none for the ten natives' line by line.
    diagnostics::LogSession* session = nullptr;
};

class SigningTest : public KeyopsTest {
protected:
    // Runs the signing with the certificate's encoding; the log is emptied first.
    int sign(const Bytes& certificate, const SignRequest& request = {});

    Bytes signature_;
};

class DecryptionTest : public KeyopsTest {
protected:
    // Runs the decryption with the certificate's encoding and a PIN, if one is given; the log is
    // emptied first.
    int decrypt(const Bytes& certificate, const Bytes& cipherText, const char* pin = nullptr);

    Bytes plainText_;
};

// Fails the test unless every acquisition through the platform has been released.
#define EXPECT_ALL_RELEASED(platform) \
    EXPECT_TRUE((platform).allReleased()) << (platform).describeOutstanding()
