// One operating system's side of the diagnostic log: the path separator, opening the file,
// its size and deletion, and the local clock. Each OS has its own small implementation file.
#pragma once

#include <cstdint>
#include <cstdio>

// "\.quendrilax\jni.log" on Windows, "/.quendrilax/jni.log" elsewhere: 20 characters either way.
extern const char kLogPathSuffix[];

// Opens the file for appending in text mode, denying nothing to other openers. Null when it
// cannot be opened (folder missing, access denied); the folder is never created.
FILE* openLogForAppend(const char* path);

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
