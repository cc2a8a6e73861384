// What the tests need beyond the API under test: identities to work on, and an
// independent judge of signatures and maker of ciphertexts. One implementation makes them in the
// software key store and judges with OpenSSL; another makes them through CryptoAPI itself.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "keyops/capi.h"

using Bytes = std::vector<BYTE>;

inline constexpr char kAesProvider[] = "Microsoft Enhanced RSA and AES Cryptographic Provider";
inline constexpr char kDssDhProvider[] = "Microsoft Base DSS and Diffie-Hellman Cryptographic Provider";
inline constexpr char kKeyStorageProvider[] = "Microsoft Software Key Storage Provider";

// The EC keys live in the key storage provider, as does an RSA key whose request names it.
enum class FixtureKey { Rsa1024, Rsa2048, Dsa1024, EcP256, EcP384 };

struct IdentityRequest {
    FixtureKey key = FixtureKey::Rsa2048;
    DWORD keySpec = AT_KEYEXCHANGE;
    std::string provider = kAesProvider;
    DWORD providerType = 0;  // the named provider's own type when 0
    std::string container;   // a new, generated name when empty
    std::string pin;         // none when empty
    std::string store = "My";
    bool machine = false;    // the machine's key, its certificate in the machine's store
};

// A key container and a certificate for its key, in a store with its key-provider property.
struct TestIdentity {
    Bytes certificate;
    std::string container;
    std::string provider;
    DWORD providerType = 0;
    DWORD keySpec = 0;
    bool machine = false;
};

class CryptoFixture {
public:
    virtual ~CryptoFixture() = default;

    // Why this platform's CryptoAPI cannot make such an identity (a test then skips with the
    // reason); empty when it can.
    virtual std::string unsupportedReason(const IdentityRequest& request) = 0;
    virtual TestIdentity createIdentity(const IdentityRequest& request) = 0;
    // A certificate with no key in any container, for store maintenance.
    virtual Bytes createCertificate(const std::string& subject) = 0;
    // A certificate of a key of its own, added to "My" with a key-provider property naming
    // `keyHolder`'s container: what a binding to the wrong container, or a re-keyed one, is.
    virtual Bytes createCertificateBoundTo(const TestIdentity& keyHolder) = 0;

    // Whether `signature`, as the provider wrote it (least significant byte first), is a valid
    // signature of `message` hashed with `hashAlgorithm` by the certificate's key. For
    // CALG_SSL3_SHAMD5 `message` is the 36-byte hash value itself.
    virtual bool verifySignature(const Bytes& certificate, ALG_ID hashAlgorithm,
                                 const Bytes& message, const Bytes& signature) = 0;
    // `plainText` encrypted for the certificate's RSA key, most significant byte first.
    virtual Bytes encryptFor(const Bytes& certificate, const Bytes& plainText, bool oaep) = 0;
};

// Whether `error` is how CryptVerifySignature refuses a signature made by another key of the same
// size: NTE_BAD_SIGNATURE, as Windows answers; Wine's RSAENH answers NTE_FAIL instead when the
// signature is not below the key's modulus, which happens about half the time.
bool refusesAnotherKeysSignature(DWORD error);

// The fixture of this platform. Its identities live in the current user's key store: the tests
// give each case a profile of its own.
std::unique_ptr<CryptoFixture> makeCryptoFixture();
