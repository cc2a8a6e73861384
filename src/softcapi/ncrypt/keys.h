// Where CNG keys come from: a key of the key storage provider, read from the key store, or the
// key of a CSP context seen through it. Shared by NCryptOpenKey, NCryptTranslateHandle and
// CryptAcquireCertificatePrivateKey.
#pragma once

#include <memory>
#include <string>

#include "softcapi/shim/crypt_objects.h"

namespace softcapi {

// The location's stored key of that name (UTF-8, compared ignoring ASCII case); null with
// NTE_BAD_KEYSET when there is none, or the error that kept it from being read.
std::shared_ptr<SoftNcryptObject> storedNcryptKey(Location location, const std::string& name,
                                                  DWORD& error);

// The key of a specification of an RSA context, which must be unlocked if it has a PIN; null with
// NTE_NOT_SUPPORTED for a DSS context, NTE_NO_KEY, or SCARD_W_CARD_NOT_AUTHENTICATED.
std::shared_ptr<SoftNcryptObject> translatedNcryptKey(SoftProvider& provider, DWORD keySpec,
                                                      DWORD& error);

// The key storage provider's own object, opening the keys of a location.
std::shared_ptr<SoftNcryptObject> ncryptStorageProvider(Location location);

}  // namespace softcapi
