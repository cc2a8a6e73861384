#include <windows.h>

#include <cstdint>

#include "diagnostics/log_host.h"

namespace diagnostics {

const char kLogPathSuffix[] = "\\.quendrilax\\jni.log";

namespace {

// Append-only access puts each write at the end of the file in one step: the C runtime's own
// append mode seeks and then writes, so concurrent writers could overwrite each other's lines.
// Sharing reading and writing (as _SH_DENYNO does) lets a viewer keep the log open.
intptr_t openForAppending(const char* path) {
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(file);
}

}  // namespace

LogFile::LogFile(const char* path) : handle_(openForAppending(path)) {}

// Trimmed as the ten natives trim it, by its path, before it is opened: a log someone else holds
// open is left alone.
LogFile::LogFile(const char* path, uint32_t trimAbove, HeldLines& held) : held_(&held) {
    uint32_t size = 0;
    if (readLogFileSize(path, &size) && size > trimAbove) deleteLogFile(path);
    handle_ = openForAppending(path);
}

void LogFile::closeHandle() { CloseHandle(reinterpret_cast<HANDLE>(handle_)); }

void LogFile::append(const char* bytes, size_t length) {
    DWORD written = 0;
    WriteFile(reinterpret_cast<HANDLE>(handle_), bytes, static_cast<DWORD>(length), &written,
              nullptr);
}

// As text mode does: each line feed goes to the file as CR LF.
void LogLineWriter::append(const char* text, size_t length) {
    for (size_t i = 0; i < length && used_ < kCapacity; ++i) {
        if (text[i] == '\n') {
            if (used_ + 2 > kCapacity) break;
            line_[used_++] = '\r';
        }
        line_[used_++] = text[i];
    }
}

bool readLogFileSize(const char* path, uint32_t* size) {
    // No sharing: a log someone else holds open is left alone rather than deleted under them.
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD high = 0;
    const DWORD low = GetFileSize(file, &high);  // INVALID_FILE_SIZE (0xFFFFFFFF) on failure
    *size = high != 0 ? 0xFFFFFFFFu : low;
    CloseHandle(file);
    return true;
}

void deleteLogFile(const char* path) { DeleteFileA(path); }

ClockReading readLocalClock() {
    SYSTEMTIME local;
    GetLocalTime(&local);
    return {local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond};
}

}  // namespace diagnostics
