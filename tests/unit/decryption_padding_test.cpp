// Decryption with the one padding the provider's cipher asked for: a ciphertext of the other
// padding, or of other OAEP parameters, never yields a plaintext.
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <filesystem>
#include <memory>
#include <random>

#include "keyops/held_key.h"
#include "support/openssl_check.h"
#include "unit/keyops_test_support.h"

using namespace diagnostics;
using namespace keyops;
using common::SecureBytes;

namespace {

const Bytes kSecret = {'o', 'n', 'e', ' ', 'p', 'a', 'd', 'd', 'i', 'n', 'g'};

using PkeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using ContextPtr = std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)>;

// OAEP parameters other than the SHA-1, MGF1 over SHA-1 and no label a CSP removes.
struct OaepParameters {
    const EVP_MD* digest;
    const EVP_MD* mgf1Digest;
    Bytes label;
};

// A ciphertext OpenSSL makes for the certificate's key with those parameters.
class OaepEncrypter {
public:
    OaepEncrypter(const Bytes& certificate, const OaepParameters& parameters)
        : key_(nullptr, EVP_PKEY_free), context_(nullptr, EVP_PKEY_CTX_free) {
        const unsigned char* der = certificate.data();
        std::unique_ptr<X509, decltype(&X509_free)> parsed(
            d2i_X509(nullptr, &der, static_cast<long>(certificate.size())), X509_free);
        if (!parsed) throw std::runtime_error("not a certificate");
        key_.reset(X509_get_pubkey(parsed.get()));
        context_.reset(EVP_PKEY_CTX_new(key_.get(), nullptr));
        bool ready = context_ && EVP_PKEY_encrypt_init(context_.get()) == 1 &&
                     EVP_PKEY_CTX_set_rsa_padding(context_.get(), RSA_PKCS1_OAEP_PADDING) == 1 &&
                     EVP_PKEY_CTX_set_rsa_oaep_md(context_.get(), parameters.digest) == 1 &&
                     EVP_PKEY_CTX_set_rsa_mgf1_md(context_.get(), parameters.mgf1Digest) == 1;
        if (ready && !parameters.label.empty()) {
            void* label = OPENSSL_memdup(parameters.label.data(), parameters.label.size());
            ready = label != nullptr &&
                    EVP_PKEY_CTX_set0_rsa_oaep_label(context_.get(), label,
                                                     static_cast<int>(parameters.label.size())) == 1;
        }
        if (!ready) throw std::runtime_error("OpenSSL cannot make that OAEP");
    }

    Bytes encrypt(const Bytes& message) {
        Bytes out(static_cast<size_t>(EVP_PKEY_get_size(key_.get())));
        size_t length = out.size();
        if (EVP_PKEY_encrypt(context_.get(), out.data(), &length, message.data(), message.size()) != 1)
            throw std::runtime_error("OpenSSL could not encrypt");
        out.resize(length);
        return out;
    }

private:
    PkeyPtr key_;
    ContextPtr context_;
};

class DecryptionPadding : public KeyopsTest {
protected:
    // The provider's decryption with one padding, with the key held; the log is emptied first.
    bool decrypt(HeldKey& key, const Bytes& cipherText, RsaPadding padding) {
        forgetLog();
        SecureBytes plainText;
        CallContext context;
        bool decrypted = key.decrypt(context, padding, cipherText.data(),
                                     static_cast<DWORD>(cipherText.size()), plainText);
        outcome_ = context.outcome;
        plainText_.assign(plainText.data(), plainText.data() + plainText.size());
        return decrypted;
    }

    Bytes plainText_;
};

std::vector<std::string> operationLines(const std::string& line) {
    return {"########## Decrypt with held key ##########", line, "Held key operation finished"};
}

// Each padding removes itself with one call to the container, and refuses the other padding's
// ciphertext as status 22 without trying anything else.
TEST_F(DecryptionPadding, EachPaddingRemovesItselfAndRefusesTheOther) {
    TestIdentity identity = makeIdentity();
    const Bytes pkcs1 = opensslEncrypt(identity.certificate, kSecret, false);
    const Bytes oaep = opensslEncrypt(identity.certificate, kSecret, true);
    FaultInjectingPlatform platform;
    auto key = std::make_unique<HeldKey>(StoreLocation::CurrentUser,
                                         identity.certificate.data(), identity.certificate.size(),
                                         "RSA", SecureBytes());

    ASSERT_TRUE(decrypt(*key, pkcs1, RsaPadding::Pkcs1)) << outcome_.code();
    EXPECT_EQ(plainText_, kSecret);
    std::vector<std::string> opened = {"########## Decrypt with held key ##########",
                                       "Opening the key for decryption"};
    opened.insert(opened.end(), kDecryptionUpToKey.begin() + 1, kDecryptionUpToKey.end());
    for (const char* line : {"Public key is the certificate's", "CertCloseStore success",
                             "Key held for decryption", "CryptDecrypt success",
                             "Held key operation finished"})
        opened.push_back(line);
    EXPECT_EQ(log(), opened);

    ASSERT_TRUE(decrypt(*key, oaep, RsaPadding::Oaep)) << outcome_.code();
    EXPECT_EQ(plainText_, kSecret);
    EXPECT_EQ(log(), operationLines("CryptDecrypt success (CRYPT_OAEP)"));

    EXPECT_FALSE(decrypt(*key, pkcs1, RsaPadding::Oaep));
    EXPECT_TRUE(plainText_.empty());
    EXPECT_EQ(outcome_.code(), kStatusDecryptionFailed);
    EXPECT_EQ(outcome_.step(), std::string("CryptDecrypt"));
    EXPECT_EQ(log(), operationLines(withError("CryptDecrypt error (CRYPT_OAEP): %x",
                                              static_cast<unsigned>(NTE_BAD_DATA))));
    EXPECT_EQ(platform.calls(PlatformOp::CryptDecrypt), 3);
    key.reset();
    EXPECT_ALL_RELEASED(platform);
}

// The fault of a PKCS #1 v1.5 attempt before OAEP: about one OAEP block in four hundred passes the
// PKCS #1 v1.5 check and came back as a wrong plaintext. Asked for OAEP, none of 100,000
// ciphertexts of other OAEP parameters yields anything; asked for PKCS #1 v1.5, some of the same
// kind do, which shows these ciphertexts are the ones that fooled it.
TEST_F(DecryptionPadding, NoCipherTextOfOtherOaepParametersEverYieldsAPlainText) {
    // Without the log folder nothing is written, so that the count takes seconds, not minutes.
    std::filesystem::remove_all(std::filesystem::path(profile_.logPath()).parent_path());
    TestIdentity identity = makeIdentity();
    HeldKey key(StoreLocation::CurrentUser, identity.certificate.data(),
                identity.certificate.size(), "RSA", SecureBytes());
    const std::vector<OaepParameters> others = {
        {EVP_sha256(), EVP_sha256(), {}},
        {EVP_sha256(), EVP_sha1(), {}},
        {EVP_sha1(), EVP_sha256(), {}},
        {EVP_sha1(), EVP_sha1(), {'l', 'a', 'b', 'e', 'l'}},
    };
    const int kPerParameters = 25000;
    const int kAlsoAsPkcs1 = 2500;
    std::mt19937 random(20261209);
    int yielded = 0;
    int otherStatus = 0;
    int acceptedAsPkcs1 = 0;
    for (const OaepParameters& parameters : others) {
        OaepEncrypter encrypter(identity.certificate, parameters);
        for (int i = 0; i < kPerParameters; ++i) {
            Bytes message(1 + random() % 40);
            for (BYTE& byte : message) byte = static_cast<BYTE>(random());
            const Bytes cipherText = encrypter.encrypt(message);
            if (decrypt(key, cipherText, RsaPadding::Oaep))
                ++yielded;
            else if (outcome_.code() != kStatusDecryptionFailed)
                ++otherStatus;
            if (i < kAlsoAsPkcs1 && decrypt(key, cipherText, RsaPadding::Pkcs1))
                ++acceptedAsPkcs1;
        }
    }
    EXPECT_EQ(yielded, 0) << "of " << others.size() * kPerParameters;
    EXPECT_EQ(otherStatus, 0);
    EXPECT_GT(acceptedAsPkcs1, 0) << "of " << others.size() * kAlsoAsPkcs1;
}

}  // namespace
