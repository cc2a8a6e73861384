// Removing PKCS#1 v1.5 encryption padding and OAEP (SHA-1, MGF1-SHA-1) from a raw RSA block.
#pragma once

#include <vector>

#include "common/secure_bytes.h"

namespace softcapi {

// The message inside a block of the modulus' size; false when the padding does not check.
bool removePkcs1Padding(const common::SecureBytes& block, common::SecureBytes& message);
bool removeOaepPadding(const common::SecureBytes& block, common::SecureBytes& message);

}  // namespace softcapi
