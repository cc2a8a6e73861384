// Whether an opened key is the one expected: its public part and the expected SubjectPublicKeyInfo
// (a certificate's, or what a generated key's was), exported in the same blob format by the same
// provider, carry the same numbers. A held key is checked once, when it is opened, so that no
// signature is ever made by a key other than the certificate's.
#pragma once

#include "keyops/call_context.h"

namespace keyops {

// The algorithm group of a CNG key, as its public blob tells it.
enum class CngGroup { Rsa, Ecdsa };

// A CSP's key against the expected public key imported into the same context: exported as
// PUBLICKEYBLOBs, RSA's modulus and exponent, DSA's p, q, g and y compared. Logged; on a
// difference NTE_BAD_PUBLIC_KEY is recorded with `status`, as is a failed export.
bool cspKeyMatches(CallContext& context, HCRYPTPROV provider, HCRYPTKEY key,
                   const CERT_PUBLIC_KEY_INFO& expected, uint32_t status);

// A CNG key against the expected public key imported for BCrypt: exported as
// BCRYPT_PUBLIC_KEY_BLOBs, RSA's modulus and exponent, ECDSA's curve size and point compared;
// `group` says which the key is.
bool cngKeyMatches(CallContext& context, NCRYPT_KEY_HANDLE key,
                   const CERT_PUBLIC_KEY_INFO& expected, uint32_t status, CngGroup& group);

}  // namespace keyops
