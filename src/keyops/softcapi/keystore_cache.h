// What the process has read from the key store, kept as immutable snapshots shared by every
// handle: the certificates of each opened store and the parsed key containers. Each open asks
// SQLite whether any process has changed the file since, and reads it again only then.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "keyops/softcapi/key_container.h"
#include "keyops/softcapi/keystore_rows.h"

namespace softcapi {

struct StoreSnapshot;

// The certificate context handed to callers; callers see only the leading CERT_CONTEXT.
struct SoftCertContext {
    CERT_CONTEXT context;
    uint32_t magic;
    StoreSnapshot* snapshot;
    size_t index;
};

const uint32_t kCertContextMagic = 0x43455254;  // "CERT"

struct StoreSnapshot {
    std::string storeName;
    bool readOnly = true;
    std::vector<CertificateRecord> records;
    std::vector<SoftCertContext> contexts;  // one per record, in the same order
    // Held by the cache, by every open store handle and by every context handed out.
    std::atomic<long> references{1};
};

// The context behind a pointer a caller hands back, or null when it is not one of ours.
const SoftCertContext* softContext(PCCERT_CONTEXT context);

void retainSnapshot(StoreSnapshot* snapshot);
void releaseSnapshot(StoreSnapshot* snapshot);

// The current contents of a store, with one reference for the caller; null with `error` set
// when the key store cannot be read.
StoreSnapshot* openStoreSnapshot(const std::string& storeName, bool readOnly, DWORD& error);

// A key container by family and name; null with NTE_BAD_KEYSET when there is none, or with the
// error that kept the key store from being read.
std::shared_ptr<const LoadedContainer> findContainer(KeyFamily family, const std::string& name,
                                                     DWORD& error);

}  // namespace softcapi
