#include "softcapi/keystore/keystore_cache.h"

#include <map>
#include <mutex>

#include "softcapi/keystore/keystore_catch_up.h"
#include "softcapi/keystore/keystore_file.h"
#include "softcapi/keystore/keystore_file_state.h"
#include "softcapi/keystore/keystore_rows.h"
#include "softcapi/keystore/machine_secret.h"
#include "softcapi/keystore/sealed_key.h"

namespace softcapi {

namespace {

std::mutex gMutex;

std::map<std::string, FileState>& fileStates() {
    static auto* states = new std::map<std::string, FileState>();  // lives as long as the process
    return *states;
}

// Whether what the caches hold stands as it is: the check every open makes, a stat and a read of
// the header. A file replaced since is opened anew and nothing read from the old one is kept; a
// commit in flight changes the header only once its pages are in place.
bool isCurrent(FileState& state, const std::string& path) {
    if (state.file.follow(path) != WatchedFile::Change::None) state.forgetAll();
    if (!state.file.readable()) return true;
    return state.file.currentToken() == state.token;
}

// Inside the transaction of a catch-up: the store's certificates, from its other view when that
// is cached, from the file otherwise.
std::unique_ptr<StoreSnapshot> loadSnapshot(FileState& state, const std::string& storeName,
                                            bool readOnly) {
    SnapshotReference* twin = state.snapshots.find(storeKey(storeName, !readOnly));
    if (twin != nullptr) return copySnapshot(**twin, readOnly);
    ObjectIdTexts& ids = state.objectIdTexts();
    std::unique_ptr<StoreSnapshot> snapshot = newSnapshot(readOnly, 0, state.objectIds);
    if (!state.keystore) return snapshot;
    snapshot->storeId = findStoreId(state.file.connection(), storeName);
    std::vector<CertificateRecord> records = loadCertificates(state.file.connection(), storeName);
    snapshot->contexts.reserve(records.size());
    snapshot->entries.reserve(records.size());
    snapshot->ids.reserve(records.size());
    for (CertificateRecord& record : records) appendEntry(*snapshot, makeEntry(std::move(record), ids));
    return snapshot;
}

// Runs a read of a file's caches. A failure of the file empties them and comes back as `error`;
// anything else empties them too, as a catch-up cut short leaves caches that are not what the
// file holds, and goes on up.
template <typename Read>
auto readThroughCaches(FileState& state, DWORD& error, Read read) -> decltype(read()) {
    try {
        return read();
    } catch (const DatabaseError& failure) {
        state.forgetAll();
        error = failure.code;
        return nullptr;
    } catch (...) {
        state.forgetAll();
        throw;
    }
}

// The machine's secret for opening its keys; none for the user's, whose keys are not sealed.
// Throws DatabaseError when it may not be read.
std::optional<common::SecureBytes> secretToOpen(Location location) {
    if (location == Location::CurrentUser) return std::nullopt;
    std::optional<common::SecureBytes> secret = readMachineSecret();
    // Keys without a secret to open them are damaged; a container that does not exist is
    // NTE_BAD_KEYSET all the same, found out later.
    if (!secret) return common::SecureBytes();
    return secret;
}

}  // namespace

StoreSnapshot* openStoreSnapshot(Location location, const std::string& storeName, bool readOnly,
                                 DWORD& error) {
    std::string path = keystorePath(location);
    std::string key = storeKey(storeName, readOnly);
    std::lock_guard<std::mutex> lock(gMutex);
    FileState& state = fileStates()[path];
    return readThroughCaches(state, error, [&]() -> StoreSnapshot* {
        SnapshotReference* cached = isCurrent(state, path) ? state.snapshots.find(key) : nullptr;
        if (cached == nullptr) {
            std::unique_ptr<StoreSnapshot> loaded;
            if (state.file.readable()) {
                Transaction transaction(state.file.connection(), Transaction::Kind::Read);
                catchUp(state);
                cached = state.snapshots.find(key);
                if (cached == nullptr) loaded = loadSnapshot(state, storeName, readOnly);
                transaction.commit();
            } else {
                loaded = newSnapshot(readOnly, 0, nullptr);
            }
            // The cache holds the snapshot's first reference once it has a place for it.
            if (loaded) {
                loaded->location = location;
                loaded->name = storeName;
                cached = &state.snapshots.insert(key, holdReference(loaded.release()));
            }
        }
        retainSnapshot(cached->get());
        return cached->get();
    });
}

std::shared_ptr<const LoadedContainer> findContainer(Location location, KeyFamily family,
                                                     const std::string& name, DWORD& error) {
    std::optional<common::SecureBytes> secret;
    try {
        secret = secretToOpen(location);
    } catch (const DatabaseError& failure) {
        error = failure.code;
        return nullptr;
    }
    std::string path = keystorePath(location);
    std::string key = containerKey(static_cast<int64_t>(family), name);
    std::lock_guard<std::mutex> lock(gMutex);
    FileState& state = fileStates()[path];
    return readThroughCaches(state, error, [&]() -> CachedContainer {
        CachedContainer* cached = isCurrent(state, path) ? state.containers.find(key) : nullptr;
        if (cached != nullptr) return *cached;
        if (!state.file.readable()) {
            error = NTE_BAD_KEYSET;
            return nullptr;
        }
        std::optional<ContainerRecord> record;
        {
            Transaction transaction(state.file.connection(), Transaction::Kind::Read);
            catchUp(state);
            cached = state.containers.find(key);
            if (cached == nullptr && state.keystore) record = loadContainer(state.file.connection(), family, name);
            transaction.commit();
        }
        if (cached != nullptr) return *cached;
        if (!record) {
            error = NTE_BAD_KEYSET;
            return nullptr;
        }
        if (secret) unsealContainerKeys(*secret, *record);
        CachedContainer container = LoadedContainer::load(*record, error);
        if (container) state.containers.insert(key, container);
        return container;
    });
}

}  // namespace softcapi
