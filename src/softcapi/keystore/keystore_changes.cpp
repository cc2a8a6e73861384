#include "softcapi/keystore/keystore_changes.h"

namespace softcapi {

namespace {

// Each change takes the next number; what it removed is remembered under that number.
const char kCount[] = "UPDATE change_mark SET sequence = sequence + 1;";
const char kNumberCertificate[] =
    "UPDATE certificates SET changed = (SELECT sequence FROM change_mark) WHERE id = NEW.id;";
const char kRememberOldCertificate[] =
    "INSERT INTO removals(sequence, store_id, certificate_id) "
    "SELECT sequence, OLD.store_id, OLD.id FROM change_mark";
const char kRememberOldContainer[] =
    "INSERT INTO removals(sequence, family, container) "
    "SELECT sequence, OLD.family, OLD.name FROM change_mark;";
const char kRememberStores[] =
    "INSERT INTO removals(sequence, stores_changed) SELECT sequence, 1 FROM change_mark;";
std::string rememberContainerOfKey(const char* row) {
    return std::string("INSERT INTO removals(sequence, family, container) SELECT m.sequence, "
                       "c.family, c.name FROM change_mark m JOIN containers c ON c.id = ") +
           row + ".container_id";
}

struct SchemaObject {
    const char* kind;  // as DROP names it
    std::string name;
    std::string sql;   // as sqlite_master keeps it
};

// The whole history, each object as it is created and as sqlite_master keeps it.
const std::vector<SchemaObject>& historyObjects() {
    static const std::vector<SchemaObject> objects = {
        {"TABLE", "change_mark",
         "CREATE TABLE change_mark(id INTEGER PRIMARY KEY CHECK (id = 1), "
         "lineage INTEGER NOT NULL, sequence INTEGER NOT NULL)"},
        {"TABLE", "removals",
         "CREATE TABLE removals(sequence INTEGER PRIMARY KEY, store_id INTEGER, "
         "certificate_id INTEGER, family INTEGER, container TEXT, "
         "stores_changed INTEGER NOT NULL DEFAULT 0)"},
        {"INDEX", "certificates_by_change",
         "CREATE INDEX certificates_by_change ON certificates(changed)"},
        {"TRIGGER", "certificate_added",
         std::string("CREATE TRIGGER certificate_added AFTER INSERT ON certificates BEGIN ") +
             kCount + " " + kNumberCertificate + " END"},
        {"TRIGGER", "certificate_changed",
         std::string("CREATE TRIGGER certificate_changed AFTER UPDATE OF id, store_id, thumbprint, "
                     "encoded, container, provider, provider_type, key_spec ON certificates "
                     "BEGIN ") +
             kCount + " " + kRememberOldCertificate +
             " WHERE OLD.id IS NOT NEW.id OR OLD.store_id IS NOT NEW.store_id; " +
             kNumberCertificate + " END"},
        {"TRIGGER", "certificate_removed",
         std::string("CREATE TRIGGER certificate_removed AFTER DELETE ON certificates BEGIN ") +
             kCount + " " + kRememberOldCertificate + "; END"},
        {"TRIGGER", "container_changed",
         std::string("CREATE TRIGGER container_changed AFTER UPDATE ON containers BEGIN ") +
             kCount + " " + kRememberOldContainer + " END"},
        {"TRIGGER", "container_removed",
         std::string("CREATE TRIGGER container_removed AFTER DELETE ON containers BEGIN ") +
             kCount + " " + kRememberOldContainer + " END"},
        {"TRIGGER", "container_key_added",
         std::string("CREATE TRIGGER container_key_added AFTER INSERT ON container_keys BEGIN ") +
             kCount + " " + rememberContainerOfKey("NEW") + "; END"},
        {"TRIGGER", "container_key_changed",
         std::string("CREATE TRIGGER container_key_changed AFTER UPDATE ON container_keys BEGIN ") +
             kCount + " " + rememberContainerOfKey("OLD") +
             "; UPDATE change_mark SET sequence = sequence + 1 "
             "WHERE OLD.container_id IS NOT NEW.container_id; " +
             rememberContainerOfKey("NEW") + " WHERE OLD.container_id IS NOT NEW.container_id; END"},
        {"TRIGGER", "container_key_removed",
         std::string("CREATE TRIGGER container_key_removed AFTER DELETE ON container_keys BEGIN ") +
             kCount + " " + rememberContainerOfKey("OLD") + "; END"},
        {"TRIGGER", "store_changed",
         std::string("CREATE TRIGGER store_changed AFTER UPDATE ON stores BEGIN ") + kCount + " " +
             kRememberStores + " END"},
        {"TRIGGER", "store_removed",
         std::string("CREATE TRIGGER store_removed AFTER DELETE ON stores BEGIN ") + kCount + " " +
             kRememberStores + " END"},
        {"TRIGGER", "removals_pruned",
         "CREATE TRIGGER removals_pruned AFTER INSERT ON removals BEGIN DELETE FROM removals "
         "WHERE sequence <= NEW.sequence - " +
             std::to_string(kRememberedChanges) + "; END"},
    };
    return objects;
}

bool certificatesHaveChangeColumn(Connection& db) {
    return db.queryInteger(
               "SELECT count(*) FROM pragma_table_info('certificates') WHERE name = 'changed'") != 0;
}

}  // namespace

bool keepsChangeHistory(Connection& db) {
    const std::vector<SchemaObject>& objects = historyObjects();
    size_t matching = 0;
    Statement query(db, "SELECT name, sql FROM sqlite_master");
    while (query.step()) {
        for (const SchemaObject& object : objects) {
            if (query.textEquals(0, object.name)) {
                matching += query.textEquals(1, object.sql);
                break;
            }
        }
    }
    return matching == objects.size();
}

void ensureChangeHistory(Connection& db) {
    if (keepsChangeHistory(db) && readChangeMark(db)) return;
    const std::vector<SchemaObject>& objects = historyObjects();
    // Triggers first: they name the tables.
    for (auto object = objects.rbegin(); object != objects.rend(); ++object)
        db.execute((std::string("DROP ") + object->kind + " IF EXISTS " + object->name).c_str());
    if (!certificatesHaveChangeColumn(db))
        db.execute("ALTER TABLE certificates ADD COLUMN changed INTEGER");
    for (const SchemaObject& object : objects) db.execute(object.sql.c_str());
    db.execute("INSERT INTO change_mark(id, lineage, sequence) VALUES (1, random(), 0)");
}

std::optional<ChangeMark> readChangeMark(Connection& db) {
    Statement query(db,
                    "SELECT lineage, sequence FROM change_mark WHERE id = 1 "
                    "AND typeof(lineage) = 'integer' AND typeof(sequence) = 'integer'");
    if (!query.step()) return std::nullopt;
    return ChangeMark{query.integer(0), query.integer(1)};
}

KeystoreChanges readChangesSince(Connection& db, int64_t since, const ChangeMark& now) {
    KeystoreChanges changes;
    if (since < now.sequence - kRememberedChanges) {
        changes.complete = false;
        return changes;
    }
    Statement removals(db,
                       "SELECT store_id, certificate_id, family, container, stores_changed "
                       "FROM removals WHERE sequence > ? ORDER BY sequence");
    removals.bind(1, since);
    while (removals.step()) {
        if (removals.integer(4) != 0) {
            changes.complete = false;
            return changes;
        }
        if (!removals.isNull(1))
            changes.removedCertificates.push_back({removals.integer(0), removals.integer(1)});
        if (!removals.isNull(3))
            changes.changedContainers.push_back({removals.integer(2), removals.text(3)});
    }
    // Named, or the planner walks the whole table in id order to spare itself a sort.
    Statement changed(db, (std::string("SELECT ") + kCertificateColumns +
                           ", c.store_id FROM certificates c INDEXED BY certificates_by_change"
                           " WHERE c.changed > ? ORDER BY c.id")
                              .c_str());
    changed.bind(1, since);
    while (changed.step())
        changes.changedCertificates.push_back({changed.integer(7), certificateFromRow(changed)});
    return changes;
}

}  // namespace softcapi
