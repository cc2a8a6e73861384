#include "diagnostics/log.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "diagnostics/log_forward.h"
#include "diagnostics/log_host.h"
#include "diagnostics/log_path.h"

namespace {

constexpr uint32_t kLogSizeLimit = 524288;

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using LogFile = std::unique_ptr<FILE, FileCloser>;

// Appends one line, opening and closing the file around it so nothing stays open between lines.
// False when the file cannot be opened.
bool appendLine(const char* path, const char* message, size_t length) {
    LogFile file(openLogForAppend(path));
    if (!file) return false;
    // Date and time are read from the clock one after the other, as two separate readings.
    const ClockReading date = readLocalClock();
    char dateText[32];
    std::snprintf(dateText, sizeof(dateText), "%02d/%02d/%02d", date.month, date.day, date.year % 100);
    const ClockReading time = readLocalClock();
    char timeText[32];
    std::snprintf(timeText, sizeof(timeText), "%02d:%02d:%02d", time.hour, time.minute, time.second);

    std::fputs(dateText, file.get());
    std::fputs(" ", file.get());
    std::fputs(timeText, file.get());
    std::fputs(" - ", file.get());
    std::fwrite(message, 1, length, file.get());
    std::fputs("\n", file.get());
    return true;
}

}  // namespace

void writeLog(const char* message, JNIEnv* env) {
    if (message == nullptr) return;
    char path[kLogPathCapacity];
    if (!composeLogPath(path)) return;
    // A message never exceeds what the callers' buffer holds, however it was made.
    const size_t length = strnlen(message, kLogMessageCapacity - 1);
    if (!appendLine(path, message, length)) return;
    if (env != nullptr) forwardLogLine(env, message, length);
}

void trimLogFile() {
    char path[kLogPathCapacity];
    if (!composeLogPath(path)) return;
    uint32_t size = 0;
    if (!readLogFileSize(path, &size)) return;
    if (size > kLogSizeLimit) deleteLogFile(path);
}

void writeLogFormatted(JNIEnv* env, const char* format, ...) {
    char message[kLogMessageCapacity];
    va_list arguments;
    va_start(arguments, format);
    const int formatted = std::vsnprintf(message, sizeof(message), format, arguments);
    va_end(arguments);
    if (formatted < 0) return;
    // Some Windows C runtimes leave a cut message without its terminator.
    message[sizeof(message) - 1] = '\0';
    writeLog(message, env);
}
