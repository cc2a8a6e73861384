// What the tests of the shipped DLL share: the DLL's natives called through the fake JNI
// environment, in a scratch profile whose log is on, with identities made through CryptoAPI.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/crypto_fixture.h"
#include "support/temp_profile.h"
#include "windows/fake_jni_env.h"
#include "windows/dll_image.h"

// The status codes the tests meet, as Java reads them with getLastError.
const jint kSuccess = 0;
const jint kNoKeyContainer = 6;
const jint kCertificateNotFound = 8;
const jint kDecryptionFailed = 22;

class DllTest : public ::testing::Test {
protected:
    void SetUp() override;
    // Every test also proves that the natives used JNI as a virtual machine allows.
    void TearDown() override;

    const KeystoreExports& natives() const { return keystoreDll().exports(); }
    jint lastError() { return jni_.call(natives().getLastError); }
    jint providerError() { return jni_.call(natives().getError); }

    // An RSA-1024 exchange key of the AES provider in "My", unless the request says otherwise.
    TestIdentity makeIdentity(IdentityRequest request = smallKey());
    static IdentityRequest smallKey();

    // A Java byte[] of the bytes, and the contents of a byte[] a native returned (false when it
    // returned null).
    jbyteArray javaBytes(const Bytes& bytes) { return jni_.newByteArray(bytes); }
    bool read(jbyteArray result, Bytes& bytes);

    // The messages forwarded to logJNI since the log was last forgotten; forgetting also deletes
    // the log file.
    const std::vector<std::string>& forwarded() const { return jni_.loggedToJava(); }
    void forgetLog();

    TempProfile profile_;
    std::unique_ptr<CryptoFixture> fixture_ = makeCryptoFixture();
    FakeJniEnv jni_;
};

// Whether `signature`, most significant byte first as the natives give it, verifies against the
// certificate once turned back into the provider's order.
bool verifies(CryptoFixture& fixture, const Bytes& certificate, ALG_ID algorithm, const Bytes& data,
              const Bytes& signature);

// Fails the test unless the log file holds exactly the messages forwarded to Java, in order, each
// as "MM/DD/YY HH:MM:SS - message" ending in CR LF (a line feed inside a message starting a line
// of its own), and nothing else.
void expectLogFileHolds(const std::string& file, const std::vector<std::string>& forwarded);
