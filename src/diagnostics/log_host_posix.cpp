#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include "diagnostics/log_host.h"

const char kLogPathSuffix[] = "/.quendrilax/jni.log";

FILE* openLogForAppend(const char* path) {
    // Append mode: each line lands at the end even when several processes write the file.
    return std::fopen(path, "ae");
}

// POSIX has no share modes, so a file held open by another writer is measured all the same.
bool readLogFileSize(const char* path, uint32_t* size) {
    const int fd = open(path, O_RDWR | O_CLOEXEC);
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
