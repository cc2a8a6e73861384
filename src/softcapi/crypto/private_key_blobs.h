// Private keys as the blobs CryptImportKey and NCryptImportKey take, and the one CryptExportKey
// writes of an exportable key: CryptoAPI's PRIVATEKEYBLOB (RSA, least significant byte first),
// CNG's BCRYPT_RSAFULLPRIVATE_BLOB and BCRYPT_ECCPRIVATE_BLOB (most significant byte first).
#pragma once

#include "common/secure_bytes.h"
#include "softcapi/crypto/openssl_util.h"

namespace softcapi {

// The RSA key of a PRIVATEKEYBLOB, its header's algorithm in `algorithm`. Null with the error
// RSAENH gives: NTE_BAD_TYPE for another blob type, NTE_BAD_VER for another version, NTE_BAD_DATA
// for a blob that is short, not "RSA2", or whose numbers are not one key pair.
PkeyPtr keyFromCapiPrivateBlob(const BYTE* blob, DWORD size, ALG_ID& algorithm, DWORD& error);

// The PRIVATEKEYBLOB of an RSA key, its header naming `algorithm`; empty when OpenSSL fails or
// the key has no such blob (an exponent beyond 32 bits, a length not a multiple of 16 bits).
common::SecureBytes capiPrivateKeyBlob(EVP_PKEY* key, ALG_ID algorithm);

// The key of a CNG private blob of type BCRYPT_RSAFULLPRIVATE_BLOB or BCRYPT_ECCPRIVATE_BLOB
// (ECDSA on P-256, P-384 or P-521). Null with NTE_BAD_TYPE for another type, NTE_NOT_SUPPORTED
// for another curve or an ECDH key, NTE_BAD_DATA for a blob that is short or whose numbers are
// not one key pair.
PkeyPtr keyFromCngPrivateBlob(LPCWSTR blobType, const BYTE* blob, DWORD size, DWORD& error);

}  // namespace softcapi
