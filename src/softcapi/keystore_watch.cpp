#include "softcapi/keystore_watch.h"

#include <unistd.h>

namespace softcapi {

namespace {

// The header's bytes 18 to 27: the write and read versions (2 in WAL mode), then, from byte 24,
// the change counter, four bytes big-endian.
const off_t kVersionsOffset = 18;
const size_t kCounterAt = 6;
const unsigned char kWalVersion = 2;

}  // namespace

ChangeToken currentToken(const FileDescriptor& header, Connection& connection) {
    unsigned char bytes[10];
    // A file too short to hold a header (a new, empty one) has a token of its own.
    if (pread(header.get(), bytes, sizeof(bytes), kVersionsOffset) != sizeof(bytes))
        return {ChangeToken::Mode::Journal, -1};
    if (bytes[0] == kWalVersion || bytes[1] == kWalVersion)
        return {ChangeToken::Mode::Wal, connection.queryInteger("PRAGMA data_version")};
    const unsigned char* counter = bytes + kCounterAt;
    return {ChangeToken::Mode::Journal, (int64_t{counter[0]} << 24) | (counter[1] << 16) |
                                            (counter[2] << 8) | counter[3]};
}

}  // namespace softcapi
