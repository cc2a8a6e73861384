#include "softcapi/keystore/keystore_catch_up.h"

#include <algorithm>
#include <vector>

#include "softcapi/keystore/keystore_file.h"
#include "softcapi/keystore/keystore_rows.h"

namespace softcapi {

namespace {

SchemaStamp stampOf(Connection& db) {
    Statement query(db,
                    "SELECT schema_version, application_id, user_version "
                    "FROM pragma_schema_version, pragma_application_id, pragma_user_version");
    SchemaStamp stamp;
    if (query.step()) stamp = {query.integer(0), query.integer(1), query.integer(2)};
    return stamp;
}

// A snapshot the cache alone holds, so that it can change in place: the cached one, or a copy
// of it when an open store or a context holds it too.
StoreSnapshot& exclusive(SnapshotReference& cached) {
    if (cached->references.load(std::memory_order_acquire) != 1) {
        std::unique_ptr<StoreSnapshot> copy = copySnapshot(*cached, cached->readOnly);
        cached.reset(copy.release());
    }
    return *cached;
}

// Snapshots made while their store had no row learn its id once a change names it.
void learnStoreIds(FileState& state, const KeystoreChanges& changes) {
    std::vector<int64_t> known;
    bool anyUnknown = false;
    state.snapshots.keepWhere([&](const std::string&, SnapshotReference& snapshot) {
        known.push_back(snapshot->storeId);
        anyUnknown = anyUnknown || snapshot->storeId == 0;
        return true;
    });
    if (!anyUnknown) return;
    for (const ChangedCertificate& changed : changes.changedCertificates) {
        if (std::find(known.begin(), known.end(), changed.storeId) != known.end()) continue;
        known.push_back(changed.storeId);
        std::optional<std::string> name = findStoreName(state.file.connection(), changed.storeId);
        if (!name) continue;
        for (bool readOnly : {true, false}) {
            SnapshotReference* snapshot = state.snapshots.find(storeKey(*name, readOnly));
            if (snapshot != nullptr && (*snapshot)->storeId == 0) (*snapshot)->storeId = changed.storeId;
        }
    }
}

// Applies to one snapshot what concerns its store. False when its certificates are to be read
// anew: a row that came back between others (only a hand edit moves one).
bool applyToSnapshot(FileState& state, SnapshotReference& cached, KeystoreChanges& changes,
                     std::vector<SharedEntry>& entries) {
    int64_t storeId = cached->storeId;
    auto ofStore = [storeId](const auto& change) { return change.storeId == storeId; };
    if (storeId == 0 || (std::none_of(changes.removedCertificates.begin(),
                                      changes.removedCertificates.end(), ofStore) &&
                         std::none_of(changes.changedCertificates.begin(),
                                      changes.changedCertificates.end(), ofStore)))
        return true;
    StoreSnapshot& snapshot = exclusive(cached);
    for (const RemovedCertificate& removed : changes.removedCertificates) {
        if (ofStore(removed)) removeEntry(snapshot, removed.id);
    }
    for (size_t i = 0; i < changes.changedCertificates.size(); ++i) {
        ChangedCertificate& changed = changes.changedCertificates[i];
        if (!ofStore(changed)) continue;
        // Made once, for both views of the store.
        if (!entries[i]) entries[i] = makeEntry(std::move(changed.record), state.objectIdTexts());
        if (!placeEntry(snapshot, entries[i])) return false;
    }
    compactIfSparse(snapshot);
    return true;
}

void applyChanges(FileState& state, KeystoreChanges& changes) {
    for (const ChangedContainer& container : changes.changedContainers)
        state.containers.erase(containerKey(container.family, container.name));
    if (changes.removedCertificates.empty() && changes.changedCertificates.empty()) return;
    learnStoreIds(state, changes);
    std::vector<SharedEntry> entries(changes.changedCertificates.size());
    state.snapshots.keepWhere([&](const std::string&, SnapshotReference& snapshot) {
        return applyToSnapshot(state, snapshot, changes, entries);
    });
}

}  // namespace

void catchUp(FileState& state) {
    SchemaStamp stamp = stampOf(state.file.connection());
    // Under the read lock no commit can land: the token belongs to what is read here.
    ChangeToken token = state.file.currentToken();
    if (token == state.token && stamp == state.stamp) return;
    if (!(stamp == state.stamp)) {
        // Nothing read under another schema is kept.
        state.forget();
        state.keystore = hasKeystoreSchema(state.file.connection());
        state.keepsHistory = state.keystore && keepsChangeHistory(state.file.connection());
        state.stamp = stamp;
    }
    std::optional<ChangeMark> mark;
    if (state.keepsHistory) mark = readChangeMark(state.file.connection());
    bool sameHistory = mark && state.mark && mark->lineage == state.mark->lineage &&
                       mark->sequence >= state.mark->sequence;
    if (!sameHistory) {
        state.forget();
    } else if (mark->sequence != state.mark->sequence) {
        KeystoreChanges changes = readChangesSince(state.file.connection(), state.mark->sequence, *mark);
        if (changes.complete)
            applyChanges(state, changes);
        else
            state.forget();
    }
    state.mark = mark;
    state.token = token;
}

}  // namespace softcapi
