// One operating system's side of the diagnostic log: the path separator, opening the file,
// its size and deletion, and the local clock. Each OS has its own small implementation file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace diagnostics {

// "\.quendrilax\jni.log" on Windows, "/.quendrilax/jni.log" elsewhere: 20 characters either way.
extern const char kLogPathSuffix[];

// One line of the log: the file opened for appending in text mode (CR LF on Windows), denying
// nothing to other openers; the pieces gathered; then all of them written at the end of the file
// in one append, and the file closed, when the writer goes. The folder is never created.
class LogLineWriter {
public:
    explicit LogLineWriter(const char* path);
    ~LogLineWriter();
    LogLineWriter(const LogLineWriter&) = delete;
    LogLineWriter& operator=(const LogLineWriter&) = delete;

    // False when the file could not be opened (folder missing, access denied).
    bool isOpen() const { return handle_ != kClosed; }
    void append(const char* text, size_t length);
    void append(const char* text) { append(text, std::strlen(text)); }

private:
    static constexpr intptr_t kClosed = -1;
    // The date, the time, the separators and a message of 511 bytes, each line feed doubled.
    static constexpr size_t kCapacity = 1100;

    intptr_t handle_ = kClosed;
    char line_[kCapacity];
    size_t used_ = 0;
};

// Opens the existing file for reading and writing (with no sharing where the OS enforces it) and
// reads its size. False when the file cannot be opened. A size that cannot be read, or that
// does not fit in 32 bits, comes back as 0xFFFFFFFF so that it counts as too large.
bool readLogFileSize(const char* path, uint32_t* size);

void deleteLogFile(const char* path);

struct ClockReading {
    int year;  // four digits
    int month;
    int day;
    int hour;  // 24-hour clock
    int minute;
    int second;
};

ClockReading readLocalClock();

}  // namespace diagnostics
