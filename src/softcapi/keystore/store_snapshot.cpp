#include "softcapi/keystore/store_snapshot.h"

#include <algorithm>
#include <set>

namespace softcapi {

namespace {

const DWORD kEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

CERT_CONTEXT contextOf(const SnapshotEntry& entry, StoreSnapshot& snapshot) {
    CERT_CONTEXT context;
    context.dwCertEncodingType = kEncodingType;
    context.pbCertEncoded = const_cast<BYTE*>(entry.record.encoded.data());
    context.cbCertEncoded = static_cast<DWORD>(entry.record.encoded.size());
    context.pCertInfo = const_cast<CERT_INFO*>(&entry.info);
    context.hCertStore = &snapshot.handle;
    return context;
}

bool isRemoved(const CERT_CONTEXT& context) {
    return context.dwCertEncodingType == kRemovedPlace;
}

// Room for one more in each of the three, made before any of them changes, so that running out
// of memory leaves the snapshot as it was.
void makeRoomForOne(StoreSnapshot& snapshot) {
    size_t wanted = snapshot.contexts.size() + 1;
    if (snapshot.contexts.capacity() >= wanted && snapshot.entries.capacity() >= wanted &&
        snapshot.ids.capacity() >= wanted)
        return;
    size_t room = std::max<size_t>(16, wanted + wanted / 2);
    snapshot.contexts.reserve(room);
    snapshot.entries.reserve(room);
    snapshot.ids.reserve(room);
}

}  // namespace

SharedEntry makeEntry(CertificateRecord record, ObjectIdTexts& ids) {
    auto entry = std::make_shared<SnapshotEntry>();
    entry->binding_ = std::move(record.binding);
    record.binding.reset();
    entry->record = std::move(record);
    describeCertificate(entry->record.encoded, entry->info, ids);
    return entry;
}

std::optional<KeyBinding> SnapshotEntry::binding() const {
    std::lock_guard<std::mutex> lock(bindingMutex_);
    return binding_;
}

void SnapshotEntry::rebind(std::optional<KeyBinding> binding) const {
    std::lock_guard<std::mutex> lock(bindingMutex_);
    binding_ = std::move(binding);
}

std::unique_ptr<StoreSnapshot> newSnapshot(bool readOnly, int64_t storeId,
                                           std::shared_ptr<ObjectIdTexts> ids) {
    auto snapshot = std::make_unique<StoreSnapshot>();
    snapshot->readOnly = readOnly;
    snapshot->storeId = storeId;
    snapshot->objectIds = std::move(ids);
    return snapshot;
}

std::unique_ptr<StoreSnapshot> copySnapshot(const StoreSnapshot& snapshot, bool readOnly) {
    std::unique_ptr<StoreSnapshot> copy =
        newSnapshot(readOnly, snapshot.storeId, snapshot.objectIds);
    copy->location = snapshot.location;
    copy->name = snapshot.name;
    size_t present = snapshot.contexts.size() - snapshot.removedCount;
    copy->contexts.reserve(present);
    copy->entries.reserve(present);
    copy->ids.reserve(present);
    for (size_t i = 0; i < snapshot.contexts.size(); ++i) {
        if (!snapshot.entries[i]) continue;
        copy->contexts.push_back(contextOf(*snapshot.entries[i], *copy));
        copy->entries.push_back(snapshot.entries[i]);
        copy->ids.push_back(snapshot.ids[i]);
    }
    return copy;
}

std::unique_ptr<StoreSnapshot> layeredSnapshot(const StoreSnapshot& own,
                                               const std::vector<SharedEntry>& layer,
                                               std::shared_ptr<const void> keepAlive,
                                               bool readOnly) {
    std::unique_ptr<StoreSnapshot> layered = copySnapshot(own, readOnly);
    layered->beneath = std::move(keepAlive);
    std::set<std::vector<BYTE>> held;
    for (const SharedEntry& entry : layered->entries) held.insert(entry->record.thumbprint);
    // Contexts are handed out by address: the vector takes them all before any is.
    layered->contexts.reserve(layered->contexts.size() + layer.size());
    for (const SharedEntry& entry : layer) {
        if (!held.insert(entry->record.thumbprint).second) continue;
        layered->contexts.push_back(contextOf(*entry, *layered));
        layered->ids.push_back(0);
        layered->entries.push_back(entry);
    }
    return layered;
}

void appendEntry(StoreSnapshot& snapshot, SharedEntry entry) {
    makeRoomForOne(snapshot);
    snapshot.contexts.push_back(contextOf(*entry, snapshot));
    snapshot.ids.push_back(entry->record.id);
    snapshot.entries.push_back(std::move(entry));
}

bool placeEntry(StoreSnapshot& snapshot, SharedEntry entry) {
    auto at = std::lower_bound(snapshot.ids.begin(), snapshot.ids.end(), entry->record.id);
    if (at == snapshot.ids.end()) {
        appendEntry(snapshot, std::move(entry));
        return true;
    }
    if (*at != entry->record.id) return false;
    size_t index = static_cast<size_t>(at - snapshot.ids.begin());
    if (isRemoved(snapshot.contexts[index])) --snapshot.removedCount;
    snapshot.contexts[index] = contextOf(*entry, snapshot);
    snapshot.entries[index] = std::move(entry);
    return true;
}

void removeEntry(StoreSnapshot& snapshot, int64_t id) {
    auto at = std::lower_bound(snapshot.ids.begin(), snapshot.ids.end(), id);
    if (at == snapshot.ids.end() || *at != id) return;
    size_t index = static_cast<size_t>(at - snapshot.ids.begin());
    if (isRemoved(snapshot.contexts[index])) return;
    snapshot.contexts[index] = CERT_CONTEXT{};
    snapshot.entries[index].reset();
    ++snapshot.removedCount;
}

void compactIfSparse(StoreSnapshot& snapshot) {
    if (snapshot.removedCount == 0 || snapshot.removedCount * 2 < snapshot.contexts.size()) return;
    size_t kept = 0;
    for (size_t i = 0; i < snapshot.contexts.size(); ++i) {
        if (isRemoved(snapshot.contexts[i])) continue;
        snapshot.contexts[kept] = snapshot.contexts[i];
        snapshot.entries[kept] = std::move(snapshot.entries[i]);
        snapshot.ids[kept] = snapshot.ids[i];
        ++kept;
    }
    snapshot.contexts.resize(kept);
    snapshot.entries.resize(kept);
    snapshot.ids.resize(kept);
    snapshot.removedCount = 0;
}

const CertificateRecord* recordAt(const StoreSnapshot& snapshot, size_t index) {
    const SharedEntry& entry = snapshot.entries[index];
    return entry ? &entry->record : nullptr;
}

const SnapshotEntry* entryAt(const StoreSnapshot& snapshot, size_t index) {
    return snapshot.entries[index].get();
}

bool placeOf(PCCERT_CONTEXT context, ContextPlace& place) {
    if (context == nullptr) return false;
    const auto* handle = static_cast<const StoreHandle*>(context->hCertStore);
    if (handle == nullptr || handle->magic != kStoreMagic) return false;
    StoreSnapshot* snapshot = handle->snapshot;
    size_t index = 0;
    if (handle != &snapshot->handle || !indexIn(*snapshot, context, index)) return false;
    place = {snapshot, index};
    return true;
}

void retainSnapshot(StoreSnapshot* snapshot) {
    snapshot->references.fetch_add(1, std::memory_order_relaxed);
}

void releaseSnapshot(StoreSnapshot* snapshot) {
    if (snapshot->references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete snapshot;
}

}  // namespace softcapi
