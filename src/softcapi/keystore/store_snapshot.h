// The certificates of one store as the process has read them: what an open store and every
// context handed out from it point to. A snapshot no one but the cache holds is changed in place
// as the key store changes; one that is held is copied first, so that an open store keeps the
// contents it was opened with.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "softcapi/crypt32/certificate_info.h"
#include "softcapi/keystore/keystore_rows.h"
#include "softcapi/keystore/location.h"

namespace softcapi {

struct StoreSnapshot;
struct SnapshotEntry;
using SharedEntry = std::shared_ptr<const SnapshotEntry>;

const uint32_t kStoreMagic = 0x53544f52;  // "STOR"
const DWORD kRemovedPlace = 0;

// What an HCERTSTORE points to: an open store, or the snapshot a certificate context belongs to
// (its hCertStore), which can be enumerated like the store it was read from.
struct StoreHandle {
    uint32_t magic;
    StoreSnapshot* snapshot;
};

// One certificate as read, shared by every snapshot that holds it.
struct SnapshotEntry {
    CertificateRecord record;  // its binding moved to `binding`, the one read
    CERT_INFO info;  // its public key points into record.encoded

    // The key binding as read, or as CertSetCertificateContextProperty last set it through any
    // context of the certificate: what every context of it shows at once, as on Windows.
    std::optional<KeyBinding> binding() const;
    void rebind(std::optional<KeyBinding> binding) const;

private:
    friend SharedEntry makeEntry(CertificateRecord record, ObjectIdTexts& ids);
    mutable std::mutex bindingMutex_;
    mutable std::optional<KeyBinding> binding_;
};

// The entry of a record; its object identifier is spelled in `ids`, which must outlive it.
SharedEntry makeEntry(CertificateRecord record, ObjectIdTexts& ids);

struct StoreSnapshot {
    StoreHandle handle{kStoreMagic, this};
    bool readOnly = true;
    // The store it was read from, where a change through it goes.
    Location location = Location::CurrentUser;
    std::string name;
    int64_t storeId = 0;  // 0 while the store has no row
    // One per certificate, in the store's order (by row id). Lookups walk them all: nothing but
    // the CERT_CONTEXT itself is kept in them, so that a walk touches as little memory as it can.
    // A certificate removed in place keeps its place, with an encoding type of 0 (kRemovedPlace),
    // until the snapshot is compacted.
    std::vector<CERT_CONTEXT> contexts;
    size_t removedCount = 0;
    std::vector<SharedEntry> entries;  // the same order; null where removed
    std::vector<int64_t> ids;          // the same order, removed ones included
    // Where the entries' object identifiers are spelled.
    std::shared_ptr<ObjectIdTexts> objectIds;
    // What the entries of a layer beneath the store's own point into (the machine's roots).
    std::shared_ptr<const void> beneath;
    // Held by the cache, by every open store handle and by every context handed out.
    std::atomic<long> references{1};
};

// An empty snapshot, with the cache's reference.
std::unique_ptr<StoreSnapshot> newSnapshot(bool readOnly, int64_t storeId,
                                           std::shared_ptr<ObjectIdTexts> ids);
// The same certificates, without the removed places, opened read-only or not.
std::unique_ptr<StoreSnapshot> copySnapshot(const StoreSnapshot& snapshot, bool readOnly);

// The store's own certificates and, beneath them, read-only ones of another layer (id 0, which no
// row has; each certificate once, those the store holds itself left out), for an open store of
// its own, outside the cache; `keepAlive` holds what the layer's entries point into.
std::unique_ptr<StoreSnapshot> layeredSnapshot(const StoreSnapshot& own,
                                               const std::vector<SharedEntry>& layer,
                                               std::shared_ptr<const void> keepAlive,
                                               bool readOnly);

// Changes to a snapshot only the cache holds. An entry's id must follow every id it holds.
void appendEntry(StoreSnapshot& snapshot, SharedEntry entry);
// The entry takes the place of the one with its id, or comes last when its id follows every id
// held; false when its place would be between others.
bool placeEntry(StoreSnapshot& snapshot, SharedEntry entry);
void removeEntry(StoreSnapshot& snapshot, int64_t id);
// Closes the gaps once removed places are half of all, so that a walk skips few of them.
void compactIfSparse(StoreSnapshot& snapshot);

// The first place at or after `index` that is not removed; the size when there is none. Inline:
// enumeration makes this step once per certificate.
inline size_t presentFrom(const StoreSnapshot& snapshot, size_t index) {
    while (index < snapshot.contexts.size() && snapshot.contexts[index].dwCertEncodingType == kRemovedPlace)
        ++index;
    return index;
}
// Where the certificate at a place lives: a layer beneath the store's own (id 0) is the
// machine's, whichever store shows it.
inline Location locationAt(const StoreSnapshot& snapshot, size_t index) {
    return snapshot.ids[index] == 0 ? Location::LocalMachine : snapshot.location;
}
// The record at a place; null for a removed one.
const CertificateRecord* recordAt(const StoreSnapshot& snapshot, size_t index);
// The entry at a place; null for a removed one.
const SnapshotEntry* entryAt(const StoreSnapshot& snapshot, size_t index);

// A certificate context a caller hands back: its snapshot and its place there.
struct ContextPlace {
    StoreSnapshot* snapshot = nullptr;
    size_t index = 0;
};

// False when the pointer is not a context of ours.
bool placeOf(PCCERT_CONTEXT context, ContextPlace& place);
// The same for a context of a known snapshot; false when it is not one of that snapshot's. Found
// by its address alone, and inline: enumeration makes this step once per certificate.
inline bool indexIn(const StoreSnapshot& snapshot, PCCERT_CONTEXT context, size_t& index) {
    auto first = reinterpret_cast<uintptr_t>(snapshot.contexts.data());
    auto at = reinterpret_cast<uintptr_t>(context);
    if (at < first || at >= first + snapshot.contexts.size() * sizeof(CERT_CONTEXT)) return false;
    index = (at - first) / sizeof(CERT_CONTEXT);
    return true;
}

void retainSnapshot(StoreSnapshot* snapshot);
void releaseSnapshot(StoreSnapshot* snapshot);

// A reference held by a scope and given back however the scope ends, memory running out included.
using SnapshotReference = std::unique_ptr<StoreSnapshot, void (*)(StoreSnapshot*)>;
inline SnapshotReference holdReference(StoreSnapshot* snapshot) {
    return SnapshotReference(snapshot, releaseSnapshot);
}

}  // namespace softcapi
