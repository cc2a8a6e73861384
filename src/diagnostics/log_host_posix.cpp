#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>

#include "diagnostics/log_host.h"

namespace diagnostics {

const char kLogPathSuffix[] = "/.quendrilax/jni.log";

#if !defined(__linux__)
#error "a line is appended with pwrite on an O_APPEND descriptor, which appends only on Linux"
#endif

namespace {

// Never waits (O_NONBLOCK: a FIFO in the log's place fails to open while nobody reads it) and
// never follows a link in the last component (O_NOFOLLOW: a link planted there is not written
// through, nor its target created). A new log is private to the user.
int openLogFile(const char* path, int access) {
    return open(path, access | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600);
}

}  // namespace

LogFile::LogFile(const char* path) : handle_(openLogFile(path, O_WRONLY | O_APPEND | O_CREAT)) {
    if (handle_ < 0) handle_ = kClosed;
}

// Measured on the descriptor it writes through: one open for the trim and the lines. Only a
// regular file is deleted.
LogFile::LogFile(const char* path, uint32_t trimAbove, HeldLines& held)
    : handle_(openLogFile(path, O_WRONLY | O_APPEND | O_CREAT)), held_(&held) {
    struct stat status;
    if (handle_ >= 0 && fstat(static_cast<int>(handle_), &status) == 0 &&
        S_ISREG(status.st_mode) && static_cast<uint64_t>(status.st_size) > trimAbove) {
        close(static_cast<int>(handle_));
        unlink(path);
        handle_ = openLogFile(path, O_WRONLY | O_APPEND | O_CREAT);
    }
    if (handle_ < 0) handle_ = kClosed;
}

void LogFile::closeHandle() { close(static_cast<int>(handle_)); }

// The bytes go out in one pwrite. On a descriptor opened with O_APPEND, Linux appends them at
// the end of the file whatever the offset (pwrite(2)), in one step even with several processes
// writing, so concurrent lines never interleave; and pwrite fails with ESPIPE on what cannot
// seek (a FIFO somebody reads, a socket, a terminal), so a line reaches a regular file or
// nothing, at no cost beyond the write (an fstat for each line would add a tenth to a signing).
void LogFile::append(const char* bytes, size_t length) {
    if (pwrite(static_cast<int>(handle_), bytes, length, 0) < 0) {
        // A failure of the log is silent.
    }
}

void LogLineWriter::append(const char* text, size_t length) {
    const size_t taken = std::min(length, kCapacity - used_);
    std::memcpy(line_ + used_, text, taken);
    used_ += taken;
}

// POSIX has no share modes, so a file held open by another writer is measured all the same.
// Only a regular file is: the trim neither waits on a FIFO nor deletes one.
bool readLogFileSize(const char* path, uint32_t* size) {
    const int fd = openLogFile(path, O_RDWR);
    if (fd < 0) return false;
    struct stat status;
    const bool measured = fstat(fd, &status) == 0;
    close(fd);
    if (measured && !S_ISREG(status.st_mode)) return false;
    if (!measured || static_cast<uint64_t>(status.st_size) > UINT32_MAX)
        *size = UINT32_MAX;
    else
        *size = static_cast<uint32_t>(status.st_size);
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
