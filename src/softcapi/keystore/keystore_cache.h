// What the process has read from the key store, kept process-wide and shared by every handle:
// snapshots of the stores it opened and the parsed key containers. Each open checks whether any
// process has changed the file since; when one has, the caches catch up on what changed.
#pragma once

#include <memory>
#include <string>

#include "softcapi/keystore/key_container.h"
#include "softcapi/keystore/store_snapshot.h"

namespace softcapi {

// The current contents of a location's store, with one reference for the caller; null with
// `error` set when the key store cannot be read.
StoreSnapshot* openStoreSnapshot(Location location, const std::string& storeName, bool readOnly,
                                 DWORD& error);

// A location's key container by family and name; null with NTE_BAD_KEYSET when there is none,
// or with the error that kept the key store from being read. The machine's keys open only for a
// user who may read the machine's secret (E_ACCESSDENIED otherwise, asked at every opening, so
// that nothing cached serves another user), and a key that does not unseal is
// NTE_KEYSET_ENTRY_BAD, as Windows calls a container found but damaged.
std::shared_ptr<const LoadedContainer> findContainer(Location location, KeyFamily family,
                                                     const std::string& name, DWORD& error);

}  // namespace softcapi
