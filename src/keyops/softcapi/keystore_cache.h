// What the process has read from the key store, kept as immutable snapshots shared by every
// handle: the certificates of each opened store and the parsed key containers. Each open asks
// SQLite whether any process has changed the file since, and reads it again only then.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "keyops/softcapi/certificate_info.h"
#include "keyops/softcapi/key_container.h"
#include "keyops/softcapi/keystore_rows.h"

namespace softcapi {

struct StoreSnapshot;

const uint32_t kStoreMagic = 0x53544f52;  // "STOR"

// What an HCERTSTORE points to: an open store, or the snapshot a certificate context belongs to
// (its hCertStore), which can be enumerated like the store it was read from.
struct StoreHandle {
    uint32_t magic;
    StoreSnapshot* snapshot;
};

struct StoreSnapshot {
    StoreHandle handle{kStoreMagic, this};
    std::string storeName;
    bool readOnly = true;
    std::vector<CertificateRecord> records;
    // One per record, in the same order. Lookups walk them all: nothing but the CERT_CONTEXT
    // itself is kept in them, so that a walk touches as little memory as it can.
    std::vector<CERT_CONTEXT> contexts;
    // What each context's pCertInfo points to, in the same order.
    std::vector<CERT_INFO> infos;
    ObjectIdTexts objectIds;
    // Held by the cache, by every open store handle and by every context handed out.
    std::atomic<long> references{1};
};

// A certificate context a caller hands back: its snapshot and its place there.
struct ContextPlace {
    StoreSnapshot* snapshot = nullptr;
    size_t index = 0;
};

// False when the pointer is not a context of ours.
bool placeOf(PCCERT_CONTEXT context, ContextPlace& place);
// The same for a context of a known snapshot; false when it is not one of that snapshot's.
bool indexIn(const StoreSnapshot& snapshot, PCCERT_CONTEXT context, size_t& index);

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
