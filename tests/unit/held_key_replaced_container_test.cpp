// A container deleted and made again under the same name while a key of it is held: the held key
// keeps the key it was opened with, so its signatures stay the old certificate's, and no key
// opened afterwards for the old certificate signs with the new key.
#include <memory>

#include "keyops/held_key.h"
#include "softcapi/admin/admin.h"
#include "support/openssl_check.h"
#include "unit/keyops_test_support.h"

using namespace keyops;

namespace {

class ReplacedContainer : public KeyopsTest {
protected:
    bool sign(HeldKey& key, const CngPadding& padding, const Bytes& hash, Bytes& signature) {
        CallContext context;
        bool ok = key.signCng(context, padding, hash.data(), static_cast<DWORD>(hash.size()),
                              signature);
        outcome_ = context.outcome;
        return ok;
    }
};

TEST_F(ReplacedContainer, NeverYieldsASignatureByTheNewKeyForTheOldCertificate) {
    for (const char* provider : {kKeyStorageProvider, kAesProvider}) {
        SCOPED_TRACE(provider);
        IdentityRequest request;
        request.provider = provider;
        request.keySpec = std::string(provider) == kKeyStorageProvider ? 0 : AT_KEYEXCHANGE;
        request.key = FixtureKey::Rsa2048;
        const TestIdentity old = makeIdentity(request);
        const CngPadding pss = {BCRYPT_PAD_PSS, CALG_SHA_256, 32};
        const Bytes hash = opensslDigest(CALG_SHA_256, kData);
        auto held = std::make_unique<HeldKey>(StoreLocation::CurrentUser,
                                              old.certificate.data(), old.certificate.size(),
                                              "RSA", common::SecureBytes());
        Bytes signature;
        ASSERT_TRUE(sign(*held, pss, hash, signature)) << outcome_.code();

        softcapi::admin::deleteContainer(old.container, old.provider);
        request.container = old.container;
        const TestIdentity replacement = makeIdentity(request);
        ASSERT_EQ(replacement.container, old.container);

        ASSERT_TRUE(sign(*held, pss, hash, signature)) << outcome_.code();
        EXPECT_TRUE(opensslVerifiesCng(old.certificate, CALG_SHA_256, hash, signature, pss.scheme,
                                       pss.saltLength));
        EXPECT_FALSE(opensslVerifiesCng(replacement.certificate, CALG_SHA_256, hash, signature,
                                        pss.scheme, pss.saltLength));

        HeldKey reopened(StoreLocation::CurrentUser, old.certificate.data(),
                         old.certificate.size(), "RSA", common::SecureBytes());
        EXPECT_FALSE(sign(reopened, pss, hash, signature));
        EXPECT_TRUE(signature.empty());
        EXPECT_EQ(outcome_.windowsError(), static_cast<DWORD>(NTE_BAD_PUBLIC_KEY));
    }
}

}  // namespace
