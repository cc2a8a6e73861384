#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "softcapi/admin/admin.h"
#include "softcapi/keystore/file_descriptor.h"

namespace qdie_tool {

namespace {

// Certificates and PKCS#12 files are a few kilobytes; this keeps a wrong path (a device, a
// huge file) from being read into memory.
const off_t kMaxInputSize = 16 * 1024 * 1024;

[[noreturn]] void failFile(const std::string& action, const std::string& path, int error) {
    throw FileError("cannot " + action + " " + path + ": " + std::strerror(error));
}

// 0, or the errno of the write that failed.
int writeAll(int fd, const std::vector<BYTE>& bytes) {
    size_t written = 0;
    while (written < bytes.size()) {
        ssize_t result = write(fd, bytes.data() + written, bytes.size() - written);
        if (result < 0 && errno == EINTR) continue;
        if (result < 0) return errno;
        written += static_cast<size_t>(result);
    }
    return 0;
}

mode_t currentUmask() {
    mode_t mask = umask(0);
    umask(mask);
    return mask;
}

}  // namespace

std::vector<BYTE> readInputFile(const std::string& path) {
    softcapi::FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) failFile("read", path, errno);
    struct stat info;
    if (fstat(file.get(), &info) != 0) failFile("read", path, errno);
    if (!S_ISREG(info.st_mode)) throw FileError("cannot read " + path + ": not a regular file");
    if (info.st_size > kMaxInputSize) throw FileError("cannot read " + path + ": file too large");
    std::vector<BYTE> bytes(static_cast<size_t>(info.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t result = read(file.get(), bytes.data() + done, bytes.size() - done);
        if (result < 0 && errno == EINTR) continue;
        if (result < 0) failFile("read", path, errno);
        if (result == 0) break;
        done += static_cast<size_t>(result);
    }
    bytes.resize(done);
    return bytes;
}

OutputFile::OutputFile(const std::string& path) : path_(path), temporaryPath_(path + ".XXXXXX") {
    if (softcapi::admin::isKeystoreFile(path_))
        throw FileError("cannot write " + path_ + ": it is a file of the key store");
    // rename() would refuse it only after the work is done.
    struct stat info;
    if (stat(path_.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        throw FileError("cannot write " + path_ + ": it is a folder");
    fd_ = mkstemp(temporaryPath_.data());
    if (fd_ < 0) failFile("write", path_, errno);
    // mkstemp makes the file private; a certificate is public, so it gets the usual mode.
    fchmod(fd_, 0666 & ~currentUmask());
}

OutputFile::~OutputFile() {
    if (fd_ >= 0) close(fd_);
    if (!temporaryPath_.empty()) unlink(temporaryPath_.c_str());
}

// Flushed to disk, so that a full file system fails here and not after the name is given.
void OutputFile::write(const std::vector<BYTE>& bytes) {
    int error = writeAll(fd_, bytes);
    if (error == 0 && fsync(fd_) != 0) error = errno;
    int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0 && error == 0) error = errno;
    if (error != 0) failFile("write", path_, error);
}

void OutputFile::commit() {
    if (rename(temporaryPath_.c_str(), path_.c_str()) != 0) failFile("write", path_, errno);
    temporaryPath_.clear();
}

}  // namespace qdie_tool
