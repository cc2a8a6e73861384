// Keys made and installed by the core over the platform's own CryptoAPI (Wine's RSAENH and
// CRYPT32 in the cross build): an RSA key generated in a new CSP container signs by its container,
// then is bound to a certificate for it and signs by that, in either location; an RSA key imported
// from another container's numbers is that key and is not exportable; a container name in use is
// refused; a key entry deleted takes its container along. Wine keeps no persisted CNG keys: the key
// storage provider's part is proven over the software CryptoAPI.
#include <memory>
#include <string>

#include "keyops/certificate_binding.h"
#include "keyops/held_key.h"
#include "keyops/key_creation.h"
#include "keyops/key_entries.h"
#include "support/capi_handles.h"
#include "support/host.h"
#include "unit/keyops_test_support.h"

using namespace diagnostics;
using namespace keyops;

namespace {

std::string uniqueName(const char* purpose) {
    static LONG counter = 0;
    return std::string("qdie-core-") + purpose + "-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(GetTickCount64()) + "-" + std::to_string(InterlockedIncrement(&counter));
}

// A self-signed certificate of the container's key, made by CRYPT32 itself, named CN=Core.
Bytes selfSignedBy(const ContainerKey& key) {
    BYTE name[] = {0x30, 0x0f, 0x31, 0x0d, 0x30, 0x0b, 0x06, 0x03, 0x55,
                   0x04, 0x03, 0x13, 0x04, 'C',  'o',  'r',  'e'};
    CERT_NAME_BLOB blob = {sizeof(name), name};
    const KeyProvInfo signer(key);
    // CRYPT32 only reads the signer's names.
    capi::CertContext made(CertCreateSelfSignCertificate(
        0, &blob, CERT_CREATE_SELFSIGN_NO_KEY_INFO, const_cast<PCRYPT_KEY_PROV_INFO>(signer.get()),
        nullptr, nullptr, nullptr, nullptr));
    if (!made.valid()) throw capi::failure("CertCreateSelfSignCertificate");
    return Bytes(made.get()->pbCertEncoded, made.get()->pbCertEncoded + made.get()->cbCertEncoded);
}

// Whether a container of that name is there to be opened.
bool containerExists(const ContainerKey& key) {
    capi::Provider provider;
    const DWORD keyset = key.location == StoreLocation::LocalMachine ? CRYPT_MACHINE_KEYSET : 0;
    return CryptAcquireContextA(provider.put(), key.container.c_str(), key.provider.c_str(),
                                key.providerType, keyset | CRYPT_SILENT) != FALSE;
}

bool storeHolds(StoreLocation location, const char* store, const Bytes& certificate) {
    capi::Store handle(CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0,
                                     systemStoreFlag(location) | CERT_STORE_READONLY_FLAG, store));
    if (!handle.valid()) return false;
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertEnumCertificatesInStore(handle.get(), context)) != nullptr) {
        if (context->cbCertEncoded == certificate.size() &&
            std::equal(certificate.begin(), certificate.end(), context->pbCertEncoded)) {
            CertFreeCertificateContext(context);
            return true;
        }
    }
    return false;
}

// The numbers of an exportable key of a scratch container, as Java would hand them over, and
// that container, which the test deletes.
struct ScratchKey {
    ContainerKey container;
    RsaPrivateKey numbers;
};

common::SecureBytes bigEndian(const BYTE* littleEndian, size_t length) {
    common::SecureBytes number(length);
    for (size_t i = 0; i < length; ++i) number[i] = littleEndian[length - 1 - i];
    return number;
}

ScratchKey exportableKey() {
    ScratchKey scratch;
    scratch.container = {StoreLocation::CurrentUser, uniqueName("scratch"), kAesCspName,
                         PROV_RSA_AES, AT_KEYEXCHANGE};
    capi::Provider provider;
    if (!CryptAcquireContextA(provider.put(), scratch.container.container.c_str(), kAesCspName,
                              PROV_RSA_AES, CRYPT_NEWKEYSET | CRYPT_SILENT))
        throw capi::failure("CryptAcquireContextA");
    capi::Key key;
    if (!CryptGenKey(provider.get(), AT_KEYEXCHANGE, (1024 << 16) | CRYPT_EXPORTABLE, key.put()))
        throw capi::failure("CryptGenKey");
    DWORD size = 0;
    if (!CryptExportKey(key.get(), 0, PRIVATEKEYBLOB, 0, nullptr, &size))
        throw capi::failure("CryptExportKey");
    common::SecureBytes blob(size);
    if (!CryptExportKey(key.get(), 0, PRIVATEKEYBLOB, 0, blob.data(), &size))
        throw capi::failure("CryptExportKey");
    RSAPUBKEY header;
    std::memcpy(&header, blob.data() + sizeof(BLOBHEADER), sizeof(header));
    const size_t width = header.bitlen / 8;
    const size_t half = width / 2;
    const BYTE* at = blob.data() + sizeof(BLOBHEADER) + sizeof(RSAPUBKEY);
    auto take = [&](size_t length) {
        common::SecureBytes number = bigEndian(at, length);
        at += length;
        return number;
    };
    RsaPrivateKey& numbers = scratch.numbers;
    common::SecureBytes modulus = take(width);
    numbers.modulus.assign(modulus.data(), modulus.data() + width);
    numbers.prime1 = take(half);
    numbers.prime2 = take(half);
    numbers.exponent1 = take(half);
    numbers.exponent2 = take(half);
    numbers.coefficient = take(half);
    numbers.privateExponent = take(width);
    for (DWORD exponent = header.pubexp; exponent != 0; exponent >>= 8)
        numbers.publicExponent.insert(numbers.publicExponent.begin(),
                                      static_cast<BYTE>(exponent & 0xFF));
    return scratch;
}

// Deletes the certificate from the location's "My" and commits the store: Wine keeps a registry
// store's deletion only when it is committed, and the suites share its prefix.
void removeFromPersonalStore(StoreLocation location, const Bytes& certificate) {
    capi::Store store(
        CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, systemStoreFlag(location), "My"));
    if (!store.valid()) return;
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertEnumCertificatesInStore(store.get(), context)) != nullptr) {
        if (context->cbCertEncoded == certificate.size() &&
            std::equal(certificate.begin(), certificate.end(), context->pbCertEncoded)) {
            CertDeleteCertificateFromStore(context);
            break;
        }
    }
    CertControlStore(store.get(), 0, CERT_STORE_CTRL_COMMIT, nullptr);
}

class KeyCreation : public KeyopsTest {
protected:
    ~KeyCreation() override {
        for (const auto& [location, certificate] : bound_)
            removeFromPersonalStore(location, certificate);
        for (const ContainerKey& key : made_) {
            CallContext context;
            deleteContainer(context, key);
        }
    }

    // Signs kData's hash with the held key in its CSP; the signature as the provider writes it.
    Bytes sign(HeldKey& key) {
        const Bytes hash = digest(kData);
        Bytes signature;
        CallContext context;
        key.sign(context, CALG_SHA_256, hash.data(), static_cast<DWORD>(hash.size()), signature);
        outcome_ = context.outcome;
        return Bytes(signature.rbegin(), signature.rend());
    }

    // SHA-256 by the platform.
    static Bytes digest(const Bytes& data) {
        capi::Provider provider;
        if (!CryptAcquireContextA(provider.put(), nullptr, kAesCspName, PROV_RSA_AES,
                                  CRYPT_VERIFYCONTEXT))
            throw capi::failure("CryptAcquireContextA");
        capi::Hash hash;
        DWORD size = 32;
        Bytes value(size);
        if (!CryptCreateHash(provider.get(), CALG_SHA_256, 0, 0, hash.put()) ||
            !CryptHashData(hash.get(), data.data(), static_cast<DWORD>(data.size()), 0) ||
            !CryptGetHashParam(hash.get(), HP_HASHVAL, value.data(), &size, 0))
            throw capi::failure("SHA-256");
        return value;
    }

    std::vector<ContainerKey> made_;
    // Certificates bound in "My", removed when the test ends whatever it did.
    std::vector<std::pair<StoreLocation, Bytes>> bound_;
};

TEST_F(KeyCreation, AGeneratedKeySignsByItsContainerThenByItsBoundCertificate) {
    for (StoreLocation location : {StoreLocation::CurrentUser, StoreLocation::LocalMachine}) {
        SCOPED_TRACE(location == StoreLocation::LocalMachine ? "machine" : "user");
        ContainerKey key;
        Bytes publicKeyInfo;
        CallContext context;
        ASSERT_TRUE(generateKey(context, location, uniqueName("generated"), KeyHome::Csp, false,
                                1024, {}, key, publicKeyInfo))
            << context.outcome.code() << " " << std::hex << context.outcome.windowsError();
        made_.push_back(key);
        const Bytes certificate = selfSignedBy(key);

        HeldKey byContainer(key, publicKeyInfo, "RSA", {});
        EXPECT_TRUE(fixture_->verifySignature(certificate, CALG_SHA_256, kData, sign(byContainer)))
            << outcome_.code() << " " << std::hex << outcome_.windowsError();

        CallContext binding;
        bound_.emplace_back(location, certificate);
        ASSERT_TRUE(bindCertificate(binding, key, certificate, {}, {}))
            << binding.outcome.code() << " " << std::hex << binding.outcome.windowsError();
        HeldKey byCertificate(location, certificate.data(), certificate.size(), "RSA", {});
        EXPECT_TRUE(
            fixture_->verifySignature(certificate, CALG_SHA_256, kData, sign(byCertificate)))
            << outcome_.code() << " " << std::hex << outcome_.windowsError();

        CallContext deletion;
        ASSERT_TRUE(deleteKeyEntry(deletion, location, certificate))
            << deletion.outcome.code() << " " << std::hex << deletion.outcome.windowsError();
        // Wine loses a registry store's deletion unless the store is committed before it is
        // closed; Windows keeps it at once.
        if (!runningUnderWine()) EXPECT_FALSE(storeHolds(location, "My", certificate));
        EXPECT_FALSE(containerExists(key));
        made_.pop_back();
    }
}

TEST_F(KeyCreation, AnImportedKeyIsTheKeyItsNumbersSayAndNotExportable) {
    ScratchKey scratch = exportableKey();
    made_.push_back(scratch.container);
    const Bytes certificate = selfSignedBy(scratch.container);
    ContainerKey key;
    CallContext context;
    ASSERT_TRUE(importKey(context, StoreLocation::CurrentUser, uniqueName("imported"), KeyHome::Csp,
                          scratch.numbers, {}, key))
        << context.outcome.code() << " " << std::hex << context.outcome.windowsError();
    made_.push_back(key);

    CallContext binding;
    bound_.emplace_back(StoreLocation::CurrentUser, certificate);
    ASSERT_TRUE(bindCertificate(binding, key, certificate, {}, {})) << binding.outcome.code();
    HeldKey byCertificate(StoreLocation::CurrentUser, certificate.data(), certificate.size(), "RSA",
                          {});
    EXPECT_TRUE(fixture_->verifySignature(certificate, CALG_SHA_256, kData, sign(byCertificate)))
        << outcome_.code() << " " << std::hex << outcome_.windowsError();

    capi::Provider provider;
    ASSERT_TRUE(CryptAcquireContextA(provider.put(), key.container.c_str(), kAesCspName,
                                     PROV_RSA_AES, CRYPT_SILENT));
    capi::Key imported;
    ASSERT_TRUE(CryptGetUserKey(provider.get(), AT_KEYEXCHANGE, imported.put()));
    DWORD size = 0;
    EXPECT_FALSE(CryptExportKey(imported.get(), 0, PRIVATEKEYBLOB, 0, nullptr, &size));

    CallContext deletion;
    ASSERT_TRUE(deleteKeyEntry(deletion, StoreLocation::CurrentUser, certificate));
    EXPECT_FALSE(containerExists(key));
}

TEST_F(KeyCreation, ANameInUseIsRefusedAndItsKeyKept) {
    ContainerKey key;
    Bytes publicKeyInfo;
    CallContext first;
    const std::string name = uniqueName("taken");
    ASSERT_TRUE(generateKey(first, StoreLocation::CurrentUser, name, KeyHome::Csp, false, 1024, {},
                            key, publicKeyInfo));
    made_.push_back(key);
    ContainerKey again;
    Bytes otherInfo;
    CallContext second;
    EXPECT_FALSE(generateKey(second, StoreLocation::CurrentUser, name, KeyHome::Csp, false, 1024,
                             {}, again, otherInfo));
    EXPECT_EQ(second.outcome.code(), kStatusNoKeyContainer);
    EXPECT_EQ(second.outcome.windowsError(), static_cast<DWORD>(NTE_EXISTS));
    HeldKey held(key, publicKeyInfo, "RSA", {});
    EXPECT_FALSE(sign(held).empty()) << outcome_.code();
}

// The platform's AES CSP takes no PIN (a smart card's CSP does): a key asked for with one is made
// without it, as the log says, and signs without one.
TEST_F(KeyCreation, APinTheCspCannotTakeLeavesTheKeyWithoutOne) {
    const std::string name = uniqueName("pinned");
    const char pin[] = "1234";
    ContainerKey key;
    Bytes publicKeyInfo;
    CallContext context;
    ASSERT_TRUE(generateKey(context, StoreLocation::CurrentUser, name, KeyHome::Csp, false, 1024,
                            common::SecureBytes(pin, sizeof(pin)), key, publicKeyInfo))
        << context.outcome.code();
    made_.push_back(key);
    HeldKey held(key, publicKeyInfo, "RSA", {});
    EXPECT_FALSE(sign(held).empty()) << outcome_.code();
}

TEST_F(KeyCreation, KeyStorageProviderKeys) {
    GTEST_SKIP() << "Wine's NCRYPT keeps no persisted keys: the key storage provider's keys are "
                    "made, bound and deleted over the software CryptoAPI (KeyEntries)";
}

}  // namespace
