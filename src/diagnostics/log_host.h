// One operating system's side of the diagnostic log: the path separator, opening the file,
// its size and deletion, and the local clock. Each OS has its own small implementation file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace diagnostics {

// "\.quendrilax\jni.log" on Windows, "/.quendrilax/jni.log" elsewhere: 20 characters either way.
extern const char kLogPathSuffix[];

// What the lines of one call wait in, to be written together in one append.
struct HeldLines {
    static constexpr size_t kCapacity = 8192;
    char bytes[kCapacity];
    size_t used = 0;
};

// The log file, opened for appending in text mode (CR LF on Windows), denying nothing to other
// openers, and closed when it goes: for one line of the ten natives, or for all the lines of one
// provider call. The folder is never created.
class LogFile {
public:
    explicit LogFile(const char* path);
    // The file for all the lines of one call: deleted first when it has grown past `trimAbove`
    // bytes, its lines held in `held` and written together when it goes (or when `held` fills).
    LogFile(const char* path, uint32_t trimAbove, HeldLines& held);
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // False when the file could not be opened (folder missing, access denied).
    bool isOpen() const { return handle_ != kClosed; }
    // A whole line, written at the end of the file in one append (or held with the call's).
    void write(const char* line, size_t length);

private:
    // The host's own: one append of the bytes, and the close.
    void append(const char* bytes, size_t length);
    void closeHandle();

    static constexpr intptr_t kClosed = -1;
    intptr_t handle_ = kClosed;
    HeldLines* held_ = nullptr;
};

// One line of the log: the pieces gathered, then written through the file in one append when
// the writer goes.
class LogLineWriter {
public:
    explicit LogLineWriter(LogFile& file) : file_(file) {}
    ~LogLineWriter() { file_.write(line_, used_); }
    LogLineWriter(const LogLineWriter&) = delete;
    LogLineWriter& operator=(const LogLineWriter&) = delete;

    void append(const char* text, size_t length);
    void append(const char* text) { append(text, std::strlen(text)); }

private:
    // The date, the time, the separators and a message of 511 bytes, each line feed doubled.
    static constexpr size_t kCapacity = 1100;

    LogFile& file_;
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
