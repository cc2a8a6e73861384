// The files that hold the stores and key containers of each location, and their schema.
#pragma once

#include <memory>
#include <string>

#include "softcapi/keystore/location.h"
#include "softcapi/keystore/sqlite_db.h"

namespace softcapi {

// The current user's: $XDG_DATA_HOME/qdie-keystore/keystore.db, XDG_DATA_HOME defaulting to
// <profile>/.local/share; empty when no profile folder is known. The machine's: keystore.db in
// the folder QDIE_MACHINE_STORE names, by default /var/lib/qdie-keystore.
std::string keystorePath(Location location = Location::CurrentUser);
// The machine's folder, which holds its key store file and the secret of its keys.
std::string machineStoreFolder();

// Whether this user may change the location's key store: write its file and folder, or make
// them. The user's own is always theirs to change; a failure then comes with the change.
bool mayChangeKeystore(Location location);

// A read connection to the key store at `path`, or an unopened one when the file does not exist
// (an empty key store). Never creates anything, and never blocks: a file that is not a regular
// one (a FIFO, say), or beside which SQLite's journal is not, throws DatabaseError
// (CRYPT_E_FILE_ERROR), as does a file the user may not read (E_ACCESSDENIED).
Connection openKeystoreForReading(const std::string& path);

// Inside a transaction: true when the file holds our schema, false when it is new and empty.
// Throws DatabaseError(ERROR_FILE_CORRUPT) for a file that is not ours or misses tables.
bool hasKeystoreSchema(Connection& connection);

// One change to a location's key store: opens (creating the folder and the file when needed, the
// user's 0700 and 0600, the machine's 0755 and 0644, whatever the umask; a folder that exists
// keeps its mode), begins a write transaction and lays down the schema in a new file. A folder
// the user may not make or write in, or a file the user may not write, fails with E_ACCESSDENIED
// before anything is made or opened. Nothing is kept unless commit() is called.
class KeystoreWriter {
public:
    explicit KeystoreWriter(Location location = Location::CurrentUser);
    Connection& connection() { return connection_; }
    Location location() const { return location_; }
    void commit() { transaction_->commit(); }

private:
    Location location_;
    Connection connection_;
    std::unique_ptr<Transaction> transaction_;
};

}  // namespace softcapi
