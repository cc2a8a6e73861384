#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>

#include "diagnostics/log_host.h"

namespace diagnostics {

const char kLogPathSuffix[] = "/.quendrilax/jni.log";

namespace {

// The log is a regular file or nothing: a FIFO or a device in its place gets no line.
bool isRegularFile(int fd) {
    struct stat status;
    return fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}

// Never waits (O_NONBLOCK: a FIFO in the log's place fails to open when nobody reads it, and is
// refused when somebody does) and never follows a link in the last component (O_NOFOLLOW: a
// link planted there is not written through, nor its target created).
int openLogFile(const char* path, int access) {
    const int fd = open(path, access | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600);
    if (fd < 0 || isRegularFile(fd)) return fd;
    close(fd);
    return -1;
}

}  // namespace

// O_APPEND puts each write at the end of the file in one step, even with several processes
// writing; a line goes out in one write, so concurrent lines never interleave. A new log is
// private to the user (0600), as the lines may name containers and providers.
LogLineWriter::LogLineWriter(const char* path)
    : handle_(openLogFile(path, O_WRONLY | O_APPEND | O_CREAT)) {
    if (handle_ < 0) handle_ = kClosed;
}

LogLineWriter::~LogLineWriter() {
    if (!isOpen()) return;
    const int fd = static_cast<int>(handle_);
    if (write(fd, line_, used_) < 0) {
        // A failure of the log is silent.
    }
    close(fd);
}

void LogLineWriter::append(const char* text, size_t length) {
    const size_t taken = std::min(length, kCapacity - used_);
    std::memcpy(line_ + used_, text, taken);
    used_ += taken;
}

// POSIX has no share modes, so a file held open by another writer is measured all the same.
bool readLogFileSize(const char* path, uint32_t* size) {
    const int fd = openLogFile(path, O_RDWR);
    if (fd < 0) return false;
    struct stat status;
    if (fstat(fd, &status) != 0 || static_cast<uint64_t>(status.st_size) > UINT32_MAX)
        *size = UINT32_MAX;
    else
        *size = static_cast<uint32_t>(status.st_size);
    close(fd);
    return true;
}

void deleteLogFile(const char* path) { unlink(path); }

ClockReading readLocalClock() {
    const time_t now = std::time(nullptr);
    struct tm local = {};
    localtime_r(&now, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}

}  // namespace diagnostics
