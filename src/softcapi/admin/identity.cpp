// Identities: a key in a container and a certificate bound to it, generated or imported.
#include <openssl/core_names.h>
#include <openssl/dsa.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include "softcapi/admin/pkcs12_file.h"
#include "softcapi/admin/support.h"
#include "softcapi/advapi32/providers.h"
#include "softcapi/crypto/openssl_util.h"
#include "softcapi/keystore/key_container.h"
#include "softcapi/keystore/container_store.h"
#include "softcapi/keystore/key_rules.h"

namespace softcapi::admin {

namespace {

const long kValiditySeconds = 5L * 365 * 24 * 60 * 60;
const int kDssSubgroupBits = 160;

[[noreturn]] void failOpenSsl(const std::string& what) {
    windowsErrorForOpenSsl(NTE_FAIL);
    throw AdminError(what);
}

std::vector<BYTE> encodedCertificate(X509* certificate) {
    int size = i2d_X509(certificate, nullptr);
    std::vector<BYTE> der(size > 0 ? size : 0);
    unsigned char* out = der.data();
    if (size <= 0 || i2d_X509(certificate, &out) != size) failOpenSsl("certificate encoding failed");
    return der;
}

PkeyPtr generateRsa(unsigned bits) {
    PkeyPtr key(EVP_RSA_gen(bits));
    if (!key) failOpenSsl("RSA key generation failed");
    return key;
}

PkeyPtr generateDsa() {
    PkeyCtxPtr paramContext(EVP_PKEY_CTX_new_from_name(nullptr, "DSA", nullptr));
    EVP_PKEY* params = nullptr;
    if (!paramContext || EVP_PKEY_paramgen_init(paramContext.get()) != 1 ||
        EVP_PKEY_CTX_set_dsa_paramgen_bits(paramContext.get(), 1024) != 1 ||
        EVP_PKEY_CTX_set_dsa_paramgen_q_bits(paramContext.get(), 160) != 1 ||
        EVP_PKEY_paramgen(paramContext.get(), &params) != 1)
        failOpenSsl("DSA parameter generation failed");
    PkeyPtr parameters(params);
    PkeyCtxPtr keyContext(EVP_PKEY_CTX_new(parameters.get(), nullptr));
    EVP_PKEY* key = nullptr;
    if (!keyContext || EVP_PKEY_keygen_init(keyContext.get()) != 1 ||
        EVP_PKEY_keygen(keyContext.get(), &key) != 1)
        failOpenSsl("DSA key generation failed");
    return PkeyPtr(key);
}

PkeyPtr generateEc(const char* curve) {
    PkeyPtr key(EVP_EC_gen(curve));
    if (!key) failOpenSsl("EC key generation failed");
    return key;
}

PkeyPtr generateKey(KeyType type) {
    switch (type) {
        case KeyType::Rsa1024: return generateRsa(1024);
        case KeyType::Rsa2048: return generateRsa(2048);
        case KeyType::Rsa3072: return generateRsa(3072);
        case KeyType::Rsa4096: return generateRsa(4096);
        case KeyType::Dsa1024: return generateDsa();
        case KeyType::EcP256: return generateEc("P-256");
        case KeyType::EcP384: return generateEc("P-384");
        case KeyType::EcP521: return generateEc("P-521");
    }
    throw AdminError("unknown key type");
}

// DSS signatures are r and s of 20 bytes each, so a DSA key's q must be 160 bits long.
bool hasDssSubgroup(EVP_PKEY* key) {
    BIGNUM* q = nullptr;
    if (EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_FFC_Q, &q) != 1) return false;
    OpenSslPtr<BIGNUM> subgroup(q);
    return BN_num_bits(subgroup.get()) == kDssSubgroupBits;
}

// The namespace a key of an algorithm ("RSA", "DSA" or "EC") goes to: EC keys, and RSA keys whose
// placement names the key storage provider, to the key storage provider; other RSA and DSA keys
// to the CSPs of their family.
KeyFamily familyFor(const std::string& algorithm, const KeyPlacement& placement) {
    const bool keyStorage = isKeyStorageProvider(placement.provider);
    if (algorithm == "EC") {
        if (!placement.provider.empty() && !keyStorage)
            throw AdminError(std::string("EC keys are held by the ") + kKeyStorageProviderName +
                             " only");
        return KeyFamily::Ksp;
    }
    if (algorithm == "RSA") return keyStorage ? KeyFamily::Ksp : KeyFamily::Rsa;
    if (keyStorage)
        throw AdminError(std::string("the ") + kKeyStorageProviderName + " holds RSA and EC keys only");
    return KeyFamily::Dss;
}

KeyFamily familyOf(EVP_PKEY* key, const KeyPlacement& placement) {
    for (const char* algorithm : {"RSA", "EC"}) {
        if (EVP_PKEY_is_a(key, algorithm)) return familyFor(algorithm, placement);
    }
    if (!EVP_PKEY_is_a(key, "DSA"))
        throw AdminError("only RSA, DSA and EC keys can be held in a key container");
    KeyFamily family = familyFor("DSA", placement);
    if (!hasDssSubgroup(key))
        throw AdminError("only DSA keys with a 160-bit q can sign for the DSS providers");
    return family;
}

// What is refused is never stored.
void checkKeyUsable(EVP_PKEY* publicKey, KeyFamily family) {
    const std::string refusal = keyRefusal(publicKey, family);
    if (!refusal.empty()) throw AdminError(refusal);
}

const char* algorithmOf(KeyType type) {
    switch (type) {
        case KeyType::Dsa1024: return "DSA";
        case KeyType::EcP256:
        case KeyType::EcP384:
        case KeyType::EcP521: return "EC";
        default: return "RSA";
    }
}

// A key storage provider's key is bound as CNG binds one: provider type 0 and no legacy key
// specification. Its PIN, if any, is the key's, asked for as a smart card asks.
KeyBinding keyStorageBinding(const KeyPlacement& placement, const std::string& container) {
    if (placement.providerType != 0 || placement.keySpec != 0)
        throw AdminError(std::string("a key of the ") + kKeyStorageProviderName +
                         " takes no provider type or key specification");
    KeyBinding binding;
    binding.container = container;
    binding.provider = kKeyStorageProviderName;
    return binding;
}

std::string generatedContainerName() {
    unsigned char random[16];
    if (RAND_bytes(random, sizeof(random)) != 1) failOpenSsl("no random bytes for a container name");
    std::string hex = toHex(std::vector<BYTE>(random, random + sizeof(random)));
    return "{" + hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" +
           hex.substr(16, 4) + "-" + hex.substr(20) + "}";
}

// Fills the defaults of a placement for a key of `family` and checks what was given.
KeyBinding resolveBinding(const KeyPlacement& placement, KeyFamily family) {
    checkStoreName(placement.store);
    std::string container = placement.container.empty() ? generatedContainerName() : placement.container;
    if (family == KeyFamily::Ksp) return keyStorageBinding(placement, container);
    KeyBinding binding;
    binding.container = container;
    const ProviderInfo& familyDefault = familyDefaultProvider(family);
    binding.provider = placement.provider.empty() ? familyDefault.name : placement.provider;
    const ProviderInfo* known = findProvider(binding.provider.c_str());
    if (known != nullptr && known->family != family)
        throw AdminError("provider '" + binding.provider + "' does not hold " +
                         (family == KeyFamily::Rsa ? "RSA" : "DSA") + " keys");
    DWORD ownType = known != nullptr ? known->type : familyDefault.type;
    binding.providerType = placement.providerType != 0 ? placement.providerType : ownType;
    binding.keySpec = placement.keySpec != 0
                          ? placement.keySpec
                          : (family == KeyFamily::Rsa ? AT_KEYEXCHANGE : AT_SIGNATURE);
    if (family == KeyFamily::Dss && binding.keySpec != AT_SIGNATURE)
        throw AdminError("a DSA key can only be a signature key");
    return binding;
}

void addExtension(X509* certificate, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    OpenSslPtr<X509_EXTENSION> extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
    if (!extension) failOpenSsl("certificate extension failed");
    X509_add_ext(certificate, extension.get(), -1);
}

// Read as RFC 2253 and Windows read a name: the last RDN written is the first one encoded, so
// that "CN=Alice,O=Example" prints back the same way.
OpenSslPtr<X509_NAME> parseSubject(const std::string& subject) {
    OpenSslPtr<X509_NAME> name(X509_NAME_new());
    if (!name) failOpenSsl("no memory for a name");
    size_t start = 0;
    while (start <= subject.size()) {
        size_t comma = subject.find(',', start);
        std::string part = subject.substr(start, comma == std::string::npos ? std::string::npos
                                                                            : comma - start);
        size_t equals = part.find('=');
        std::string field = equals == std::string::npos ? "" : part.substr(0, equals);
        field.erase(0, field.find_first_not_of(' '));
        if (field.empty() || equals + 1 >= part.size() ||
            X509_NAME_add_entry_by_txt(name.get(), field.c_str(), MBSTRING_UTF8,
                                       reinterpret_cast<const unsigned char*>(part.c_str() + equals + 1),
                                       -1, 0, 0) != 1) {
            windowsErrorForOpenSsl(NTE_FAIL);
            throw AdminError("subject '" + subject + "' is not of the form CN=Name[,O=Org...]");
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return name;
}

std::vector<BYTE> selfSignedCertificate(EVP_PKEY* key, const std::string& subject, DWORD keySpec) {
    unsigned char serial[16];
    if (RAND_bytes(serial, sizeof(serial)) != 1) failOpenSsl("no random bytes for a serial number");
    OpenSslPtr<X509_NAME> name = parseSubject(subject);
    X509Ptr certificate(X509_new());
    serial[0] &= 0x7F;
    OpenSslPtr<BIGNUM> serialNumber(BN_bin2bn(serial, sizeof(serial), nullptr));
    bool built = certificate && serialNumber &&
                 X509_set_version(certificate.get(), X509_VERSION_3) == 1 &&
                 BN_to_ASN1_INTEGER(serialNumber.get(), X509_get_serialNumber(certificate.get())) &&
                 X509_set_subject_name(certificate.get(), name.get()) == 1 &&
                 X509_set_issuer_name(certificate.get(), name.get()) == 1 &&
                 X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600) != nullptr &&
                 X509_gmtime_adj(X509_getm_notAfter(certificate.get()), kValiditySeconds) != nullptr &&
                 X509_set_pubkey(certificate.get(), key) == 1;
    if (!built) failOpenSsl("certificate creation failed");
    addExtension(certificate.get(), NID_basic_constraints, "critical,CA:FALSE");
    // RSA keys other than signature keys decrypt too: exchange keys, and the key storage
    // provider's, which CNG gives no key specification.
    bool decrypts = EVP_PKEY_is_a(key, "RSA") == 1 && keySpec != AT_SIGNATURE;
    addExtension(certificate.get(), NID_key_usage,
                 decrypts ? "critical,digitalSignature,nonRepudiation,keyEncipherment"
                          : "critical,digitalSignature,nonRepudiation");
    addExtension(certificate.get(), NID_subject_key_identifier, "hash");
    if (X509_sign(certificate.get(), key, EVP_sha256()) <= 0) failOpenSsl("certificate signing failed");
    return encodedCertificate(certificate.get());
}

// Writes the container and the certificate bound to it in one transaction.
Identity storeIdentity(EVP_PKEY* key, KeyFamily family, const std::vector<BYTE>& certificate,
                       const KeyBinding& binding, const KeyPlacement& placement,
                       const BeforeStoring& beforeStoring) {
    ContainerRecord container;
    container.family = family;
    container.name = binding.container;
    container.pinProtected = !placement.pin.empty();
    try {
        container.keys[binding.keySpec] = storedKeyOf(key, placement.pin);
    } catch (const DatabaseError&) {
        throw AdminError("key encoding failed");
    }

    Identity identity;
    identity.certificate = certificate;
    std::vector<BYTE> thumbprint = sha1Of(certificate.data(), certificate.size());
    identity.thumbprint = toHex(thumbprint);
    identity.binding = binding;
    if (beforeStoring) beforeStoring(identity);
    changeKeystore([&](Connection& db) {
        if (containerExists(db, container.family, container.name))
            throw AdminError("key container '" + container.name + "' exists already");
        storeContainer(db, placement.location, std::move(container));
        putCertificate(db, placement.store, certificate, thumbprint, &binding);
    }, placement.location);
    return identity;
}

}  // namespace

bool parseKeyType(const std::string& text, KeyType& type) {
    static const std::pair<const char*, KeyType> kTypes[] = {
        {"rsa-1024", KeyType::Rsa1024}, {"rsa-2048", KeyType::Rsa2048},
        {"rsa-3072", KeyType::Rsa3072}, {"rsa-4096", KeyType::Rsa4096},
        {"dsa-1024", KeyType::Dsa1024}, {"ec-p256", KeyType::EcP256},
        {"ec-p384", KeyType::EcP384},   {"ec-p521", KeyType::EcP521}};
    for (const auto& [name, value] : kTypes) {
        if (text == name) {
            type = value;
            return true;
        }
    }
    return false;
}

Identity createIdentity(const IdentityOptions& options, const BeforeStoring& beforeStoring) {
    OpenSslErrorScope scope;
    KeyFamily family = familyFor(algorithmOf(options.keyType), options.placement);
    KeyBinding binding = resolveBinding(options.placement, family);
    PkeyPtr key = generateKey(options.keyType);
    checkKeyUsable(key.get(), family);
    std::vector<BYTE> certificate = selfSignedCertificate(key.get(), options.subject, binding.keySpec);
    return storeIdentity(key.get(), family, certificate, binding, options.placement, beforeStoring);
}

Identity importPkcs12(const std::vector<BYTE>& pkcs12, const std::string& password,
                      const KeyPlacement& placement) {
    OpenSslErrorScope scope;
    Pkcs12Identity read = readPkcs12(pkcs12, password);
    KeyFamily family = familyOf(read.key.get(), placement);
    KeyBinding binding = resolveBinding(placement, family);
    // Its container would refuse it at every acquisition: a key that cannot sign is not imported.
    if (!keyPairMatches(read.key.get(), X509_get0_pubkey(read.certificate.get())))
        throw AdminError("the PKCS#12 key does not sign what its certificate verifies");
    // Java reads the certificate's key: its curve must be named there.
    checkKeyUsable(X509_get0_pubkey(read.certificate.get()), family);
    return storeIdentity(read.key.get(), family, encodedCertificate(read.certificate.get()),
                         binding, placement, {});
}

}  // namespace softcapi::admin
