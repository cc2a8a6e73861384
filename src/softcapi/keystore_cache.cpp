#include "softcapi/keystore_cache.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <optional>

#include "softcapi/keystore_changes.h"
#include "softcapi/keystore_file.h"
#include "softcapi/keystore_watch.h"
#include "softcapi/recently_used_cache.h"
#include "softcapi/text_encoding.h"

namespace softcapi {

namespace {

// The stores and containers kept, those used least recently going first when more come: a
// process that opens many names keeps no more than this many.
const size_t kCachedStores = 64;
const size_t kCachedContainers = 256;

using CachedContainer = std::shared_ptr<const LoadedContainer>;

// What decides how a file is read, as its header holds it: the schema's version, which every
// change of the schema bumps, and the application's id and version.
struct SchemaStamp {
    int64_t schemaVersion = -1;
    int64_t applicationId = 0;
    int64_t userVersion = 0;
    bool operator==(const SchemaStamp& other) const {
        return schemaVersion == other.schemaVersion && applicationId == other.applicationId &&
               userVersion == other.userVersion;
    }
};

SchemaStamp stampOf(Connection& db) {
    Statement query(db,
                    "SELECT schema_version, application_id, user_version "
                    "FROM pragma_schema_version, pragma_application_id, pragma_user_version");
    SchemaStamp stamp;
    if (query.step()) stamp = {query.integer(0), query.integer(1), query.integer(2)};
    return stamp;
}

// What is known of one key store file.
struct FileState {
    Connection watch;       // the connection that reads the file
    FileDescriptor header;  // where each open reads the header, without any lock
    dev_t device = 0;
    ino_t inode = 0;
    ChangeToken token;               // what the caches were last brought up to
    SchemaStamp stamp;               // the schema then, checked:
    bool keystore = false;           // the file held the key store's (not a new, empty one)
    bool keepsHistory = false;       // and its history, whole
    std::optional<ChangeMark> mark;  // which stood there; none without a history
    std::shared_ptr<ObjectIdTexts> objectIds;  // shared by every cached snapshot
    RecentlyUsedCache<SnapshotReference> snapshots{kCachedStores};
    RecentlyUsedCache<CachedContainer> containers{kCachedContainers};

    bool readable() const { return watch.isOpen() && header.get() >= 0; }

    // Lets go of everything read: the next open reads what it needs anew.
    void forget() {
        snapshots.clear();
        containers.clear();
        mark.reset();
        objectIds.reset();
        token = ChangeToken{};
    }

    // And what was found of the file's schema: for another file, or after a failure.
    void forgetAll() {
        forget();
        stamp = SchemaStamp{};
    }

    ObjectIdTexts& objectIdTexts() {
        if (!objectIds) objectIds = std::make_shared<ObjectIdTexts>();
        return *objectIds;
    }
};

std::mutex gMutex;

std::map<std::string, FileState>& fileStates() {
    static auto* states = new std::map<std::string, FileState>();  // lives as long as the process
    return *states;
}

// Names compare as SQLite's NOCASE compares them.
std::string storeKey(const std::string& name, bool readOnly) {
    return foldAsciiCase(name) + (readOnly ? "\n r" : "\n w");
}

std::string containerKey(int64_t family, const std::string& name) {
    return std::to_string(family) + "\n" + foldAsciiCase(name);
}

// A descriptor of the file for reading its header, and the file's identity; none for anything but
// a regular file (opened without waiting, so that a FIFO in its place stops nothing).
FileDescriptor openHeader(const std::string& path, dev_t& device, ino_t& inode) {
    FileDescriptor header(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat info;
    if (header.get() < 0 || fstat(header.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return FileDescriptor();
    device = info.st_dev;
    inode = info.st_ino;
    return header;
}

// Whether what the caches hold stands as it is: the check every open makes, a stat and a read of
// the header. A file replaced since is opened anew and nothing read from the old one is kept; a
// commit in flight changes the header only once its pages are in place.
bool isCurrent(FileState& state, const std::string& path) {
    struct stat info;
    if (path.empty() || stat(path.c_str(), &info) != 0) {
        if (state.watch.isOpen() || state.token.mode != ChangeToken::Mode::None) state.forgetAll();
        state.watch = Connection();
        state.header = FileDescriptor();
        return true;
    }
    if (info.st_dev != state.device || info.st_ino != state.inode || state.header.get() < 0) {
        // The old file's descriptor is closed only after the connection that read it: any close
        // drops every lock the process holds on a file, SQLite's included.
        state.forgetAll();
        state.watch = Connection();
        state.header = openHeader(path, state.device, state.inode);
    }
    if (!state.watch.isOpen()) {
        state.forgetAll();
        state.watch = openKeystoreForReading(path);
    }
    if (!state.readable()) return true;
    return currentToken(state.header, state.watch) == state.token;
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
        std::optional<std::string> name = findStoreName(state.watch, changed.storeId);
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

// Inside a read transaction: brings the caches to what the file holds now. With the file's
// history that costs what changed since they were filled; without it (a file of an earlier
// version, another file, a history begun anew) they let go of everything.
void catchUp(FileState& state) {
    SchemaStamp stamp = stampOf(state.watch);
    // Under the read lock no commit can land: the token belongs to what is read here.
    ChangeToken token = currentToken(state.header, state.watch);
    if (token == state.token && stamp == state.stamp) return;
    if (!(stamp == state.stamp)) {
        // Nothing read under another schema is kept.
        state.forget();
        state.keystore = hasKeystoreSchema(state.watch);
        state.keepsHistory = state.keystore && keepsChangeHistory(state.watch);
        state.stamp = stamp;
    }
    std::optional<ChangeMark> mark;
    if (state.keepsHistory) mark = readChangeMark(state.watch);
    bool sameHistory = mark && state.mark && mark->lineage == state.mark->lineage &&
                       mark->sequence >= state.mark->sequence;
    if (!sameHistory) {
        state.forget();
    } else if (mark->sequence != state.mark->sequence) {
        KeystoreChanges changes = readChangesSince(state.watch, state.mark->sequence, *mark);
        if (changes.complete)
            applyChanges(state, changes);
        else
            state.forget();
    }
    state.mark = mark;
    state.token = token;
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
    snapshot->storeId = findStoreId(state.watch, storeName);
    std::vector<CertificateRecord> records = loadCertificates(state.watch, storeName);
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

}  // namespace

StoreSnapshot* openStoreSnapshot(const std::string& storeName, bool readOnly, DWORD& error) {
    std::string path = keystorePath();
    std::string key = storeKey(storeName, readOnly);
    std::lock_guard<std::mutex> lock(gMutex);
    FileState& state = fileStates()[path];
    return readThroughCaches(state, error, [&]() -> StoreSnapshot* {
        SnapshotReference* cached = isCurrent(state, path) ? state.snapshots.find(key) : nullptr;
        if (cached == nullptr) {
            std::unique_ptr<StoreSnapshot> loaded;
            if (state.readable()) {
                Transaction transaction(state.watch, Transaction::Kind::Read);
                catchUp(state);
                cached = state.snapshots.find(key);
                if (cached == nullptr) loaded = loadSnapshot(state, storeName, readOnly);
                transaction.commit();
            } else {
                loaded = newSnapshot(readOnly, 0, nullptr);
            }
            // The cache holds the snapshot's first reference once it has a place for it.
            if (loaded)
                cached = &state.snapshots.insert(key, holdReference(loaded.release()));
        }
        retainSnapshot(cached->get());
        return cached->get();
    });
}

std::shared_ptr<const LoadedContainer> findContainer(KeyFamily family, const std::string& name,
                                                     DWORD& error) {
    std::string path = keystorePath();
    std::string key = containerKey(static_cast<int64_t>(family), name);
    std::lock_guard<std::mutex> lock(gMutex);
    FileState& state = fileStates()[path];
    return readThroughCaches(state, error, [&]() -> CachedContainer {
        CachedContainer* cached = isCurrent(state, path) ? state.containers.find(key) : nullptr;
        if (cached != nullptr) return *cached;
        if (!state.readable()) {
            error = NTE_BAD_KEYSET;
            return nullptr;
        }
        std::optional<ContainerRecord> record;
        {
            Transaction transaction(state.watch, Transaction::Kind::Read);
            catchUp(state);
            cached = state.containers.find(key);
            if (cached == nullptr && state.keystore) record = loadContainer(state.watch, family, name);
            transaction.commit();
        }
        if (cached != nullptr) return *cached;
        if (!record) {
            error = NTE_BAD_KEYSET;
            return nullptr;
        }
        CachedContainer container = LoadedContainer::load(*record, error);
        if (container) state.containers.insert(key, container);
        return container;
    });
}

}  // namespace softcapi
