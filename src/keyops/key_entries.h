// Key entries of the provider's key stores as wholes: a key installed with its certificate and
// chain, and an entry deleted with its container. All or nothing, as the steps they join are.
#pragma once

#include <string>
#include <vector>

#include "common/secure_bytes.h"
#include "keyops/call_context.h"
#include "keyops/container_key.h"
#include "keyops/private_key_blobs.h"
#include "keyops/system_stores.h"

namespace keyops {

// importKey into a new container, then bindCertificate of the certificate and its issuers; a
// binding that fails deletes the new container again. The outcome is the first failure's.
bool installKeyEntry(CallContext& context, StoreLocation location, const std::string& container,
                     KeyHome home, const RsaPrivateKey& key, const common::SecureBytes& pin,
                     const std::vector<BYTE>& certificate, const CertificateList& issuers,
                     ContainerKey& made);
bool installKeyEntry(CallContext& context, StoreLocation location, const std::string& container,
                     const EcPrivateKey& key, const common::SecureBytes& pin,
                     const std::vector<BYTE>& certificate, const CertificateList& issuers,
                     ContainerKey& made);

// Deletes the certificate (by its encoding) from the location's "My", then the container its
// key-provider property names, unless another certificate of that "My" is still bound to the same
// container. A certificate without the property is deleted alone. When the container cannot be
// deleted the certificate is put back with its binding. Status 7 (the store not opened), 25 (not
// found: CRYPT_E_NOT_FOUND, or not deleted), 10 (its binding unreadable), 31 (the container not
// deleted).
bool deleteKeyEntry(CallContext& context, StoreLocation location,
                    const std::vector<BYTE>& certificate);

}  // namespace keyops
