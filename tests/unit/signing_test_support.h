// What the signing tests share: a profile whose log is on, identities made in the key store,
// and a call of signWithCertificate whose log and status are read back.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diagnostics/status.h"
#include "keyops/sign.h"
#include "support/crypto_fixture.h"
#include "support/fault_platform.h"
#include "support/log_lines.h"
#include "support/temp_profile.h"

using Bytes = std::vector<BYTE>;

extern const Bytes kData;

// A provider error no step of a signing produces, to see whether one was written.
const uint32_t kUntouchedProviderError = 0x0badf00d;

struct SignRequest {
    ALG_ID digestAlgorithm = CALG_SHA1;
    const char* keyAlgorithm = "RSA";
    Bytes data = kData;
    const char* pin = nullptr;
    bool dataIsHash = false;
};

class SigningTest : public ::testing::Test {
protected:
    SigningTest();

    // An RSA-1024 exchange key of the AES provider unless the request says otherwise.
    static IdentityRequest smallKey();
    TestIdentity makeIdentity(const IdentityRequest& request = smallKey());
    // Runs the signing with the certificate's encoding; the log is emptied first.
    int sign(const Bytes& certificate, const SignRequest& request = {});

    std::vector<std::string> log() const { return logMessages(profile_.readLog()); }
    // The log with the algorithm lines (which depend on the provider) taken out.
    std::vector<std::string> logWithoutAlgorithms() const;

    TempProfile profile_;
    std::unique_ptr<CryptoFixture> fixture_ = makeCryptoFixture();
    Bytes signature_;
};

// Fails the test unless every acquisition through the platform has been released.
#define EXPECT_ALL_RELEASED(platform) \
    EXPECT_TRUE((platform).allReleased()) << (platform).describeOutstanding()
