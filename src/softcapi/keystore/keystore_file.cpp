#include "softcapi/keystore/keystore_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "common/profile.h"
#include "softcapi/keystore/keystore_changes.h"

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

const char kMachineStoreVariable[] = "QDIE_MACHINE_STORE";
const char kDefaultMachineStore[] = "/var/lib/qdie-keystore";

// The modes of what each location's writer makes: the user's private, the machine's readable by
// every user, as Windows lets every user read LocalMachine's certificates.
struct Modes {
    mode_t folder;
    mode_t file;
};

Modes modesOf(Location location) {
    return location == Location::LocalMachine ? Modes{0755, 0644} : Modes{0700, 0600};
}

DWORD openError(int error) {
    return error == EACCES || error == EPERM || error == EROFS ? E_ACCESSDENIED
                                                               : CRYPT_E_FILE_ERROR;
}

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

// mkdir -p. Only the folders made here get their mode, whatever the umask: a folder that exists
// keeps the mode its owner gave it. One the user may not make is E_ACCESSDENIED.
void makeFolder(const std::string& folder, mode_t mode) {
    struct stat info;
    if (stat(folder.c_str(), &info) == 0) {
        if (!S_ISDIR(info.st_mode)) throw DatabaseError(CRYPT_E_FILE_ERROR);
        return;
    }
    makeFolder(parentOf(folder), mode);
    if (mkdir(folder.c_str(), mode) == 0) {
        chmod(folder.c_str(), mode);
    } else if (errno != EEXIST) {
        throw DatabaseError(openError(errno));
    }
}

// Creates the database file with its mode before SQLite sees it; SQLite gives its journal the
// same mode.
void createFile(const std::string& path, mode_t mode) {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd >= 0) {
        fchmod(fd, mode);
        close(fd);
        return;
    }
    if (errno != EEXIST) throw DatabaseError(openError(errno));
}

// The folder a writer would make `path` in: its nearest folder that exists.
std::string nearestExistingFolder(const std::string& path) {
    std::string folder = parentOf(path);
    while (folder != "/" && access(folder.c_str(), F_OK) != 0) folder = parentOf(folder);
    return folder;
}

// E_ACCESSDENIED when this user may not change the key store at `path`; nothing is made or
// opened to find out. SQLite's journal goes beside the file, so its folder must take new files.
DWORD changeRefusal(const std::string& path) {
    if (access(path.c_str(), F_OK) == 0 && access(path.c_str(), W_OK) != 0) return openError(errno);
    if (access(nearestExistingFolder(path).c_str(), W_OK | X_OK) != 0) return openError(errno);
    return ERROR_SUCCESS;
}

// What SQLite would open beside the database: each must be missing or a regular file, as SQLite
// opens them blocking and a FIFO in their place would stop the process in open() or read().
void checkCompanionFiles(const std::string& path) {
    for (const char* suffix : {"-journal", "-wal"}) {
        struct stat info;
        if (lstat((path + suffix).c_str(), &info) == 0 && !S_ISREG(info.st_mode))
            throw DatabaseError(CRYPT_E_FILE_ERROR);
    }
}

// False when there is no key store file. Throws DatabaseError for one the user may not read
// (E_ACCESSDENIED) and for anything but a regular file, so that a FIFO put in its place is
// refused rather than waited on. Looked at by its name, never opened: closing a descriptor of
// the file would drop every lock SQLite holds on it in this process (POSIX locks go with the
// first close), and another process could then write under a reader or end a WAL still in use.
bool checkKeystoreFile(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return false;
        throw DatabaseError(openError(errno));
    }
    if (!S_ISREG(info.st_mode)) throw DatabaseError(CRYPT_E_FILE_ERROR);
    if (access(path.c_str(), R_OK) != 0) throw DatabaseError(openError(errno));
    checkCompanionFiles(path);
    return true;
}

bool tableExists(Connection& connection, const char* name) {
    Statement statement(connection, "SELECT 1 FROM sqlite_master WHERE type='table' AND name=?");
    statement.bind(1, std::string(name));
    return statement.step();
}

}  // namespace

std::string machineStoreFolder() {
    const char* named = std::getenv(kMachineStoreVariable);
    return named != nullptr && named[0] != '\0' ? named : kDefaultMachineStore;
}

std::string keystorePath(Location location) {
    if (location == Location::LocalMachine) return machineStoreFolder() + "/" + kFileName;
    std::string home = dataHome();
    if (home.empty()) return "";
    return home + "/" + kFolderName + "/" + kFileName;
}

bool mayChangeKeystore(Location location) {
    if (location == Location::CurrentUser) return true;
    return changeRefusal(keystorePath(location)) == ERROR_SUCCESS;
}

Connection openKeystoreForReading(const std::string& path) {
    if (path.empty() || !checkKeystoreFile(path)) return Connection();
    // Read-write so that SQLite can roll back a journal left by a writer that died; read-only
    // when the file may not be written.
    try {
        return Connection(path, SQLITE_OPEN_READWRITE);
    } catch (const DatabaseError&) {
        return Connection(path, SQLITE_OPEN_READONLY);
    }
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

KeystoreWriter::KeystoreWriter(Location location) : location_(location) {
    std::string path = keystorePath(location);
    if (path.empty()) throw DatabaseError(CRYPT_E_FILE_ERROR);
    DWORD refusal = changeRefusal(path);
    if (refusal != ERROR_SUCCESS) throw DatabaseError(refusal);
    const Modes modes = modesOf(location);
    makeFolder(parentOf(path), modes.folder);
    createFile(path, modes.file);
    if (!checkKeystoreFile(path)) throw DatabaseError(CRYPT_E_FILE_ERROR);
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
