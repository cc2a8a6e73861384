// Keys made and installed by the core over the software CryptoAPI: imported (RSA into the CSP and
// the key storage provider, EC on the three curves) and generated keys that sign for their
// certificates, checked by OpenSSL; a generated key signing by its container before it has a
// certificate; refusals that change nothing; a certificate reply; a container kept while another
// certificate is bound to it; and every platform call failing in turn, after which the stores and
// containers are exactly as they were and nothing is left open.
#include <functional>
#include <memory>
#include <sstream>

#include "keyops/certificate_binding.h"
#include "keyops/held_key.h"
#include "keyops/key_creation.h"
#include "keyops/key_entries.h"
#include "softcapi/admin/admin.h"
#include "support/openssl_check.h"
#include "unit/keyops_test_support.h"
#include "unit/openssl_keys.h"

using namespace diagnostics;
using namespace keyops;

namespace {

const CngPadding kEcdsa = {0, CALG_SHA_256, 0};
const CngPadding kPkcs1 = {BCRYPT_PAD_PKCS1, CALG_SHA_256, 0};
const char kIssuerName[] = "Enrolment Test CA";

softcapi::Location softLocation(StoreLocation location) {
    return location == StoreLocation::LocalMachine ? softcapi::Location::LocalMachine
                                                   : softcapi::Location::CurrentUser;
}

const char* nameOf(StoreLocation location) {
    return location == StoreLocation::LocalMachine ? "machine" : "user";
}

// Everything a call may change, as text: the certificates of "My" and "CA" with their bindings,
// and the containers, in both locations.
std::string storesAndContainers() {
    std::ostringstream text;
    for (softcapi::Location location :
         {softcapi::Location::CurrentUser, softcapi::Location::LocalMachine}) {
        for (const char* store : {"My", "CA"}) {
            for (const auto& entry : softcapi::admin::storeContents(store, location)) {
                // By subject, which the tests keep apart, so that a key made anew reads the same.
                text << store << ' ' << entry.subject;
                if (entry.binding)
                    text << " -> " << entry.binding->container << '/' << entry.binding->provider
                         << '/' << entry.binding->providerType << '/' << entry.binding->keySpec;
                text << '\n';
            }
        }
        for (const auto& container : softcapi::admin::containers(location)) {
            text << "container " << container.name << ' ' << container.family << ' '
                 << container.pinProtected;
            for (DWORD spec : container.keySpecs) text << ' ' << spec;
            text << '\n';
        }
    }
    return text.str();
}

// A key with a certificate of it issued by the test's CA, and the chain it comes with: that CA's
// certificate and another CA's, so that a failure can come between two additions to "CA".
struct Enrolment {
    explicit Enrolment(const std::string& type)
        : key(type),
          issuer("ec-256"),
          issuerCertificate(selfSignedCertificate(issuer, kIssuerName)),
          certificate(issueCertificate(key.publicKeyInfo(), "Enrolled " + type, issuer,
                                       kIssuerName)),
          chain{issuerCertificate, selfSignedCertificate(OpenSslKey("ec-256"), "Another CA")} {}

    OpenSslKey key;
    OpenSslKey issuer;
    Bytes issuerCertificate;
    Bytes certificate;
    CertificateList chain;
};

class KeyEntries : public KeyopsTest {
protected:
    bool install(const Enrolment& enrolment, StoreLocation location, KeyHome home,
                 const std::string& container, const char* pin = "") {
        CallContext context;
        const bool rsa = enrolment.key.isRsa();
        const common::SecureBytes pinBytes = pinOf(pin);
        const bool ok =
            rsa ? installKeyEntry(context, location, container, home, enrolment.key.rsaNumbers(),
                                  pinBytes, enrolment.certificate, enrolment.chain, made_)
                : installKeyEntry(context, location, container, enrolment.key.ecNumbers(),
                                  pinBytes, enrolment.certificate, enrolment.chain, made_);
        outcome_ = context.outcome;
        return ok;
    }

    bool generate(StoreLocation location, KeyHome home, bool ec, DWORD bits,
                  const std::string& container) {
        CallContext context;
        const bool ok = generateKey(context, location, container, home, ec, bits, pinOf(""),
                                    made_, publicKeyInfo_);
        outcome_ = context.outcome;
        return ok;
    }

    bool bind(const Bytes& certificate, const CertificateList& issuers,
              const Bytes& replacing = {}) {
        CallContext context;
        const bool ok = bindCertificate(context, made_, certificate, issuers, replacing);
        outcome_ = context.outcome;
        return ok;
    }

    bool deleteEntry(StoreLocation location, const Bytes& certificate) {
        CallContext context;
        const bool ok = deleteKeyEntry(context, location, certificate);
        outcome_ = context.outcome;
        return ok;
    }

    // A signature by the held key, checked by OpenSSL against the certificate: PKCS #1 v1.5 in a
    // CSP, through CNG for the key storage provider's keys.
    bool signsFor(HeldKey& key, const Bytes& certificate, bool ec, bool cng) {
        const Bytes hash = opensslDigest(CALG_SHA_256, kData);
        Bytes signature;
        CallContext context;
        const bool made =
            cng ? key.signCng(context, ec ? kEcdsa : kPkcs1, hash.data(),
                              static_cast<DWORD>(hash.size()), signature)
                : key.sign(context, CALG_SHA_256, hash.data(), static_cast<DWORD>(hash.size()),
                           signature);
        outcome_ = context.outcome;
        if (!made) return false;
        if (cng)
            return opensslVerifiesCng(certificate, CALG_SHA_256, hash, signature,
                                      ec ? 0 : BCRYPT_PAD_PKCS1);
        return opensslVerifies(certificate, CALG_SHA_256, hash,
                               Bytes(signature.rbegin(), signature.rend()), true);
    }

    bool certificateSigns(StoreLocation location, const Bytes& certificate, bool ec, bool cng,
                          const char* pin = "") {
        HeldKey key(location, certificate.data(), certificate.size(), ec ? "EC" : "RSA",
                    pinOf(pin));
        return signsFor(key, certificate, ec, cng);
    }

    static common::SecureBytes pinOf(const std::string& pin) {
        if (pin.empty()) return {};
        return common::SecureBytes(pin.c_str(), pin.size() + 1);
    }

    ContainerKey made_;
    Bytes publicKeyInfo_;
};

TEST_F(KeyEntries, ImportedKeysSignForTheirCertificatesInEitherLocation) {
    const struct {
        const char* type;
        KeyHome home;
        StoreLocation location;
    } cases[] = {
        {"rsa-2048", KeyHome::Csp, StoreLocation::CurrentUser},
        {"rsa-2048", KeyHome::KeyStorageProvider, StoreLocation::CurrentUser},
        {"ec-256", KeyHome::KeyStorageProvider, StoreLocation::CurrentUser},
        {"ec-384", KeyHome::KeyStorageProvider, StoreLocation::CurrentUser},
        {"ec-521", KeyHome::KeyStorageProvider, StoreLocation::CurrentUser},
        {"rsa-2048", KeyHome::Csp, StoreLocation::LocalMachine},
        {"ec-256", KeyHome::KeyStorageProvider, StoreLocation::LocalMachine},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + nameOf(c.location));
        const Enrolment enrolment(c.type);
        const std::string container = std::string("imported-") + c.type;
        ASSERT_TRUE(install(enrolment, c.location, c.home, container)) << outcome_.code();
        EXPECT_EQ(made_.container, container);
        const bool ec = std::string(c.type).rfind("ec", 0) == 0;
        const bool cng = c.home == KeyHome::KeyStorageProvider;
        EXPECT_EQ(made_.providerType, cng ? 0u : DWORD{PROV_RSA_AES});
        EXPECT_TRUE(certificateSigns(c.location, enrolment.certificate, ec, cng)) << outcome_.code();

        const auto personal = softcapi::admin::storeContents("My", softLocation(c.location));
        ASSERT_EQ(personal.size(), 1u);
        ASSERT_TRUE(personal[0].binding.has_value());
        EXPECT_EQ(personal[0].binding->container, container);
        const auto intermediates = softcapi::admin::storeContents("CA", softLocation(c.location));
        ASSERT_EQ(intermediates.size(), 2u);
        EXPECT_EQ(intermediates[0].encoded, enrolment.chain[0]);
        EXPECT_EQ(intermediates[1].encoded, enrolment.chain[1]);

        ASSERT_TRUE(deleteEntry(c.location, enrolment.certificate)) << outcome_.code();
        EXPECT_TRUE(softcapi::admin::storeContents("My", softLocation(c.location)).empty());
        EXPECT_TRUE(softcapi::admin::containers(softLocation(c.location)).empty());
        for (const auto& intermediate : intermediates)
            softcapi::admin::deleteCertificate("CA", intermediate.thumbprint,
                                               softLocation(c.location));
    }
}

// A generated key signs by its container before any certificate exists, then for the certificate
// issued for its public key once that is bound.
TEST_F(KeyEntries, GeneratedKeysSignBeforeAndAfterTheirCertificate) {
    const struct {
        KeyHome home;
        bool ec;
        DWORD bits;
    } cases[] = {{KeyHome::Csp, false, 2048},
                 {KeyHome::KeyStorageProvider, false, 2048},
                 {KeyHome::KeyStorageProvider, true, 256},
                 {KeyHome::KeyStorageProvider, true, 384}};
    const OpenSslKey issuer("ec-256");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bits);
        const std::string container = "generated-" + std::to_string(c.bits) + (c.ec ? "ec" : "");
        ASSERT_TRUE(generate(StoreLocation::CurrentUser, c.home, c.ec, c.bits, container))
            << outcome_.code();
        const Bytes certificate = issueCertificate(publicKeyInfo_, container, issuer, kIssuerName);
        const bool cng = c.home == KeyHome::KeyStorageProvider;
        const size_t bound = softcapi::admin::storeContents("My").size();
        HeldKey byContainer(made_, publicKeyInfo_, c.ec ? "EC" : "RSA", {});
        EXPECT_TRUE(signsFor(byContainer, certificate, c.ec, cng)) << outcome_.code();
        EXPECT_EQ(softcapi::admin::storeContents("My").size(), bound);

        ASSERT_TRUE(bind(certificate, {})) << outcome_.code();
        EXPECT_TRUE(certificateSigns(StoreLocation::CurrentUser, certificate, c.ec, cng));
    }
}

// A key named by its container is still checked against the public key it must have.
TEST_F(KeyEntries, AContainerHoldingAnotherKeyIsRefusedBeforeItSigns) {
    ASSERT_TRUE(generate(StoreLocation::CurrentUser, KeyHome::KeyStorageProvider, true, 256, "k"));
    const OpenSslKey other("ec-256");
    HeldKey key(made_, other.publicKeyInfo(), "EC", {});
    EXPECT_FALSE(signsFor(key, selfSignedCertificate(other, "Other"), true, true));
    EXPECT_EQ(outcome_.code(), kStatusNoKeyContainer);
    EXPECT_EQ(outcome_.windowsError(), static_cast<DWORD>(NTE_BAD_PUBLIC_KEY));
}

TEST_F(KeyEntries, APinGivenAtImportIsRequiredToSign) {
    for (KeyHome home : {KeyHome::Csp, KeyHome::KeyStorageProvider}) {
        const Enrolment enrolment("rsa-2048");
        const std::string container = home == KeyHome::Csp ? "pin-csp" : "pin-ksp";
        ASSERT_TRUE(install(enrolment, StoreLocation::CurrentUser, home, container, "1234"))
            << outcome_.code();
        const bool cng = home == KeyHome::KeyStorageProvider;
        EXPECT_FALSE(certificateSigns(StoreLocation::CurrentUser, enrolment.certificate, false, cng));
        EXPECT_FALSE(
            certificateSigns(StoreLocation::CurrentUser, enrolment.certificate, false, cng, "4321"));
        EXPECT_TRUE(
            certificateSigns(StoreLocation::CurrentUser, enrolment.certificate, false, cng, "1234"))
            << outcome_.code();
    }
}

// Refusals before anything is made, or of a binding that would not hold: the stores and
// containers stay as they were.
TEST_F(KeyEntries, RefusalsChangeNothing) {
    const Enrolment enrolment("rsa-2048");
    ASSERT_TRUE(install(enrolment, StoreLocation::CurrentUser, KeyHome::Csp, "taken"));
    const ContainerKey taken = made_;
    const std::string before = storesAndContainers();

    const Enrolment second("ec-256");
    EXPECT_FALSE(install(enrolment, StoreLocation::CurrentUser, KeyHome::Csp, "taken"));
    EXPECT_EQ(outcome_.code(), kStatusNoKeyContainer);
    EXPECT_EQ(outcome_.windowsError(), static_cast<DWORD>(NTE_EXISTS));
    EXPECT_FALSE(install(second, StoreLocation::CurrentUser, KeyHome::KeyStorageProvider, ""));
    EXPECT_EQ(outcome_.windowsError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    RsaPrivateKey oddModulus = enrolment.key.rsaNumbers();
    oddModulus.modulus.push_back(1);
    CallContext context;
    EXPECT_FALSE(importKey(context, StoreLocation::CurrentUser, "odd", KeyHome::Csp, oddModulus,
                           {}, made_));
    EXPECT_EQ(context.outcome.code(), kStatusKeyNotImported);
    EXPECT_EQ(context.outcome.windowsError(), static_cast<DWORD>(NTE_BAD_DATA));

    // Certificates of other keys, of the same algorithm or another, are not bound to the taken
    // container.
    made_ = taken;
    const Enrolment sameAlgorithm("rsa-2048");
    EXPECT_FALSE(bind(sameAlgorithm.certificate, sameAlgorithm.chain));
    EXPECT_EQ(outcome_.code(), kStatusCertificateNotBound);
    EXPECT_EQ(outcome_.windowsError(), static_cast<DWORD>(NTE_BAD_PUBLIC_KEY));
    EXPECT_FALSE(bind(second.certificate, second.chain));
    EXPECT_EQ(outcome_.code(), kStatusCertificateNotBound);
    EXPECT_EQ(storesAndContainers(), before);
}

// A certificate reply: a held key binds its first certificate and then the reply to the same
// container, the certificate it replaces deleted; it keeps signing, as does a key opened anew for
// the reply; an issuer "Root" holds is not copied to "CA".
TEST_F(KeyEntries, AHeldKeyBindsItsCertificateThenAReplyReplacesIt) {
    ASSERT_TRUE(generate(StoreLocation::CurrentUser, KeyHome::Csp, false, 1024, "replied"));
    const OpenSslKey issuer("ec-256");
    const Bytes root = selfSignedCertificate(issuer, kIssuerName);
    softcapi::admin::addCertificate("Root", root);
    const Bytes first = issueCertificate(publicKeyInfo_, "First", issuer, kIssuerName);
    const Bytes reply = issueCertificate(publicKeyInfo_, "Reply", issuer, kIssuerName);
    HeldKey held(made_, publicKeyInfo_, "RSA", {});
    ASSERT_TRUE(signsFor(held, first, false, false));
    for (const Bytes& certificate : {first, reply}) {
        CallContext context;
        ASSERT_TRUE(held.bindCertificate(context, certificate, {root}))
            << context.outcome.code() << " " << context.outcome.step();
        EXPECT_TRUE(signsFor(held, certificate, false, false));
        const auto personal = softcapi::admin::storeContents("My");
        ASSERT_EQ(personal.size(), 1u);
        EXPECT_EQ(personal[0].encoded, certificate);
        ASSERT_TRUE(personal[0].binding.has_value());
        EXPECT_EQ(personal[0].binding->container, "replied");
    }
    EXPECT_TRUE(softcapi::admin::storeContents("CA").empty());
    EXPECT_TRUE(certificateSigns(StoreLocation::CurrentUser, reply, false, false));
    EXPECT_FALSE(certificateSigns(StoreLocation::CurrentUser, first, false, false));
    EXPECT_EQ(outcome_.code(), kStatusCertificateNotFound);
}

TEST_F(KeyEntries, AContainerStillBoundIsKeptUntilItsLastCertificateGoes) {
    ASSERT_TRUE(generate(StoreLocation::CurrentUser, KeyHome::KeyStorageProvider, true, 256, "two"));
    const OpenSslKey issuer("ec-256");
    const Bytes first = issueCertificate(publicKeyInfo_, "First", issuer, kIssuerName);
    const Bytes second = issueCertificate(publicKeyInfo_, "Second", issuer, kIssuerName);
    ASSERT_TRUE(bind(first, {}));
    ASSERT_TRUE(bind(second, {}));
    ASSERT_TRUE(deleteEntry(StoreLocation::CurrentUser, first));
    EXPECT_EQ(softcapi::admin::containers().size(), 1u);
    EXPECT_TRUE(certificateSigns(StoreLocation::CurrentUser, second, true, true));
    ASSERT_TRUE(deleteEntry(StoreLocation::CurrentUser, second));
    EXPECT_TRUE(softcapi::admin::containers().empty());
    EXPECT_FALSE(deleteEntry(StoreLocation::CurrentUser, second));
    EXPECT_EQ(outcome_.code(), kStatusCertificateNotDeleted);
    EXPECT_EQ(outcome_.windowsError(), static_cast<DWORD>(CRYPT_E_NOT_FOUND));
}

// Each failable platform call of an operation failing in turn: a failure leaves the stores and
// containers exactly as they were, a success (a failure the operation may ride out, such as a
// release's) leaves the operation's whole result, and nothing stays open either way.
class KeyEntryFaults : public KeyEntries {
protected:
    // Back to an empty key store: no certificates in "My" and "CA", no containers.
    static void wipe() {
        for (const char* store : {"My", "CA"}) {
            for (const auto& entry : softcapi::admin::storeContents(store))
                softcapi::admin::deleteCertificate(store, entry.thumbprint);
        }
        for (const auto& container : softcapi::admin::containers())
            softcapi::admin::deleteContainer(container.name,
                                             container.family == "KSP" ? kSoftwareKspName
                                                                       : kAesCspName);
    }

    // `prepare` runs outside the counting, from an empty key store; `run` under it.
    void sweep(const std::function<void()>& prepare, const std::function<bool()>& run) {
        int calls = 0;
        wipe();
        prepare();
        const std::string before = storesAndContainers();
        {
            FaultInjectingPlatform platform;
            ASSERT_TRUE(run()) << outcome_.code();
            calls = platform.failableCalls();
            EXPECT_ALL_RELEASED(platform);
        }
        const std::string after = storesAndContainers();
        ASSERT_NE(after, before);
        for (int nth = 1; nth <= calls; ++nth) {
            SCOPED_TRACE(nth);
            wipe();
            prepare();
            ASSERT_EQ(storesAndContainers(), before);
            bool ok = false;
            std::vector<PlatformOp> sequence;
            {
                FaultInjectingPlatform platform;
                platform.failOverallCall(nth, kInjected);
                ok = run();
                sequence = platform.callSequence();
                EXPECT_ALL_RELEASED(platform);
            }
            EXPECT_EQ(ok, outcome_.succeeded());
            EXPECT_EQ(storesAndContainers(), ok ? after : before)
                << (ok ? "succeeded" : "failed") << " with "
                << platformOpName(sequence.at(failedIndex(sequence, nth))) << " failing";
        }
    }

    // Where in the sequence the nth failable call is.
    static size_t failedIndex(const std::vector<PlatformOp>& sequence, int nth) {
        int failable = 0;
        for (size_t i = 0; i < sequence.size(); ++i) {
            if (sequence[i] != PlatformOp::GetForegroundWindow && ++failable == nth) return i;
        }
        return 0;
    }
};

TEST_F(KeyEntryFaults, InstallingAKeyEntry) {
    for (const char* type : {"rsa-2048", "ec-384"}) {
        SCOPED_TRACE(type);
        const Enrolment enrolment(type);
        const KeyHome home =
            std::string(type) == "rsa-2048" ? KeyHome::Csp : KeyHome::KeyStorageProvider;
        sweep([] {},
              [&] { return install(enrolment, StoreLocation::CurrentUser, home, "entry"); });
    }
}

TEST_F(KeyEntryFaults, GeneratingAKeyAndBindingItsCertificate) {
    const OpenSslKey issuer("ec-256");
    const CertificateList chain = {selfSignedCertificate(issuer, kIssuerName),
                                   selfSignedCertificate(OpenSslKey("ec-256"), "Another CA")};
    for (bool ec : {false, true}) {
        SCOPED_TRACE(ec ? "EC" : "RSA");
        sweep([] {}, [&] {
            if (!generate(StoreLocation::CurrentUser, ec ? KeyHome::KeyStorageProvider : KeyHome::Csp,
                          ec, ec ? 256 : 1024, "generated"))
                return false;
            const Bytes certificate =
                issueCertificate(publicKeyInfo_, "Generated", issuer, kIssuerName);
            if (bind(certificate, chain)) return true;
            // What the provider does when a binding fails: the new container goes too.
            const Outcome failure = outcome_;
            CallContext context;
            deleteContainer(context, made_);
            outcome_ = failure;
            return false;
        });
    }
}

TEST_F(KeyEntryFaults, DeletingAKeyEntry) {
    for (KeyHome home : {KeyHome::Csp, KeyHome::KeyStorageProvider}) {
        const Enrolment enrolment("rsa-2048");
        sweep([&] { ASSERT_TRUE(install(enrolment, StoreLocation::CurrentUser, home, "deleted")); },
              [&] { return deleteEntry(StoreLocation::CurrentUser, enrolment.certificate); });
    }
}

}  // namespace
