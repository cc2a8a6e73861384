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

// One line: the file opened for it and closed after it, so that nothing stays open between lines,
// then the message handed to Java. `message` makes the message into the buffer it is given and
// tells where it is and how long; it runs only once the file has opened, so a log that is off
// costs a failed open and no formatting.
template <typename Message>
void logLine(JNIEnv* env, Message message) {
    char path[kLogPathCapacity];
    if (!composeLogPath(path)) return;
    char buffer[kLogMessageCapacity];
    const char* text = nullptr;
    size_t length = 0;
    {
        LogLineWriter file(path);
        if (!file.isOpen() || !message(buffer, text, length)) return;
        // Date and time are read from the clock one after the other, as two separate readings.
        const ClockReading date = readLocalClock();
        char dateText[32];
        std::snprintf(dateText, sizeof(dateText), "%02d/%02d/%02d", date.month, date.day,
                      date.year % 100);
        const ClockReading time = readLocalClock();
        char timeText[32];
        std::snprintf(timeText, sizeof(timeText), "%02d:%02d:%02d", time.hour, time.minute,
                      time.second);
        file.append(dateText);
        file.append(" ");
        file.append(timeText);
        file.append(" - ");
        file.append(text, length);
        file.append("\n");
    }
    if (env != nullptr) forwardLogLine(env, text, length);
}

}  // namespace

void writeLog(const char* message, JNIEnv* env) {
    if (message == nullptr) return;
    logLine(env, [&](char (&)[kLogMessageCapacity], const char*& text, size_t& length) {
        // A message never exceeds what the callers' buffer holds, however it was made.
        text = message;
        length = strnlen(message, kLogMessageCapacity - 1);
        return true;
    });
}

void trimLogFile() {
    char path[kLogPathCapacity];
    if (!composeLogPath(path)) return;
    uint32_t size = 0;
    if (!readLogFileSize(path, &size)) return;
    if (size > kLogSizeLimit) deleteLogFile(path);
}

void writeLogFormatted(const char* format, JNIEnv* env, ...) {
    va_list arguments;
    va_start(arguments, env);
    logLine(env, [&](char (&buffer)[kLogMessageCapacity], const char*& text, size_t& length) {
        if (std::vsnprintf(buffer, sizeof(buffer), format, arguments) < 0) return false;
        // Some Windows C runtimes leave a cut message without its terminator.
        buffer[sizeof(buffer) - 1] = '\0';
        text = buffer;
        length = std::strlen(buffer);
        return true;
    });
    va_end(arguments);
}

}  // namespace diagnostics
