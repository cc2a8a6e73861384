// What the process has read from the key store, kept process-wide and shared by every handle:
// snapshots of the stores it opened and the parsed key containers. Each open checks whether any
// process has changed the file since; when one has, the caches catch up on what changed.
#pragma once

#include <memory>
#include <string>

#include "softcapi/keystore/key_container.h"
#include "softcapi/keystore/store_snapshot.h"

namespace softcapi {

// The current contents of a store, with one reference for the caller; null with `error` set
// when the key store cannot be read.
StoreSnapshot* openStoreSnapshot(const std::string& storeName, bool readOnly, DWORD& error);

// A key container by family and name; null with NTE_BAD_KEYSET when there is none, or with the
// error that kept the key store from being read.
std::shared_ptr<const LoadedContainer> findContainer(KeyFamily family, const std::string& name,
                                                     DWORD& error);

}  // namespace softcapi
