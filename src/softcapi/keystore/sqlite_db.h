// Thin RAII over SQLite: a connection, prepared statements and transactions, with every SQLite
// failure turned into a Windows error code.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/secure_bytes.h"
#include "softcapi/wintypes.h"

namespace softcapi {

// A SQLite failure, carried as the Windows error the caller will see.
struct DatabaseError {
    explicit DatabaseError(DWORD error) : code(error) {}
    DWORD code;
};

// The Windows error for a SQLite result code: corruption and foreign files are ERROR_FILE_CORRUPT,
// everything else an I/O failure of the store file.
DWORD windowsErrorForSqlite(int result);

class Statement;

class Connection {
public:
    Connection() = default;
    // Opens `path` with SQLite `flags`; throws DatabaseError.
    Connection(const std::string& path, int flags);
    ~Connection();
    Connection(Connection&& other) noexcept : db_(other.db_) { other.db_ = nullptr; }
    Connection& operator=(Connection&& other) noexcept;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool isOpen() const { return db_ != nullptr; }
    sqlite3* raw() const { return db_; }

    // Runs SQL without results; throws DatabaseError.
    void execute(const char* sql);
    // The first column of the first row of a query, as an integer.
    int64_t queryInteger(const char* sql);

private:
    sqlite3* db_ = nullptr;
};

class Statement {
public:
    Statement(Connection& connection, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, int64_t value);
    Statement& bind(int index, const std::string& text);
    Statement& bind(int index, const std::vector<BYTE>& blob);
    Statement& bindBlob(int index, const void* data, size_t size);
    Statement& bindNull(int index);

    // Advances to the next row; false when there is none. Throws DatabaseError.
    bool step();
    // Runs a statement that returns no rows.
    void run();

    bool isNull(int column) const;
    int64_t integer(int column) const;
    std::string text(int column) const;
    // Whether a column holds exactly this text, compared without a copy.
    bool textEquals(int column, const std::string& expected) const;
    std::vector<BYTE> blob(int column) const;
    // A blob that holds key material: copied into memory that is wiped after use.
    common::SecureBytes secretBlob(int column) const;

private:
    sqlite3* db_;
    sqlite3_stmt* statement_ = nullptr;
};

// BEGIN on construction (IMMEDIATE for writers, so two writers never deadlock on an upgrade),
// ROLLBACK on destruction unless committed.
class Transaction {
public:
    enum class Kind { Read, Write };
    Transaction(Connection& connection, Kind kind);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void commit();

private:
    Connection& connection_;
    bool open_;
};

}  // namespace softcapi
