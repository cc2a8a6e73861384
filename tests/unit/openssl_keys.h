// Keys and certificates made by OpenSSL for the core's tests of keys made and installed: a key's
// numbers as Java hands them over, and certificates for a SubjectPublicKeyInfo, issued by a key of
// the test's own.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "keyops/private_key_blobs.h"

using Bytes = std::vector<BYTE>;

struct evp_pkey_st;

// A private key of OpenSSL's, owned.
class OpenSslKey {
public:
    // "rsa-2048", "ec-256", "ec-384", "ec-521".
    explicit OpenSslKey(const std::string& type);
    ~OpenSslKey();
    OpenSslKey(const OpenSslKey&) = delete;
    OpenSslKey& operator=(const OpenSslKey&) = delete;

    keyops::RsaPrivateKey rsaNumbers() const;
    keyops::EcPrivateKey ecNumbers() const;
    Bytes publicKeyInfo() const;
    bool isRsa() const;
    evp_pkey_st* get() const { return key_; }

private:
    evp_pkey_st* key_;
};

// A certificate of the SubjectPublicKeyInfo with this subject, signed by `issuer` in its name.
Bytes issueCertificate(const Bytes& publicKeyInfo, const std::string& subject,
                       const OpenSslKey& issuer, const std::string& issuerName);
// The issuer's own self-signed certificate.
Bytes selfSignedCertificate(const OpenSslKey& key, const std::string& name);
