#include "unit/signing_test_support.h"

#include <cstdio>

const Bytes kData = {'d', 'a', 't', 'a', ' ', 't', 'o', ' ', 's', 'i', 'g', 'n'};

SigningTest::SigningTest() {
    recordStatus(kStatusSuccess);
    recordProviderError(kUntouchedProviderError);
}

IdentityRequest SigningTest::smallKey() {
    IdentityRequest request;
    request.key = FixtureKey::Rsa1024;
    return request;
}

TestIdentity SigningTest::makeIdentity(const IdentityRequest& request) {
    return fixture_->createIdentity(request);
}

int SigningTest::sign(const Bytes& certificate, const SignRequest& request) {
    std::remove(profile_.logPath().c_str());
    return signWithCertificate(nullptr, certificate.data(), static_cast<DWORD>(certificate.size()),
                               request.digestAlgorithm, request.keyAlgorithm, request.data.data(),
                               static_cast<DWORD>(request.data.size()), signature_, request.pin,
                               request.dataIsHash);
}

std::vector<std::string> SigningTest::logWithoutAlgorithms() const {
    std::vector<std::string> kept;
    for (const std::string& line : log()) {
        if (line.rfind("    ", 0) != 0) kept.push_back(line);
    }
    return kept;
}
