// The check every store open and container acquisition makes, at the cost of a stat and a read
// of the database header: whether the key store file may have changed since it was last read.
#pragma once

#include <sys/types.h>

#include <cstdint>

#include "softcapi/file_descriptor.h"
#include "softcapi/sqlite_db.h"

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

// The token as the file shows it now, its header read through `header` without any lock. Taken
// inside a read transaction of `connection`, it belongs to what that transaction reads.
ChangeToken currentToken(const FileDescriptor& header, Connection& connection);

}  // namespace softcapi
