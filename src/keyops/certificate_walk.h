// The one walk over a store's certificates that lookup, listing and deletion share.
#pragma once

#include <cstring>

#include "keyops/handles.h"

namespace keyops {

// Hands each certificate of the store, in its order, to `visit` until it returns true. The
// context the walk stopped at comes back owned; an empty owner when it ran to the end.
template <typename Visit>
ScopedCertContext walkCertificates(HCERTSTORE store, Visit visit) {
    const CryptoPlatform& platform = cryptoPlatform();
    PCCERT_CONTEXT context = nullptr;
    while ((context = platform.CertEnumCertificatesInStore(store, context)) != nullptr) {
        if (visit(context)) break;
    }
    return ScopedCertContext(context);
}

// After a walk that ran to its end: whether the store said it had no more, as enumeration ends
// (CRYPT_E_NOT_FOUND), and not that it failed on the way, which leaves certificates unseen.
inline bool walkEndedAtTheLast(const CryptoPlatform& platform) {
    return platform.GetLastError() == static_cast<DWORD>(CRYPT_E_NOT_FOUND);
}

// Whether a certificate's encoding is exactly these bytes: the same length, the same bytes.
inline bool hasEncoding(PCCERT_CONTEXT context, const BYTE* encoding, DWORD length) {
    return context->cbCertEncoded == length &&
           (length == 0 || std::memcmp(context->pbCertEncoded, encoding, length) == 0);
}

// The certificate with exactly this encoding, or an empty owner; `error` is ERROR_SUCCESS when the
// walk found it or reached the store's end, else why the walk stopped short.
inline ScopedCertContext findByEncoding(HCERTSTORE store, const BYTE* encoding, DWORD length,
                                        DWORD& error) {
    ScopedCertContext found = walkCertificates(
        store, [&](PCCERT_CONTEXT candidate) { return hasEncoding(candidate, encoding, length); });
    const CryptoPlatform& platform = cryptoPlatform();
    error = found.valid() || walkEndedAtTheLast(platform) ? ERROR_SUCCESS : platform.GetLastError();
    return found;
}

}  // namespace keyops
