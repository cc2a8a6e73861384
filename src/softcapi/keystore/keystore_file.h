// The file that holds the current user's stores and key containers, and its schema.
#pragma once

#include <memory>
#include <string>

#include "softcapi/keystore/sqlite_db.h"

namespace softcapi {

// $XDG_DATA_HOME/qdie-keystore/keystore.db, XDG_DATA_HOME defaulting to <profile>/.local/share.
// Empty when no profile folder is known.
std::string keystorePath();

// A read connection to the key store at `path`, or an unopened one when the file does not exist
// (an empty key store). Never creates anything, and never blocks: a file that is not a regular
// one (a FIFO, say), or beside which SQLite's journal is not, throws DatabaseError
// (CRYPT_E_FILE_ERROR), as does a file the user may not read (E_ACCESSDENIED).
Connection openKeystoreForReading(const std::string& path);

// Inside a transaction: true when the file holds our schema, false when it is new and empty.
// Throws DatabaseError(ERROR_FILE_CORRUPT) for a file that is not ours or misses tables.
bool hasKeystoreSchema(Connection& connection);

// One change to the key store: opens (creating the folder 0700 and the file 0600 when needed; a
// folder that exists keeps its mode), begins a write transaction and lays down the schema in a
// new file. A folder the user may not write in fails with E_ACCESSDENIED before anything is
// opened. Nothing is kept unless commit() is called.
class KeystoreWriter {
public:
    KeystoreWriter();
    Connection& connection() { return connection_; }
    void commit() { transaction_->commit(); }

private:
    Connection connection_;
    std::unique_ptr<Transaction> transaction_;
};

}  // namespace softcapi
