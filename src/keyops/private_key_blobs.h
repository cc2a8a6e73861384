// Private keys as Java hands them over (unsigned big-endian numbers), and the blobs a CSP and the
// key storage provider import them from. Every private number, and every blob, is wiped when it
// goes.
#pragma once

#include <vector>

#include "common/secure_bytes.h"
#include "keyops/capi.h"

namespace keyops {

struct RsaPrivateKey {
    std::vector<BYTE> modulus;
    std::vector<BYTE> publicExponent;
    common::SecureBytes privateExponent;
    common::SecureBytes prime1;
    common::SecureBytes prime2;
    common::SecureBytes exponent1;
    common::SecureBytes exponent2;
    common::SecureBytes coefficient;
};

// A key on P-256, P-384 or P-521 (`curveBits` 256, 384, 521): its point and private number.
struct EcPrivateKey {
    DWORD curveBits = 0;
    std::vector<BYTE> x;
    std::vector<BYTE> y;
    common::SecureBytes d;
};

// A CSP's PRIVATEKEYBLOB of an AT_KEYEXCHANGE key (CALG_RSA_KEYX), numbers least significant byte
// first. False when the key does not fit its layout: a modulus of an odd number of bytes, a
// public exponent beyond 32 bits, a prime longer than half the modulus, a number longer than its
// place.
bool cspRsaPrivateBlob(const RsaPrivateKey& key, common::SecureBytes& blob);

// BCRYPT_RSAFULLPRIVATE_BLOB, numbers most significant byte first. False for an empty modulus,
// exponent or prime, or a number longer than its place.
bool cngRsaPrivateBlob(const RsaPrivateKey& key, common::SecureBytes& blob);

// BCRYPT_ECCPRIVATE_BLOB of an ECDSA key. False for another curve or a number longer than the
// curve's.
bool cngEcPrivateBlob(const EcPrivateKey& key, common::SecureBytes& blob);

}  // namespace keyops
