#include "softcapi/keystore_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "common/profile.h"
#include "softcapi/keystore_changes.h"

namespace softcapi {

namespace {

const char kFolderName[] = "qdie-keystore";
const char kFileName[] = "keystore.db";
const int64_t kApplicationId = 0x51444945;  // "QDIE"
const int64_t kSchemaVersion = 1;

const char kSchema[] =
    "CREATE TABLE stores("
    "  id INTEGER PRIMARY KEY,"
    "  name TEXT NOT NULL UNIQUE COLLATE NOCASE);"
    "CREATE TABLE certificates("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  store_id INTEGER NOT NULL REFERENCES stores(id) ON DELETE CASCADE,"
    "  thumbprint BLOB NOT NULL,"
    "  encoded BLOB NOT NULL,"
    "  container TEXT,"
    "  provider TEXT,"
    "  provider_type INTEGER,"
    "  key_spec INTEGER,"
    "  UNIQUE(store_id, thumbprint));"
    "CREATE TABLE containers("
    "  id INTEGER PRIMARY KEY,"
    "  family INTEGER NOT NULL,"
    "  name TEXT NOT NULL COLLATE NOCASE,"
    "  pin_protected INTEGER NOT NULL,"
    "  UNIQUE(family, name));"
    "CREATE TABLE container_keys("
    "  container_id INTEGER NOT NULL REFERENCES containers(id) ON DELETE CASCADE,"
    "  key_spec INTEGER NOT NULL,"
    "  public_key BLOB NOT NULL,"
    "  pkcs8 BLOB NOT NULL,"
    "  PRIMARY KEY(container_id, key_spec));";

std::string dataHome() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    // Relative values are to be ignored, as the base-directory convention says.
    if (xdg != nullptr && xdg[0] == '/') return xdg;
    std::string profile = common::userProfileFolder();
    if (profile.empty()) return "";
    return profile + "/.local/share";
}

std::string parentOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

// mkdir -p, new folders private to the user whatever the umask.
void makeFolder(const std::string& folder) {
    struct stat info;
    if (stat(folder.c_str(), &info) == 0) {
        if (!S_ISDIR(info.st_mode)) throw DatabaseError(CRYPT_E_FILE_ERROR);
        return;
    }
    makeFolder(parentOf(folder));
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) throw DatabaseError(CRYPT_E_FILE_ERROR);
    chmod(folder.c_str(), 0700);
}

// Creates the database file 0600 before SQLite sees it; SQLite gives its journal the same mode.
void createPrivateFile(const std::string& path) {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) {
        fchmod(fd, 0600);
        close(fd);
        return;
    }
    if (errno != EEXIST) throw DatabaseError(CRYPT_E_FILE_ERROR);
}

bool tableExists(Connection& connection, const char* name) {
    Statement statement(connection, "SELECT 1 FROM sqlite_master WHERE type='table' AND name=?");
    statement.bind(1, std::string(name));
    return statement.step();
}

}  // namespace

std::string keystorePath() {
    std::string home = dataHome();
    if (home.empty()) return "";
    return home + "/" + kFolderName + "/" + kFileName;
}

Connection openKeystoreForReading(const std::string& path) {
    if (path.empty() || access(path.c_str(), F_OK) != 0) return Connection();
    // Read-write so that SQLite can roll back a journal left by a writer that died.
    for (int flags : {SQLITE_OPEN_READWRITE, SQLITE_OPEN_READONLY}) {
        try {
            return Connection(path, flags);
        } catch (const DatabaseError&) {
        }
    }
    return Connection();
}

bool hasKeystoreSchema(Connection& connection) {
    int64_t applicationId = connection.queryInteger("PRAGMA application_id");
    int64_t version = connection.queryInteger("PRAGMA user_version");
    int64_t objects = connection.queryInteger("SELECT count(*) FROM sqlite_master");
    if (applicationId == 0 && version == 0 && objects == 0) return false;
    if (applicationId != kApplicationId || version != kSchemaVersion)
        throw DatabaseError(ERROR_FILE_CORRUPT);
    for (const char* table : {"stores", "certificates", "containers", "container_keys"}) {
        if (!tableExists(connection, table)) throw DatabaseError(ERROR_FILE_CORRUPT);
    }
    return true;
}

KeystoreWriter::KeystoreWriter() {
    std::string path = keystorePath();
    if (path.empty()) throw DatabaseError(CRYPT_E_FILE_ERROR);
    std::string folder = parentOf(path);
    makeFolder(parentOf(folder));
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) throw DatabaseError(CRYPT_E_FILE_ERROR);
    chmod(folder.c_str(), 0700);
    createPrivateFile(path);
    connection_ = Connection(path, SQLITE_OPEN_READWRITE);
    connection_.execute("PRAGMA foreign_keys = ON");
    transaction_ = std::make_unique<Transaction>(connection_, Transaction::Kind::Write);
    if (!hasKeystoreSchema(connection_)) {
        connection_.execute(kSchema);
        connection_.execute(("PRAGMA application_id = " + std::to_string(kApplicationId)).c_str());
        connection_.execute(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
    }
    ensureChangeHistory(connection_);
}

}  // namespace softcapi
