// The test fixture over CryptoAPI itself (Wine's under Wine): keys made with CryptGenKey in new
// containers, self-signed certificates carrying the key-provider property the request names,
// signatures checked and ciphertexts made in a verification context. The registry outlives each
// test, so everything made is removed again when the fixture goes.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "support/capi_fixture_cleanup.h"
#include "support/capi_handles.h"
#include "support/crypto_fixture.h"
#include "support/host.h"

namespace {

struct KnownProvider {
    const char* name;
    DWORD type;
    bool dss;
};

const KnownProvider kKnownProviders[] = {
    {"Microsoft Base Cryptographic Provider v1.0", PROV_RSA_FULL, false},
    {"Microsoft Strong Cryptographic Provider", PROV_RSA_FULL, false},
    {"Microsoft Enhanced Cryptographic Provider v1.0", PROV_RSA_FULL, false},
    {"Microsoft RSA SChannel Cryptographic Provider", PROV_RSA_SCHANNEL, false},
    {kAesProvider, PROV_RSA_AES, false},
    {"Microsoft Base DSS Cryptographic Provider", PROV_DSS, true},
    {kDssDhProvider, PROV_DSS_DH, true},
};

const char kPinUnsupported[] =
    "CryptoAPI's software providers keep no PIN on a key container; that takes a smart-card "
    "provider";
const char kCngUnsupported[] =
    "this fixture makes CSP keys only; a key storage provider's persisted keys (Wine 8 has none: "
    "NCryptOpenKey answers NTE_NOT_SUPPORTED) are made by the software key store's";
const char kWineDssUnsupported[] =
    "Wine: CRYPT32 exports no DSS public key (CryptExportPublicKeyInfo fails with "
    "E_INVALIDARG), so no certificate can be made for a DSS key";

// The providers keys are made in: every RSA provider, and every DSS one, opens the same
// containers, so a key made here serves whichever provider the property names.
struct Maker {
    const char* provider;
    DWORD type;
};
const Maker kRsaMaker = {kAesProvider, PROV_RSA_AES};
const Maker kDssMaker = {kDssDhProvider, PROV_DSS_DH};

const KnownProvider* findKnownProvider(const std::string& name) {
    for (const KnownProvider& known : kKnownProviders)
        if (_stricmp(known.name, name.c_str()) == 0) return &known;
    return nullptr;
}

DWORD bitsOf(FixtureKey key) { return key == FixtureKey::Rsa2048 ? 2048 : 1024; }

std::string uniqueContainerName() {
    static LONG counter = 0;
    return "qdie-fixture-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(GetTickCount64()) + "-" + std::to_string(InterlockedIncrement(&counter));
}

capi::CertContext parseCertificate(const Bytes& certificate) {
    capi::CertContext context(CertCreateCertificateContext(
        X509_ASN_ENCODING, certificate.data(), static_cast<DWORD>(certificate.size())));
    if (!context.valid()) throw capi::failure("CertCreateCertificateContext");
    return context;
}

bool isDssKey(PCCERT_CONTEXT context) {
    return std::strcmp(context->pCertInfo->SubjectPublicKeyInfo.Algorithm.pszObjId,
                       szOID_X957_DSA) == 0;
}

// A verification context of the key's family with the certificate's public key imported.
struct PublicKey {
    capi::Provider provider;
    capi::Key key;
};

void importPublicKey(const Bytes& certificate, PublicKey& out) {
    capi::CertContext context = parseCertificate(certificate);
    const Maker& maker = isDssKey(context.get()) ? kDssMaker : kRsaMaker;
    if (!CryptAcquireContextA(out.provider.put(), nullptr, maker.provider, maker.type,
                              CRYPT_VERIFYCONTEXT))
        throw capi::failure("CryptAcquireContextA (verification context)");
    if (!CryptImportPublicKeyInfo(out.provider.get(), X509_ASN_ENCODING,
                                  &context.get()->pCertInfo->SubjectPublicKeyInfo, out.key.put()))
        throw capi::failure("CryptImportPublicKeyInfo");
}

// A self-signed certificate for the container's key, without any property.
Bytes selfSign(HCRYPTPROV provider, const Maker& maker, const MadeContainer& container,
               DWORD keySpec, const std::string& subject) {
    DWORD nameSize = 0;
    if (!CertStrToNameA(X509_ASN_ENCODING, subject.c_str(), CERT_X500_NAME_STR, nullptr, nullptr,
                        &nameSize, nullptr))
        throw capi::failure("CertStrToNameA");
    Bytes name(nameSize);
    if (!CertStrToNameA(X509_ASN_ENCODING, subject.c_str(), CERT_X500_NAME_STR, nullptr,
                        name.data(), &nameSize, nullptr))
        throw capi::failure("CertStrToNameA");
    CERT_NAME_BLOB nameBlob = {nameSize, name.data()};

    std::wstring wideContainer = capi::widen(container.name);
    std::wstring wideProvider = capi::widen(maker.provider);
    CRYPT_KEY_PROV_INFO signer = {};
    signer.pwszContainerName = wideContainer.data();
    signer.pwszProvName = wideProvider.data();
    signer.dwProvType = maker.type;
    signer.dwKeySpec = keySpec;
    signer.dwFlags = container.keysetFlags;
    char dssWithSha1[] = szOID_X957_SHA1DSA;
    CRYPT_ALGORITHM_IDENTIFIER dssAlgorithm = {dssWithSha1, {0, nullptr}};
    capi::CertContext made(CertCreateSelfSignCertificate(
        provider, &nameBlob, CERT_CREATE_SELFSIGN_NO_KEY_INFO, &signer,
        maker.type == kDssMaker.type ? &dssAlgorithm : nullptr, nullptr, nullptr, nullptr));
    if (!made.valid()) throw capi::failure("CertCreateSelfSignCertificate");
    return Bytes(made.get()->pbCertEncoded, made.get()->pbCertEncoded + made.get()->cbCertEncoded);
}

// Adds the certificate to the system store of the binding's location with the key-provider
// property as given.
void addWithKeyProperty(const Bytes& certificate, const std::string& storeName,
                        const TestIdentity& binding) {
    const DWORD keysetFlags = binding.machine ? CRYPT_MACHINE_KEYSET : 0;
    capi::CertContext context = parseCertificate(certificate);
    std::wstring container = capi::widen(binding.container);
    std::wstring provider = capi::widen(binding.provider);
    CRYPT_KEY_PROV_INFO info = {};
    info.pwszContainerName = container.data();
    info.pwszProvName = provider.data();
    info.dwProvType = binding.providerType;
    info.dwKeySpec = binding.keySpec;
    info.dwFlags = keysetFlags;
    if (!CertSetCertificateContextProperty(context.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &info))
        throw capi::failure("CertSetCertificateContextProperty");
    const DWORD location =
        binding.machine ? CERT_SYSTEM_STORE_LOCAL_MACHINE : CERT_SYSTEM_STORE_CURRENT_USER;
    capi::Store store(
        CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, location, storeName.c_str()));
    if (!store.valid()) throw capi::failure("CertOpenStore " + storeName);
    if (!CertAddCertificateContextToStore(store.get(), context.get(), CERT_STORE_ADD_ALWAYS,
                                          nullptr))
        throw capi::failure("CertAddCertificateContextToStore");
    // Wine writes a registry store only when asked to; Windows has already written it.
    if (!CertControlStore(store.get(), 0, CERT_STORE_CTRL_COMMIT, nullptr))
        throw capi::failure("CertControlStore");
    if (!store.close()) throw capi::failure("CertCloseStore");
}

class CapiFixture : public CryptoFixture {
public:
    ~CapiFixture() override { removeAll(made_); }

    std::string unsupportedReason(const IdentityRequest& request) override {
        if (!request.pin.empty()) return kPinUnsupported;
        if (request.key == FixtureKey::EcP256 || request.key == FixtureKey::EcP384 ||
            request.provider == kKeyStorageProvider)
            return kCngUnsupported;
        if (request.key == FixtureKey::Dsa1024 && runningUnderWine()) return kWineDssUnsupported;
        return {};
    }

    TestIdentity createIdentity(const IdentityRequest& request) override {
        if (!unsupportedReason(request).empty())
            throw std::logic_error("fixture: " + unsupportedReason(request));
        const bool dss = request.key == FixtureKey::Dsa1024;
        const Maker& maker = dss ? kDssMaker : kRsaMaker;
        TestIdentity identity;
        identity.container = request.container.empty() ? uniqueContainerName() : request.container;
        identity.provider = request.provider;
        const KnownProvider* known = findKnownProvider(request.provider);
        identity.providerType = request.providerType != 0 ? request.providerType
                                : known != nullptr       ? known->type
                                                         : maker.type;
        identity.keySpec = request.keySpec;
        identity.machine = request.machine;

        const DWORD keysetFlags = request.machine ? CRYPT_MACHINE_KEYSET : 0;
        capi::Provider provider = makeKey(maker, {identity.container, maker.provider, maker.type,
                                                  keysetFlags},
                                          request.keySpec, bitsOf(request.key));
        identity.certificate = selfSign(provider.get(), maker, made_.containers.back(),
                                        request.keySpec, "CN=Conformance");
        made_.certificates.push_back(identity.certificate);
        addWithKeyProperty(identity.certificate, request.store, identity);
        return identity;
    }

    Bytes createCertificate(const std::string& subject) override {
        const std::string container = uniqueContainerName();
        Bytes certificate;
        {
            capi::Provider provider = makeKey(
                kRsaMaker, {container, kRsaMaker.provider, kRsaMaker.type}, AT_SIGNATURE, 1024);
            certificate = selfSign(provider.get(), kRsaMaker, made_.containers.back(),
                                   AT_SIGNATURE, "CN=" + subject);
        }
        // Keyless from here on: its container goes at once, the certificate when the fixture does.
        made_.certificates.push_back(certificate);
        removeContainer(made_.containers.back());
        made_.containers.pop_back();
        return certificate;
    }

    Bytes createCertificateBoundTo(const TestIdentity& keyHolder) override {
        Bytes certificate = createCertificate("Bound Elsewhere");
        addWithKeyProperty(certificate, "My", keyHolder);
        return certificate;
    }

    bool verifySignature(const Bytes& certificate, ALG_ID hashAlgorithm, const Bytes& message,
                         const Bytes& signature) override {
        PublicKey publicKey;
        importPublicKey(certificate, publicKey);
        capi::Hash hash;
        if (!CryptCreateHash(publicKey.provider.get(), hashAlgorithm, 0, 0, hash.put()))
            throw capi::failure("CryptCreateHash");
        const bool hashed =
            hashAlgorithm == CALG_SSL3_SHAMD5
                ? CryptSetHashParam(hash.get(), HP_HASHVAL, message.data(), 0)
                : CryptHashData(hash.get(), message.data(), static_cast<DWORD>(message.size()), 0);
        if (!hashed) throw capi::failure("hashing the message");
        if (CryptVerifySignatureA(hash.get(), signature.data(), static_cast<DWORD>(signature.size()),
                                  publicKey.key.get(), nullptr, 0))
            return true;
        // Only a signature that does not match is an answer; any other refusal is a fault.
        if (GetLastError() != static_cast<DWORD>(NTE_BAD_SIGNATURE))
            throw capi::failure("CryptVerifySignatureA");
        return false;
    }

    Bytes encryptFor(const Bytes& certificate, const Bytes& plainText, bool oaep) override {
        PublicKey publicKey;
        importPublicKey(certificate, publicKey);
        const DWORD flags = oaep ? CRYPT_OAEP : 0;
        DWORD length = static_cast<DWORD>(plainText.size());
        if (!CryptEncrypt(publicKey.key.get(), 0, TRUE, flags, nullptr, &length, 0))
            throw capi::failure("CryptEncrypt (size)");
        Bytes buffer(std::max<size_t>(length, plainText.size()));
        std::copy(plainText.begin(), plainText.end(), buffer.begin());
        length = static_cast<DWORD>(plainText.size());
        if (!CryptEncrypt(publicKey.key.get(), 0, TRUE, flags, buffer.data(), &length,
                          static_cast<DWORD>(buffer.size())))
            throw capi::failure("CryptEncrypt");
        buffer.resize(length);
        std::reverse(buffer.begin(), buffer.end());
        return buffer;
    }

private:
    // A new container holding one key; the container is recorded for removal.
    capi::Provider makeKey(const Maker& maker, const MadeContainer& container, DWORD keySpec,
                           DWORD bits) {
        capi::Provider provider;
        if (!CryptAcquireContextA(provider.put(), container.name.c_str(), maker.provider,
                                  maker.type, CRYPT_NEWKEYSET | container.keysetFlags))
            throw capi::failure("CryptAcquireContextA (new container)");
        made_.containers.push_back(container);
        capi::Key key;
        if (!CryptGenKey(provider.get(), keySpec, bits << 16, key.put()))
            throw capi::failure("CryptGenKey");
        return provider;
    }

    MadeByFixture made_;
};

}  // namespace

std::unique_ptr<CryptoFixture> makeCryptoFixture() {
    return std::make_unique<CapiFixture>();
}

bool refusesAnotherKeysSignature(DWORD error) {
    return error == static_cast<DWORD>(NTE_BAD_SIGNATURE) ||
           (runningUnderWine() && error == static_cast<DWORD>(NTE_FAIL));
}
