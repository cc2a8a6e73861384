#include "unit/keyops_test_support.h"

#include <cstdio>

#include "diagnostics/log.h"

using namespace common;
using namespace diagnostics;
using namespace keyops;

const Bytes kData = {'d', 'a', 't', 'a', ' ', 't', 'o', ' ', 's', 'i', 'g', 'n'};

const std::vector<std::string> kDecryptionUpToKey = {
    "########## Decrypt ##########",
    "CertOpenStore success",
    "Certificate found",
    "CertGetCertificateContextProperty# success",
    "CertGetCertificateContextProperty success",
    "CryptAcquireContext success",
    "CryptGetUserKey success",
};

std::string withError(const char* message, unsigned error) {
    char text[kLogMessageCapacity];
    std::snprintf(text, sizeof(text), message, error);
    return text;
}

std::vector<std::string> firstLinesThen(const std::vector<std::string>& lines, size_t count,
                                        const std::vector<std::string>& rest) {
    std::vector<std::string> result(lines.begin(), lines.begin() + count);
    result.insert(result.end(), rest.begin(), rest.end());
    return result;
}

KeyopsTest::KeyopsTest() {
    recordStatus(kStatusSuccess);
    recordProviderError(kUntouchedProviderError);
}

IdentityRequest KeyopsTest::smallKey() {
    IdentityRequest request;
    request.key = FixtureKey::Rsa1024;
    return request;
}

TestIdentity KeyopsTest::makeIdentity(const IdentityRequest& request) {
    return fixture_->createIdentity(request);
}

std::vector<std::string> KeyopsTest::logWithoutAlgorithms() const {
    std::vector<std::string> kept;
    for (const std::string& line : log()) {
        if (line.rfind("    ", 0) != 0) kept.push_back(line);
    }
    return kept;
}

void KeyopsTest::forgetLog() const {
    std::remove(profile_.logPath().c_str());
}

int SigningTest::sign(const Bytes& certificate, const SignRequest& request) {
    forgetLog();
    keyops::CallContext context(LogSink(nullptr, nullptr, request.session));
    bool signedData = signWithCertificate(
        context, certificate.data(), static_cast<DWORD>(certificate.size()),
        request.digestAlgorithm, request.keyAlgorithm, request.data.data(),
        static_cast<DWORD>(request.data.size()), signature_, request.pin, request.dataIsHash);
    keyops::recordInStatusWords(context.outcome);
    outcome_ = context.outcome;
    return signedData ? 0 : -1;
}

int DecryptionTest::decrypt(const Bytes& certificate, const Bytes& cipherText, const char* pin) {
    forgetLog();
    SecureBytes plainText;
    keyops::CallContext context;
    bool decrypted = decryptWithCertificate(context, certificate.data(),
                                            static_cast<DWORD>(certificate.size()),
                                            cipherText.data(),
                                            static_cast<DWORD>(cipherText.size()), plainText, pin);
    keyops::recordInStatusWords(context.outcome);
    outcome_ = context.outcome;
    plainText_.assign(plainText.data(), plainText.data() + plainText.size());
    return decrypted ? 0 : -1;
}
