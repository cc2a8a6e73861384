// The machine's roots, which the current user's "Root" store shows beneath the user's own, as
// Windows shows LocalMachine\Root there: on a host without Windows the system's trust, read from
// the PEM bundle that QDIE_SYSTEM_ROOTS names (by default Debian's
// /etc/ssl/certs/ca-certificates.crt), as Wine's CRYPT32 fills its Root store from the host's.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "softcapi/keystore/store_snapshot.h"

namespace softcapi {

struct MachineRoots {
    std::string bundle;
    // Why the bundle gave no roots (absent, unreadable, too large), or empty when it was read.
    std::string problem;
    // Each certificate of the bundle once, with id 0: no row of the key store holds them.
    std::vector<SharedEntry> entries;
    // Where the entries' object identifiers are spelled.
    std::shared_ptr<ObjectIdTexts> objectIds;
};

// The bundle's roots, read again only when the bundle has changed (another file, size or time);
// an absent or unreadable bundle is an empty layer, never a failure. A block that is not a whole
// certificate is left out.
std::shared_ptr<const MachineRoots> machineRoots();

}  // namespace softcapi
