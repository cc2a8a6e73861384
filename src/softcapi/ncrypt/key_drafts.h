// CNG keys between their making (NCryptCreatePersistedKey, NCryptImportKey) and their
// finalization: the properties they take before, and what NCryptFinalizeKey makes of them.
#pragma once

#include <memory>
#include <string>

#include "softcapi/shim/crypt_objects.h"

namespace softcapi {

// NCRYPT_PIN_PROPERTY's value, a zero-terminated UTF-16 string, as UTF-8; false when it is not one.
bool pinFromProperty(const BYTE* input, DWORD size, common::SecureBytes& pin);

// A property set before finalizing: NCRYPT_LENGTH_PROPERTY of an RSA key to generate (2048 to
// 16384 bits, in steps of 64), NCRYPT_PIN_PROPERTY (not empty), NCRYPT_EXPORT_POLICY_PROPERTY
// (0 only: the key store keeps no exportable CNG keys). The error, NTE_NOT_SUPPORTED for another
// property.
DWORD setDraftProperty(KeyDraft& draft, const std::u16string& property, const BYTE* input,
                       DWORD size);

// Whether the location holds a key of the name: NTE_EXISTS when it does, ERROR_SUCCESS when it
// does not, or the error that kept the key store from being read.
DWORD checkNameFree(Location location, const std::string& name);

// The key the draft makes, generated or imported, persisted under its name (none for an
// ephemeral key) in its location: a finished key object, usable at once, its PIN given. Null
// with NTE_EXISTS when the name is taken (without NCRYPT_OVERWRITE_KEY_FLAG), or the error.
std::shared_ptr<SoftNcryptObject> finalizeDraft(const SoftNcryptObject& draftKey, DWORD& error);

}  // namespace softcapi
