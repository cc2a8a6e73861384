// What the process knows of one key store file: the file it follows, what its caches were last
// brought up to, and the caches themselves. Guarded by the caches' lock.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "softcapi/crypt32/certificate_info.h"
#include "softcapi/keystore/key_container.h"
#include "softcapi/keystore/keystore_changes.h"
#include "softcapi/keystore/keystore_watch.h"
#include "softcapi/keystore/recently_used_cache.h"
#include "softcapi/keystore/store_snapshot.h"
#include "softcapi/shim/text_encoding.h"

namespace softcapi {

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

struct FileState {
    WatchedFile file;
    ChangeToken token;               // what the caches were last brought up to
    SchemaStamp stamp;               // the schema then, checked:
    bool keystore = false;           // the file held the key store's (not a new, empty one)
    bool keepsHistory = false;       // and its history, whole
    std::optional<ChangeMark> mark;  // which stood there; none without a history
    std::shared_ptr<ObjectIdTexts> objectIds;  // shared by every cached snapshot
    RecentlyUsedCache<SnapshotReference> snapshots{kCachedStores};
    RecentlyUsedCache<CachedContainer> containers{kCachedContainers};

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

// Names compare as SQLite's NOCASE compares them.
inline std::string storeKey(const std::string& name, bool readOnly) {
    return foldAsciiCase(name) + (readOnly ? "\n r" : "\n w");
}

inline std::string containerKey(int64_t family, const std::string& name) {
    return std::to_string(family) + "\n" + foldAsciiCase(name);
}

}  // namespace softcapi
