// The machine's secret: 32 random bytes beside the machine's key store, readable by root alone
// (0600), under which the machine's private keys are sealed, as Windows seals machine keys under
// the machine's DPAPI secret that only administrators and SYSTEM may use.
#pragma once

#include <optional>
#include <string>

#include "common/secure_bytes.h"

namespace softcapi {

std::string machineSecretPath();

// The secret; none when it has not been made. Throws DatabaseError: E_ACCESSDENIED for a user
// who may not read it, CRYPT_E_FILE_ERROR for anything but a regular file of 32 bytes.
std::optional<common::SecureBytes> readMachineSecret();

// The secret, made first when there is none: written whole to a new file (O_EXCL, O_NOFOLLOW,
// 0600 whatever the umask) that then takes its name, so that no reader ever sees part of it.
// Called by a writer of the machine's key store, whose write lock keeps two makers apart.
common::SecureBytes machineSecretForSealing();

}  // namespace softcapi
