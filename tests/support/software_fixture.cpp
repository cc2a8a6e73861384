// The test fixture over the software key store of the current profile: identities made by the
// administration API, signatures and ciphertexts judged and made by OpenSSL.
#include <stdexcept>

#include "softcapi/admin/admin.h"
#include "softcapi/admin/support.h"
#include "softcapi/crypto/openssl_util.h"
#include "support/crypto_fixture.h"
#include "support/openssl_check.h"

namespace {

using softcapi::admin::KeyType;

KeyType keyTypeOf(FixtureKey key) {
    switch (key) {
        case FixtureKey::Rsa1024: return KeyType::Rsa1024;
        case FixtureKey::Rsa2048: return KeyType::Rsa2048;
        case FixtureKey::Dsa1024: return KeyType::Dsa1024;
        case FixtureKey::EcP256: return KeyType::EcP256;
        case FixtureKey::EcP384: return KeyType::EcP384;
    }
    throw std::logic_error("unknown key");
}

class SoftwareFixture : public CryptoFixture {
public:
    // The software key store holds every key type the tests ask for, PINs included.
    std::string unsupportedReason(const IdentityRequest&) override { return {}; }

    TestIdentity createIdentity(const IdentityRequest& request) override {
        softcapi::admin::IdentityOptions options;
        options.subject = "CN=Conformance";
        options.keyType = keyTypeOf(request.key);
        options.placement.keySpec = request.keySpec;
        options.placement.container = request.container;
        options.placement.provider = request.provider;
        options.placement.providerType = request.providerType;
        options.placement.pin = request.pin;
        options.placement.store = request.store;
        options.placement.location =
            request.machine ? softcapi::Location::LocalMachine : softcapi::Location::CurrentUser;
        softcapi::admin::Identity made = softcapi::admin::createIdentity(options);
        return {made.certificate, made.binding.container, made.binding.provider,
                made.binding.providerType, made.binding.keySpec, request.machine};
    }

    Bytes createCertificate(const std::string& subject) override {
        softcapi::admin::IdentityOptions options;
        options.subject = "CN=" + subject;
        options.keyType = KeyType::Rsa1024;
        options.placement.store = "QdieFixtureScratch";
        return softcapi::admin::createIdentity(options).certificate;
    }

    Bytes createCertificateBoundTo(const TestIdentity& keyHolder) override {
        Bytes certificate = createCertificate("Bound Elsewhere");
        const softcapi::KeyBinding binding{keyHolder.container, keyHolder.provider,
                                              keyHolder.providerType, keyHolder.keySpec};
        softcapi::admin::changeKeystore([&](softcapi::Connection& db) {
            softcapi::putCertificate(db, "My", certificate,
                                     softcapi::sha1Of(certificate.data(), certificate.size()),
                                     &binding);
        });
        return certificate;
    }

    bool verifySignature(const Bytes& certificate, ALG_ID hashAlgorithm, const Bytes& message,
                         const Bytes& signature) override {
        return opensslVerifies(certificate, hashAlgorithm, message, signature);
    }

    Bytes encryptFor(const Bytes& certificate, const Bytes& plainText, bool oaep) override {
        return opensslEncrypt(certificate, plainText, oaep);
    }
};

}  // namespace

std::unique_ptr<CryptoFixture> makeCryptoFixture() {
    return std::make_unique<SoftwareFixture>();
}

bool refusesAnotherKeysSignature(DWORD error) {
    return error == static_cast<DWORD>(NTE_BAD_SIGNATURE);
}
