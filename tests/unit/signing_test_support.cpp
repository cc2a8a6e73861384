#include "unit/signing_test_support.h"

#include <cstdio>

const char kAesProvider[] = "Microsoft Enhanced RSA and AES Cryptographic Provider";
const char kDssDhProvider[] = "Microsoft Base DSS and Diffie-Hellman Cryptographic Provider";
const Bytes kData = {'d', 'a', 't', 'a', ' ', 't', 'o', ' ', 's', 'i', 'g', 'n'};

SigningTest::SigningTest() {
    recordStatus(kStatusSuccess);
    recordProviderError(kUntouchedProviderError);
}

softcapi::admin::Identity SigningTest::makeIdentity(softcapi::admin::KeyPlacement placement,
                                                    softcapi::admin::KeyType type) {
    softcapi::admin::IdentityOptions options;
    options.subject = "CN=Signer";
    options.keyType = type;
    options.placement = std::move(placement);
    return softcapi::admin::createIdentity(options);
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
