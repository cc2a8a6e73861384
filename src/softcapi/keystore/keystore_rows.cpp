#include "softcapi/keystore/keystore_rows.h"

namespace softcapi {

const char kCertificateColumns[] =
    "c.id, c.thumbprint, c.encoded, c.container, c.provider, c.provider_type, c.key_spec";

namespace {

int64_t ensureStore(Connection& db, const std::string& store) {
    int64_t id = findStoreId(db, store);
    if (id != 0) return id;
    Statement insert(db, "INSERT INTO stores(name) VALUES (?)");
    insert.bind(1, store).run();
    return sqlite3_last_insert_rowid(db.raw());
}

}  // namespace

CertificateRecord certificateFromRow(const Statement& row) {
    CertificateRecord record;
    record.id = row.integer(0);
    record.thumbprint = row.blob(1);
    record.encoded = row.blob(2);
    if (!row.isNull(3) && !row.isNull(4)) {
        record.binding = KeyBinding{row.text(3), row.text(4), static_cast<DWORD>(row.integer(5)),
                                       static_cast<DWORD>(row.integer(6))};
    }
    return record;
}

std::vector<CertificateRecord> loadCertificates(Connection& db, const std::string& store) {
    Statement query(db, (std::string("SELECT ") + kCertificateColumns +
                         " FROM certificates c JOIN stores s ON s.id = c.store_id"
                         " WHERE s.name = ? ORDER BY c.id")
                            .c_str());
    query.bind(1, store);
    std::vector<CertificateRecord> records;
    while (query.step()) records.push_back(certificateFromRow(query));
    return records;
}

std::optional<CertificateRecord> findCertificate(Connection& db, const std::string& store,
                                                 const std::vector<BYTE>& thumbprint) {
    Statement query(db, (std::string("SELECT ") + kCertificateColumns +
                         " FROM certificates c JOIN stores s ON s.id = c.store_id"
                         " WHERE s.name = ? AND c.thumbprint = ?")
                            .c_str());
    query.bind(1, store).bind(2, thumbprint);
    if (!query.step()) return std::nullopt;
    return certificateFromRow(query);
}

int64_t findStoreId(Connection& db, const std::string& store) {
    Statement find(db, "SELECT id FROM stores WHERE name = ?");
    find.bind(1, store);
    return find.step() ? find.integer(0) : 0;
}

std::optional<std::string> findStoreName(Connection& db, int64_t id) {
    Statement find(db, "SELECT name FROM stores WHERE id = ?");
    find.bind(1, id);
    if (!find.step()) return std::nullopt;
    return find.text(0);
}

std::vector<std::string> loadStoreNames(Connection& db) {
    Statement query(db, "SELECT name FROM stores ORDER BY id");
    std::vector<std::string> names;
    while (query.step()) names.push_back(query.text(0));
    return names;
}

bool putCertificate(Connection& db, const std::string& store, const std::vector<BYTE>& encoded,
                    const std::vector<BYTE>& thumbprint, const KeyBinding* binding) {
    int64_t id = ensureStore(db, store);
    Statement insert(db,
                     "INSERT OR IGNORE INTO certificates(store_id, thumbprint, encoded) "
                     "VALUES (?, ?, ?)");
    insert.bind(1, id).bind(2, thumbprint).bind(3, encoded).run();
    bool added = sqlite3_changes(db.raw()) > 0;
    if (binding != nullptr) {
        std::optional<CertificateRecord> stored = findCertificate(db, store, thumbprint);
        if (stored) setCertificateBinding(db, stored->id, binding);
    }
    return added;
}

bool setCertificateBinding(Connection& db, int64_t id, const KeyBinding* binding) {
    Statement update(db,
                     "UPDATE certificates SET container = ?, provider = ?, provider_type = ?, "
                     "key_spec = ? WHERE id = ?");
    if (binding != nullptr) {
        update.bind(1, binding->container)
            .bind(2, binding->provider)
            .bind(3, static_cast<int64_t>(binding->providerType))
            .bind(4, static_cast<int64_t>(binding->keySpec));
    }
    // Unbound parameters are NULL: no binding.
    update.bind(5, id).run();
    return sqlite3_changes(db.raw()) > 0;
}

void deleteCertificateRow(Connection& db, int64_t id) {
    Statement remove(db, "DELETE FROM certificates WHERE id = ?");
    remove.bind(1, id).run();
}

bool deleteCertificateByThumbprint(Connection& db, const std::string& store,
                                   const std::vector<BYTE>& thumbprint) {
    Statement remove(db,
                     "DELETE FROM certificates WHERE thumbprint = ? AND store_id = "
                     "(SELECT id FROM stores WHERE name = ?)");
    remove.bind(1, thumbprint).bind(2, store).run();
    return sqlite3_changes(db.raw()) > 0;
}

std::optional<ContainerRecord> loadContainer(Connection& db, KeyFamily family,
                                             const std::string& name) {
    Statement query(db,
                    "SELECT id, name, pin_protected FROM containers WHERE family = ? AND name = ?");
    query.bind(1, static_cast<int64_t>(family)).bind(2, name);
    if (!query.step()) return std::nullopt;
    ContainerRecord container;
    container.id = query.integer(0);
    container.family = family;
    container.name = query.text(1);
    container.pinProtected = query.integer(2) != 0;
    Statement keys(db, "SELECT key_spec, public_key, pkcs8 FROM container_keys WHERE container_id = ?");
    keys.bind(1, container.id);
    while (keys.step()) {
        StoredKey& key = container.keys[static_cast<DWORD>(keys.integer(0))];
        key.publicKey = keys.blob(1);
        key.pkcs8 = keys.secretBlob(2);
    }
    return container;
}

bool containerExists(Connection& db, KeyFamily family, const std::string& name) {
    Statement query(db, "SELECT 1 FROM containers WHERE family = ? AND name = ?");
    query.bind(1, static_cast<int64_t>(family)).bind(2, name);
    return query.step();
}

namespace {

void insertContainerKey(Connection& db, int64_t containerId, DWORD keySpec, const StoredKey& key) {
    Statement insertKey(db,
                        "INSERT OR REPLACE INTO container_keys(container_id, key_spec, public_key, "
                        "pkcs8) VALUES (?, ?, ?, ?)");
    insertKey.bind(1, containerId)
        .bind(2, static_cast<int64_t>(keySpec))
        .bind(3, key.publicKey)
        .bindBlob(4, key.pkcs8.data(), key.pkcs8.size())
        .run();
}

}  // namespace

void insertContainer(Connection& db, const ContainerRecord& container) {
    Statement insert(db, "INSERT INTO containers(family, name, pin_protected) VALUES (?, ?, ?)");
    insert.bind(1, static_cast<int64_t>(container.family))
        .bind(2, container.name)
        .bind(3, static_cast<int64_t>(container.pinProtected))
        .run();
    int64_t id = sqlite3_last_insert_rowid(db.raw());
    for (const auto& [keySpec, key] : container.keys) insertContainerKey(db, id, keySpec, key);
}

bool putContainerKey(Connection& db, KeyFamily family, const std::string& name, DWORD keySpec,
                     const StoredKey& key, bool pinProtected) {
    Statement find(db, "SELECT id, pin_protected FROM containers WHERE family = ? AND name = ?");
    find.bind(1, static_cast<int64_t>(family)).bind(2, name);
    if (!find.step()) return false;
    const int64_t id = find.integer(0);
    if ((find.integer(1) != 0) != pinProtected) {
        Statement mark(db, "UPDATE containers SET pin_protected = ? WHERE id = ?");
        mark.bind(1, static_cast<int64_t>(pinProtected)).bind(2, id).run();
    }
    insertContainerKey(db, id, keySpec, key);
    return true;
}

bool deleteContainer(Connection& db, KeyFamily family, const std::string& name) {
    // The keys go by name rather than by the cascade, which needs foreign keys on: a key left
    // behind would belong to the next container given the same id.
    Statement removeKeys(db,
                         "DELETE FROM container_keys WHERE container_id IN "
                         "(SELECT id FROM containers WHERE family = ? AND name = ?)");
    removeKeys.bind(1, static_cast<int64_t>(family)).bind(2, name).run();
    Statement remove(db, "DELETE FROM containers WHERE family = ? AND name = ?");
    remove.bind(1, static_cast<int64_t>(family)).bind(2, name).run();
    return sqlite3_changes(db.raw()) > 0;
}

}  // namespace softcapi
