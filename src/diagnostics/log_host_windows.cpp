#include <share.h>
#include <stdio.h>
#include <windows.h>

#include "diagnostics/log_host.h"

const char kLogPathSuffix[] = "\\.quendrilax\\jni.log";

FILE* openLogForAppend(const char* path) {
    // Text mode writes CR LF; denying nothing lets a viewer keep the log open while we append.
    return _fsopen(path, "a", _SH_DENYNO);
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
