#include "softcapi/keystore/keystore_watch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "softcapi/keystore/keystore_file.h"

namespace softcapi {

namespace {

// The header's bytes 18 to 27: the write and read versions (2 in WAL mode), then, from byte 24,
// the change counter, four bytes big-endian.
const off_t kVersionsOffset = 18;
const size_t kCounterAt = 6;
const unsigned char kWalVersion = 2;

// A descriptor of the file for reading its header, and the file's identity; none for anything but
// a regular file (opened without waiting, so that a FIFO in its place stops nothing).
FileDescriptor openHeader(const std::string& path, dev_t& device, ino_t& inode) {
    FileDescriptor header(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat info;
    if (header.get() < 0 || fstat(header.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return FileDescriptor();
    device = info.st_dev;
    inode = info.st_ino;
    return header;
}

}  // namespace

void WatchedFile::close() {
    connection_ = Connection();
    header_ = FileDescriptor();
}

WatchedFile::Change WatchedFile::follow(const std::string& path) {
    struct stat info;
    if (path.empty() || stat(path.c_str(), &info) != 0) {
        bool wasOpen = connection_.isOpen();
        close();
        return wasOpen ? Change::Gone : Change::None;
    }
    Change change = Change::None;
    if (info.st_dev != device_ || info.st_ino != inode_ || header_.get() < 0) {
        close();
        header_ = openHeader(path, device_, inode_);
        change = Change::Replaced;
    }
    if (!connection_.isOpen()) {
        connection_ = openKeystoreForReading(path);
        change = Change::Replaced;
    }
    return change;
}

ChangeToken WatchedFile::currentToken() {
    unsigned char bytes[10];
    // A file too short to hold a header (a new, empty one) has a token of its own.
    if (pread(header_.get(), bytes, sizeof(bytes), kVersionsOffset) != sizeof(bytes))
        return {ChangeToken::Mode::Journal, -1};
    if (bytes[0] == kWalVersion || bytes[1] == kWalVersion)
        return {ChangeToken::Mode::Wal, connection_.queryInteger("PRAGMA data_version")};
    const unsigned char* counter = bytes + kCounterAt;
    return {ChangeToken::Mode::Journal, (int64_t{counter[0]} << 24) | (counter[1] << 16) |
                                            (counter[2] << 8) | counter[3]};
}

}  // namespace softcapi
