// The check every store open and container acquisition makes, at the cost of a stat and a read
// of the database header: whether the key store file may have changed since it was last read.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "softcapi/keystore/file_descriptor.h"
#include "softcapi/keystore/sqlite_db.h"

namespace softcapi {

// What shows that the file changed. In a rollback journal mode it is the header's change
// counter, which every commit by any process bumps. A commit in WAL mode leaves the header as
// it was; there it is SQLite's data version of a connection, which a commit by any other
// connection changes.
struct ChangeToken {
    enum class Mode { None, Journal, Wal };
    Mode mode = Mode::None;
    int64_t value = 0;
    bool operator==(const ChangeToken& other) const {
        return mode == other.mode && value == other.value;
    }
};

// The key store file as the caches follow it: the connection that reads it and a descriptor of
// the same file for reading its header without any lock. It is the one owner of both, and
// closes the connection first: any close of a descriptor drops every POSIX lock the process
// holds on the file, SQLite's included.
class WatchedFile {
public:
    enum class Change { None, Gone, Replaced };

    WatchedFile() = default;
    WatchedFile(const WatchedFile&) = delete;
    WatchedFile& operator=(const WatchedFile&) = delete;
    ~WatchedFile() { close(); }

    // Follows the file now at `path`: Gone when the file that was open is no longer there,
    // Replaced when another file (or the first one) was opened, so that nothing read before
    // stands; None otherwise. Only a regular file is opened, without waiting.
    Change follow(const std::string& path);

    bool readable() const { return connection_.isOpen() && header_.get() >= 0; }
    Connection& connection() { return connection_; }

    // The token as the file shows it now. Taken inside a read transaction of the connection,
    // it belongs to what that transaction reads.
    ChangeToken currentToken();

private:
    void close();

    // Declared first, so that it goes last even where close() is not the way out.
    FileDescriptor header_;
    Connection connection_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

}  // namespace softcapi
