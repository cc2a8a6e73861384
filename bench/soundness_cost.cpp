// What soundness costs: every signature is checked against its certificate before it is
// returned, and a decryption that PKCS #1 v1.5 accepts is tried with OAEP as well. Times, side by
// side in one run, a whole signing and decryption through the core and the added calls alone, on
// the platform's CryptoAPI (the software one here, Windows' or Wine's in the cross build).
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "keyops/certificate_walk.h"
#include "keyops/decrypt.h"
#include "keyops/handles.h"
#include "keyops/sign.h"
#include "support/crypto_fixture.h"
#include "support/temp_profile.h"
#include "timing.h"

using namespace common;
using namespace keyops;

namespace {

const int kRounds = 15;
const int kBatch = 20;
const Bytes kData(1024, 0x5a);
const Bytes kSecret = {'s', 'e', 'c', 'r', 'e', 't'};

void require(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(what);
}

// The certificate's context in "My", its container and key, and a hash signed there: what the
// added calls work on.
struct Prepared {
    ScopedStore store;
    ScopedCertContext certificate;
    ScopedProvider provider;
    ScopedKey exchangeKey;
    ScopedHash hash;
    Bytes signature;  // as the provider wrote it
};

void prepare(const TestIdentity& identity, Prepared& out) {
    const CryptoPlatform& platform = cryptoPlatform();
    out.store.reset(platform.CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                           CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG,
                                           u"My"));
    require(out.store.valid(), "My did not open");
    out.certificate = walkCertificates(out.store.get(), [&](PCCERT_CONTEXT context) {
        return hasEncoding(context, identity.certificate.data(),
                           static_cast<DWORD>(identity.certificate.size()));
    });
    require(out.certificate.valid(), "certificate not found");
    require(platform.CryptAcquireContextA(out.provider.put(), identity.container.c_str(),
                                          identity.provider.c_str(), identity.providerType, 0) &&
                platform.CryptGetUserKey(out.provider.get(), AT_KEYEXCHANGE, out.exchangeKey.put()) &&
                platform.CryptCreateHash(out.provider.get(), CALG_SHA_256, 0, 0, out.hash.put()) &&
                platform.CryptHashData(out.hash.get(), kData.data(),
                                       static_cast<DWORD>(kData.size()), 0),
            "container not ready");
    DWORD length = 0;
    require(platform.CryptSignHashA(out.hash.get(), AT_KEYEXCHANGE, nullptr, 0, nullptr, &length),
            "no signature size");
    out.signature.resize(length);
    require(platform.CryptSignHashA(out.hash.get(), AT_KEYEXCHANGE, nullptr, 0,
                                    out.signature.data(), &length),
            "signing failed");
}

// The check every signing now makes before its signature goes out.
void verify(const Prepared& prepared) {
    const CryptoPlatform& platform = cryptoPlatform();
    ScopedKey key;
    require(platform.CryptImportPublicKeyInfo(prepared.provider.get(), X509_ASN_ENCODING,
                                              &prepared.certificate.get()->pCertInfo->SubjectPublicKeyInfo,
                                              key.put()) &&
                platform.CryptVerifySignatureA(prepared.hash.get(), prepared.signature.data(),
                                               static_cast<DWORD>(prepared.signature.size()),
                                               key.get(), nullptr, 0),
            "verification failed");
}

// The OAEP attempt every PKCS #1 v1.5 success is now confirmed with (it fails for a real one).
void confirm(const Prepared& prepared, const Bytes& cipherText) {
    Bytes buffer(cipherText.rbegin(), cipherText.rend());
    DWORD length = static_cast<DWORD>(buffer.size());
    require(!cryptoPlatform().CryptDecrypt(prepared.exchangeKey.get(), 0, TRUE, CRYPT_OAEP,
                                           buffer.data(), &length),
            "a PKCS #1 v1.5 block passed as OAEP");
}

}  // namespace

int main() {
    TempProfile profile(TempProfile::LogFolder::Absent);
    std::unique_ptr<CryptoFixture> fixture = makeCryptoFixture();
    IdentityRequest request;
    request.key = FixtureKey::Rsa2048;
    TestIdentity identity = fixture->createIdentity(request);
    Bytes cipherText = fixture->encryptFor(identity.certificate, kSecret, false);
    Prepared prepared;
    prepare(identity, prepared);

    std::vector<double> signing, verifying, decrypting, confirming;
    for (int round = 0; round < kRounds; ++round) {
        signing.push_back(microsecondsPerCall(kBatch, [&] {
            std::vector<BYTE> signature;
            CallContext context;
            require(signWithCertificate(context, identity.certificate.data(),
                                        static_cast<DWORD>(identity.certificate.size()), CALG_SHA_256,
                                        "RSA", kData.data(), static_cast<DWORD>(kData.size()),
                                        signature, nullptr, false),
                    "signing through the core failed");
        }));
        verifying.push_back(microsecondsPerCall(kBatch, [&] { verify(prepared); }));
        decrypting.push_back(microsecondsPerCall(kBatch, [&] {
            SecureBytes plainText;
            CallContext context;
            require(decryptWithCertificate(context, identity.certificate.data(),
                                           static_cast<DWORD>(identity.certificate.size()),
                                           cipherText.data(), static_cast<DWORD>(cipherText.size()),
                                           plainText),
                    "decryption through the core failed");
        }));
        confirming.push_back(microsecondsPerCall(kBatch, [&] { confirm(prepared, cipherText); }));
    }
    std::printf("RSA-2048, logging off, medians of %d rounds of %d calls\n", kRounds, kBatch);
    std::printf("signing (SHA-256, 1 KiB) %8.1f us, of which the signature check %7.1f us (%.1f%%)\n",
                median(signing), median(verifying), 100 * median(verifying) / median(signing));
    std::printf("decryption (PKCS #1)     %8.1f us, of which the OAEP confirmation %7.1f us (%.1f%%)\n",
                median(decrypting), median(confirming), 100 * median(confirming) / median(decrypting));
    return 0;
}
