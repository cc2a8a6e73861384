// A private key held open for the provider, named by its certificate or, before it has one, by its
// container: each way of using it (signing in its CSP, the key-exchange key, CNG) is opened at its
// first use, checked once against the public key it must have (the certificate's, or the one the
// container's key was made with) then, and used from then on without being looked up again. What
// a held key opened is released when it goes. One operation at a time.
#pragma once

#include <mutex>
#include <string>
#include <variant>
#include <vector>

#include "common/secure_bytes.h"
#include "keyops/call_context.h"
#include "keyops/cng_operations.h"
#include "keyops/container_key.h"
#include "keyops/decrypt.h"
#include "keyops/handles.h"
#include "keyops/public_key_match.h"
#include "keyops/store_location.h"
#include "keyops/system_stores.h"

namespace keyops {

class HeldKey {
public:
    // Opens nothing yet: the certificate's encoding names the key, looked up in the "My" store
    // of the location, the key algorithm ("RSA", "DSA") moves a legacy CSP to the newer one when
    // signing, and the PIN (wiped when the key goes) is given to each opening.
    HeldKey(StoreLocation location, const BYTE* certificate, size_t certificateLength,
            std::string keyAlgorithm, common::SecureBytes pin);
    // Opens nothing yet: the container names the key, which must have the public key of the
    // SubjectPublicKeyInfo (DER) given, as a generated key has before any certificate exists.
    HeldKey(ContainerKey container, std::vector<BYTE> publicKeyInfo, std::string keyAlgorithm,
            common::SecureBytes pin);
    HeldKey(const HeldKey&) = delete;
    HeldKey& operator=(const HeldKey&) = delete;

    // PKCS #1 v1.5 or DSS in the key's CSP, the hash given: the signature most significant byte
    // first (as sign.h's).
    bool sign(CallContext& context, ALG_ID digestAlgorithm, const BYTE* hash, DWORD hashLength,
              std::vector<BYTE>& signature);
    // Through CNG: the signature as CNG writes it; status 27 when CNG cannot see the key or its
    // algorithm does not make this signature.
    bool signCng(CallContext& context, const CngPadding& padding, const BYTE* hash,
                 DWORD hashLength, std::vector<BYTE>& signature);
    // With the CSP's key-exchange key, the one padding asked removed.
    bool decrypt(CallContext& context, RsaPadding padding, const BYTE* cipherText,
                 DWORD cipherTextLength, common::SecureBytes& plainText);
    bool decryptCng(CallContext& context, const CngPadding& padding, const BYTE* cipherText,
                    DWORD cipherTextLength, common::SecureBytes& plainText);
    // The raw private-key operation of the key-exchange key, for a padding made by the caller.
    bool rawRsa(CallContext& context, const BYTE* block, DWORD blockLength,
                common::SecureBytes& result);

    // Binds `certificate` (with its issuers) to the container of the key held, as
    // bindCertificate does: a key named by its certificate has that certificate replaced, deleted
    // once the new one is bound. From then on the key is named by the new certificate; what it
    // holds open stays as it is, the same key.
    bool bindCertificate(CallContext& context, const std::vector<BYTE>& certificate,
                         const CertificateList& issuers);

private:
    struct SigningContext {
        ScopedProvider provider;
        DWORD keySpec = 0;
    };
    struct ExchangeKey {
        ScopedProvider provider;
        ScopedKey key;
    };
    struct CngKey {
        CngKeyHold hold;
        CngGroup group = CngGroup::Rsa;
    };

    // The two ways a key is named.
    struct ByCertificate {
        KeySource source;
        std::vector<BYTE> certificate;
    };
    struct ByContainer {
        ContainerKey container;
        std::vector<BYTE> publicKeyInfo;
    };
    // What an opening works with, however the key is named: its binding, the public key it must
    // have, and its certificate, if it is named by one.
    struct KeyToOpen {
        KeyBinding binding;
        DWORD keySpec;
        const CERT_PUBLIC_KEY_INFO& publicKey;
        PCCERT_CONTEXT certificate;
    };

    // Opens one way of using the key: within withCertificate, the skeleton of every operation
    // with a certificate's key, or directly by its container.
    template <typename Open>
    bool openKey(CallContext& context, const char* use, const char* foundMessage, Open open);
    bool openSigning(CallContext& context);
    bool openExchange(CallContext& context);
    bool openCng(CallContext& context);
    const char* pin() const;
    StoreLocation location() const;

    std::variant<ByCertificate, ByContainer> name_;
    const std::string keyAlgorithm_;
    const common::SecureBytes pin_;

    std::mutex mutex_;
    // Released in the reverse order: the CNG view before the contexts it may share.
    SigningContext signing_;
    ExchangeKey exchange_;
    CngKey cng_;
};

}  // namespace keyops
