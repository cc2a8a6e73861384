// Keys made by the provider in new containers: imported from Java's numbers or generated inside,
// never exportable, PIN-protected when a PIN is given; and containers deleted. Each logs its steps
// and records its outcome in the context; a key that cannot be made whole leaves no container.
#pragma once

#include <string>
#include <vector>

#include "common/secure_bytes.h"
#include "keyops/call_context.h"
#include "keyops/container_key.h"
#include "keyops/private_key_blobs.h"

namespace keyops {

// The PIN, as the natives take it from Java: empty for none, else UTF-8 ending in its zero byte.
// The container's name must be new in the location (NTE_EXISTS otherwise): not empty, no zero
// byte. On success `made` names the container as a certificate's property will.
//
// Status 6 when the container cannot be made; 28 when the key, or its PIN, is not taken (a key
// whose numbers do not fit the blob's layout: NTE_BAD_DATA).
bool importKey(CallContext& context, StoreLocation location, const std::string& container,
               KeyHome home, const RsaPrivateKey& key, const common::SecureBytes& pin,
               ContainerKey& made);
// EC keys go to the key storage provider.
bool importKey(CallContext& context, StoreLocation location, const std::string& container,
               const EcPrivateKey& key, const common::SecureBytes& pin, ContainerKey& made);

// A key generated inside: RSA of `bits` where `home` says, or with `ec` a key of the key storage
// provider on the curve of `bits` (256, 384, 521). `publicKeyInfo` is its SubjectPublicKeyInfo
// (DER). Status 6 as above; 29 when the key is not made, persisted or exported.
bool generateKey(CallContext& context, StoreLocation location, const std::string& container,
                 KeyHome home, bool ec, DWORD bits, const common::SecureBytes& pin,
                 ContainerKey& made, std::vector<BYTE>& publicKeyInfo);

// Deletes the container with its keys: a CSP's with CRYPT_DELETEKEYSET, a key storage provider's
// with NCryptDeleteKey. Status 31 when it cannot.
bool deleteContainer(CallContext& context, const ContainerKey& key);

}  // namespace keyops
