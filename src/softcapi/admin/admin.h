// Administration of the software key store, as certutil is on Windows: identities (a key in a
// container and a certificate bound to it), PKCS#12 import, and the certificates of system
// stores, of the current user's location or of the machine's (whose private keys are sealed under
// the machine's secret). Every call is one transaction: it changes everything it says or nothing,
// and throws AdminError with a one-line reason when it cannot.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "softcapi/keystore/key_binding.h"
#include "softcapi/keystore/location.h"

namespace softcapi::admin {

class AdminError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class KeyType { Rsa1024, Rsa2048, Rsa3072, Rsa4096, Dsa1024, EcP256, EcP384, EcP521 };

// "rsa-2048", "dsa-1024", "ec-p256", ...; false for another text.
bool parseKeyType(const std::string& text, KeyType& type);


// Where a new key goes and how its certificate is bound to it. Empty fields take defaults: a
// generated container name, the family's provider ("Microsoft Enhanced RSA and AES Cryptographic
// Provider" or the DSS/DH one), the exchange key for RSA and the signature key for DSA, no PIN.
// EC keys, and RSA keys when `provider` names it, go to the "Microsoft Software Key Storage
// Provider", bound with provider type 0 and key specification 0, and take no PIN.
struct KeyPlacement {
    DWORD keySpec = 0;
    std::string container;
    std::string provider;  // any name, a legacy or unknown one included
    // The provider type the certificate names; 0 for the named provider's own (an unknown name
    // takes the family's default type). Another type binds the certificate to a mismatch.
    DWORD providerType = 0;
    std::string pin;
    std::string store = "My";
    Location location = Location::CurrentUser;
};

struct IdentityOptions {
    std::string subject;  // "CN=Alice" or "CN=Alice,O=Example"
    KeyType keyType = KeyType::Rsa2048;
    KeyPlacement placement;
};

struct Identity {
    std::vector<BYTE> certificate;
    std::string thumbprint;  // SHA-1, upper-case hexadecimal
    KeyBinding binding;
};

// Runs once the identity is made and before the key store is changed: what it throws leaves
// the key store as it was.
using BeforeStoring = std::function<void(const Identity&)>;

Identity createIdentity(const IdentityOptions& options, const BeforeStoring& beforeStoring = {});

// The work a PKCS#12 file may ask for, refused beyond before any of it is done: one key
// derivation (the MAC's, an encrypted SafeContents', a shrouded key's) at most this many
// iterations, ten times the most a common tool writes (OpenSSL 3.0 2,048; keytool 10,000, and
// in the legacy format of older JDKs 50,000, with 100,000 for the MAC), and all of them
// together at most eight times that.
inline constexpr int64_t kMaxPkcs12Iterations = 1000000;
inline constexpr int64_t kMaxPkcs12TotalIterations = 8 * kMaxPkcs12Iterations;

// Reads the key and its certificate from a PKCS#12 file, the older encryption Windows exports
// and files without a MAC included.
Identity importPkcs12(const std::vector<BYTE>& pkcs12, const std::string& password,
                      const KeyPlacement& placement);

// A certificate bound to a key container: its binding names the container (ignoring case, as
// container names do) through a provider of the container's family, or through a provider the
// key store does not know, which counts for either family.
struct BoundCertificate {
    std::string store;
    std::string thumbprint;
    std::string subject;
};

struct ContainerEntry {
    std::string name;
    std::string family;          // "RSA", "DSS" or "KSP": the namespace the container lives in
    std::vector<DWORD> keySpecs;  // AT_KEYEXCHANGE, AT_SIGNATURE, in that order; 0 for a KSP key
    bool pinProtected = false;
    std::vector<BoundCertificate> certificates;  // in every store
};

// Every key container, in the order they were made, with the certificates bound to each.
std::vector<ContainerEntry> containers(Location location = Location::CurrentUser);

enum class WhenBound { Refuse, Delete };

// A container that certificates are still bound to, left as it was.
class ContainerInUse : public AdminError {
public:
    using AdminError::AdminError;
};

// Deletes a key container with its keys, in the namespace of the provider's family (RSA when no
// provider is named). While certificates are bound to it, Refuse leaves it and throws
// ContainerInUse saying which; Delete deletes it all the same, and the certificates keep their
// binding, as on Windows.
void deleteContainer(const std::string& container, const std::string& provider = "",
                     WhenBound whenBound = WhenBound::Delete,
                     Location location = Location::CurrentUser);

struct CertificateEntry {
    std::vector<BYTE> encoded;
    std::string thumbprint;
    std::string subject;
    std::optional<KeyBinding> binding;
};

std::vector<CertificateEntry> storeContents(const std::string& store,
                                            Location location = Location::CurrentUser);
std::vector<std::string> storeNames(Location location = Location::CurrentUser);

// The machine's roots, which "Root" shows read-only beneath the user's own: the bundle they come
// from, how many it holds, and why it gives none when it does not.
struct MachineRootsSummary {
    std::string bundle;
    size_t count = 0;
    std::string problem;
};
MachineRootsSummary machineRootsSummary();
std::vector<BYTE> exportCertificate(const std::string& store, const std::string& thumbprint,
                                    Location location = Location::CurrentUser);
void addCertificate(const std::string& store, const std::vector<BYTE>& encoded,
                    Location location = Location::CurrentUser);
// Many at once, in one transaction.
void addCertificates(const std::string& store, const std::vector<std::vector<BYTE>>& encodings,
                     Location location = Location::CurrentUser);
// The certificate's binding when the deletion leaves its key container without any certificate
// bound to it; nothing otherwise.
std::optional<KeyBinding> deleteCertificate(const std::string& store,
                                                const std::string& thumbprint,
                                                Location location = Location::CurrentUser);

// Whether writing `path` would replace a key store file of either location or one SQLite keeps
// beside it (its journal, write-ahead log and shared memory), or the machine's secret.
bool isKeystoreFile(const std::string& path);

}  // namespace softcapi::admin
