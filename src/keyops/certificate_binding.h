// A certificate bound to its key's container in the location's "My", its issuers added to "CA":
// how a key entry gets its certificate, first or anew.
#pragma once

#include <vector>

#include "keyops/call_context.h"
#include "keyops/container_key.h"
#include "keyops/system_stores.h"

namespace keyops {

// Adds `certificate` to the "My" of the container's location (replacing one of the same encoding)
// and binds it to the container through its key-provider property, once the container's key is
// found to be the certificate's; then adds each of `issuers` to "CA" unless "CA" or "Root" holds
// it. All or nothing: on any failure what the call added is deleted again (a certificate that was
// there before is left, with the binding it had) and the outcome tells the first failure: status 7
// (a store not opened or read), 24 (a certificate not added), 6 (the container's key not opened),
// 30 (not the certificate's key: NTE_BAD_PUBLIC_KEY, or the property not set).
//
// `replacing`, when not empty and not the certificate itself, is a certificate of "My" deleted once
// the new one is bound (the one a certificate reply replaces); when that deletion fails the call
// fails with status 25, the new binding standing.
bool bindCertificate(CallContext& context, const ContainerKey& key,
                     const std::vector<BYTE>& certificate, const CertificateList& issuers,
                     const std::vector<BYTE>& replacing);

}  // namespace keyops
