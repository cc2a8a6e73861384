#include "diagnostics/log.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "diagnostics/log_forward.h"
#include "diagnostics/log_host.h"
#include "diagnostics/log_path.h"

namespace diagnostics {

namespace {

constexpr uint32_t kLogSizeLimit = 524288;

// Appends one line, opening and closing the file around it so nothing stays open between lines.
// False when the file cannot be opened.
bool appendLine(const char* path, const char* message, size_t length) {
    LogLineWriter file(path);
    if (!file.isOpen()) return false;
    // Date and time are read from the clock one after the other, as two separate readings.
    const ClockReading date = readLocalClock();
    char dateText[32];
    std::snprintf(dateText, sizeof(dateText), "%02d/%02d/%02d", date.month, date.day, date.year % 100);
    const ClockReading time = readLocalClock();
    char timeText[32];
    std::snprintf(timeText, sizeof(timeText), "%02d:%02d:%02d", time.hour, time.minute, time.second);

    file.append(dateText);
    file.append(" ");
    file.append(timeText);
    file.append(" - ");
    file.append(message, length);
    file.append("\n");
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

void writeLogFormatted(const char* format, JNIEnv* env, ...) {
    char message[kLogMessageCapacity];
    va_list arguments;
    va_start(arguments, env);
    const int formatted = std::vsnprintf(message, sizeof(message), format, arguments);
    va_end(arguments);
    if (formatted < 0) return;
    // Some Windows C runtimes leave a cut message without its terminator.
    message[sizeof(message) - 1] = '\0';
    writeLog(message, env);
}

}  // namespace diagnostics
