#include "softcapi/keystore/sqlite_db.h"

namespace softcapi {

DWORD windowsErrorForSqlite(int result) {
    switch (result & 0xff) {
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
        case SQLITE_FORMAT:
            return ERROR_FILE_CORRUPT;
        case SQLITE_NOMEM:
            return NTE_NO_MEMORY;
        case SQLITE_PERM:
        case SQLITE_READONLY:
        case SQLITE_AUTH:
            return E_ACCESSDENIED;
        default:
            return CRYPT_E_FILE_ERROR;
    }
}

namespace {

void check(int result) {
    if (result != SQLITE_OK) throw DatabaseError(windowsErrorForSqlite(result));
}

}  // namespace

Connection::Connection(const std::string& path, int flags) {
    int result = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (result != SQLITE_OK) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
        throw DatabaseError(windowsErrorForSqlite(result));
    }
    sqlite3_extended_result_codes(db_, 1);
    // Another process may be committing; wait for it rather than fail.
    sqlite3_busy_timeout(db_, 10000);
}

Connection::~Connection() {
    if (db_ != nullptr) sqlite3_close_v2(db_);
}

Connection& Connection::operator=(Connection&& other) noexcept {
    if (this != &other) {
        if (db_ != nullptr) sqlite3_close_v2(db_);
        db_ = other.db_;
        other.db_ = nullptr;
    }
    return *this;
}

void Connection::execute(const char* sql) {
    check(sqlite3_exec(db_, sql, nullptr, nullptr, nullptr));
}

int64_t Connection::queryInteger(const char* sql) {
    Statement statement(*this, sql);
    return statement.step() ? statement.integer(0) : 0;
}

Statement::Statement(Connection& connection, const char* sql) : db_(connection.raw()) {
    check(sqlite3_prepare_v2(db_, sql, -1, &statement_, nullptr));
}

Statement::~Statement() {
    sqlite3_finalize(statement_);
}

Statement& Statement::bind(int index, int64_t value) {
    check(sqlite3_bind_int64(statement_, index, value));
    return *this;
}

Statement& Statement::bind(int index, const std::string& text) {
    check(sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                            SQLITE_TRANSIENT));
    return *this;
}

Statement& Statement::bind(int index, const std::vector<BYTE>& blob) {
    return bindBlob(index, blob.data(), blob.size());
}

Statement& Statement::bindBlob(int index, const void* data, size_t size) {
    // SQLite stores an empty blob as NULL when given a null pointer; keep it a blob.
    static const BYTE kNothing = 0;
    check(sqlite3_bind_blob(statement_, index, size == 0 ? &kNothing : data,
                            static_cast<int>(size), SQLITE_TRANSIENT));
    return *this;
}

Statement& Statement::bindNull(int index) {
    check(sqlite3_bind_null(statement_, index));
    return *this;
}

bool Statement::step() {
    int result = sqlite3_step(statement_);
    if (result == SQLITE_ROW) return true;
    if (result == SQLITE_DONE) return false;
    throw DatabaseError(windowsErrorForSqlite(result));
}

void Statement::run() {
    while (step()) {
    }
}

bool Statement::isNull(int column) const {
    return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

int64_t Statement::integer(int column) const {
    return sqlite3_column_int64(statement_, column);
}

std::string Statement::text(int column) const {
    const unsigned char* text = sqlite3_column_text(statement_, column);
    int size = sqlite3_column_bytes(statement_, column);
    return text != nullptr ? std::string(reinterpret_cast<const char*>(text), size) : std::string();
}

bool Statement::textEquals(int column, const std::string& expected) const {
    const unsigned char* text = sqlite3_column_text(statement_, column);
    int size = sqlite3_column_bytes(statement_, column);
    return text != nullptr && static_cast<size_t>(size) == expected.size() &&
           expected.compare(0, expected.size(), reinterpret_cast<const char*>(text), size) == 0;
}

std::vector<BYTE> Statement::blob(int column) const {
    const BYTE* data = static_cast<const BYTE*>(sqlite3_column_blob(statement_, column));
    int size = sqlite3_column_bytes(statement_, column);
    return data != nullptr ? std::vector<BYTE>(data, data + size) : std::vector<BYTE>();
}

common::SecureBytes Statement::secretBlob(int column) const {
    const void* data = sqlite3_column_blob(statement_, column);
    int size = sqlite3_column_bytes(statement_, column);
    return data != nullptr ? common::SecureBytes(data, size) : common::SecureBytes();
}

Transaction::Transaction(Connection& connection, Kind kind) : connection_(connection), open_(true) {
    connection_.execute(kind == Kind::Write ? "BEGIN IMMEDIATE" : "BEGIN");
}

Transaction::~Transaction() {
    if (open_) sqlite3_exec(connection_.raw(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::commit() {
    connection_.execute("COMMIT");
    open_ = false;
}

}  // namespace softcapi
