// A SubjectPublicKeyInfo between its DER encoding, as Java and certificates carry it, and the
// CERT_PUBLIC_KEY_INFO that CryptoAPI reads and writes: the key a container must hold, and the
// public key of a key generated inside.
#pragma once

#include <string>
#include <vector>

#include "keyops/capi.h"

namespace keyops {

// A decoded SubjectPublicKeyInfo; the structure points into the object's own copy of the DER.
class PublicKeyInfo {
public:
    PublicKeyInfo() = default;
    PublicKeyInfo(const PublicKeyInfo&) = delete;
    PublicKeyInfo& operator=(const PublicKeyInfo&) = delete;

    // False for anything but exactly one DER SubjectPublicKeyInfo: an algorithm identifier (an
    // object identifier and, optionally, its parameters) and a bit string.
    bool decode(const std::vector<BYTE>& der);
    const CERT_PUBLIC_KEY_INFO& get() const { return info_; }

private:
    std::vector<BYTE> der_;
    std::string objectId_;
    CERT_PUBLIC_KEY_INFO info_ = {};
};

// The DER of `info`; false when its algorithm is not named by a dotted object identifier or its
// parameters are not one encoded value.
bool encodePublicKeyInfo(const CERT_PUBLIC_KEY_INFO& info, std::vector<BYTE>& der);

}  // namespace keyops
