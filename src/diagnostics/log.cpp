#include "diagnostics/log.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "diagnostics/log_host.h"
#include "diagnostics/log_path.h"

namespace diagnostics {

namespace {

constexpr uint32_t kLogSizeLimit = 524288;

// Writes one line to the open file: the message made into the buffer by `message` (which tells
// where it is and how long), after the date and time. False when nothing was written.
template <typename Message>
bool writeLine(LogFile& file, Message message, char (&buffer)[kLogMessageCapacity],
               const char*& text, size_t& length) {
    if (!file.isOpen() || !message(buffer, text, length)) return false;
    // Date and time are read from the clock one after the other, as two separate readings.
    const ClockReading date = readLocalClock();
    char dateText[32];
    std::snprintf(dateText, sizeof(dateText), "%02d/%02d/%02d", date.month, date.day,
                  date.year % 100);
    const ClockReading time = readLocalClock();
    char timeText[32];
    std::snprintf(timeText, sizeof(timeText), "%02d:%02d:%02d", time.hour, time.minute,
                  time.second);
    LogLineWriter line(file);
    line.append(dateText);
    line.append(" ");
    line.append(timeText);
    line.append(" - ");
    line.append(text, length);
    line.append("\n");
    return true;
}

// One line, then the message handed to Java. Without a session the file is opened for the line
// and closed after it, so that nothing stays open between lines; with one, the session's file
// takes it. The message is made only once the file has opened, so a log that is off costs no
// formatting.
template <typename Message>
void logLine(const LogSink& sink, Message message) {
    if (!sink.takesLines()) return;
    char buffer[kLogMessageCapacity];
    const char* text = nullptr;
    size_t length = 0;
    if (LogSession* session = sink.session()) {
        LogFile* file = session->file();
        if (file == nullptr || !writeLine(*file, message, buffer, text, length)) return;
    } else {
        char path[kLogPathCapacity];
        if (!composeLogPath(path)) return;
        LogFile file(path);
        if (!writeLine(file, message, buffer, text, length)) return;
    }
    sink.forward(text, length);
}

// Copies `text` with each control byte (below 0x20, and 0x7F) as "\xHH", so that a name from the
// store or the provider can neither end a line nor start a forged one; cut where the next
// character or escape would not fit. The length written.
size_t copyEscapingControls(const char* text, char (&escaped)[kLogMessageCapacity]) {
    static const char kHexDigits[] = "0123456789abcdef";
    size_t length = 0;
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(text); *c != 0; ++c) {
        bool control = *c < 0x20 || *c == 0x7F;
        if (length + (control ? 4 : 1) > kLogMessageCapacity - 1) break;
        if (control) {
            escaped[length++] = '\\';
            escaped[length++] = 'x';
            escaped[length++] = kHexDigits[*c >> 4];
            escaped[length++] = kHexDigits[*c & 0xF];
        } else {
            escaped[length++] = static_cast<char>(*c);
        }
    }
    escaped[length] = '\0';
    return length;
}

}  // namespace

void writeLog(const char* message, const LogSink& sink) {
    if (message == nullptr) return;
    logLine(sink, [&](char (&)[kLogMessageCapacity], const char*& text, size_t& length) {
        // A message never exceeds what the callers' buffer holds, however it was made.
        text = message;
        length = strnlen(message, kLogMessageCapacity - 1);
        return true;
    });
}

LogFile::~LogFile() {
    if (!isOpen()) return;
    if (held_ != nullptr && held_->used > 0) append(held_->bytes, held_->used);
    closeHandle();
}

void LogFile::write(const char* line, size_t length) {
    if (!isOpen()) return;
    if (held_ == nullptr) {
        append(line, length);
        return;
    }
    if (held_->used + length > HeldLines::kCapacity) {
        append(held_->bytes, held_->used);
        held_->used = 0;
    }
    if (length > HeldLines::kCapacity) {
        append(line, length);
        return;
    }
    std::memcpy(held_->bytes + held_->used, line, length);
    held_->used += length;
}

bool LogSession::on() {
    if (state_ == State::Undecided) {
        // The opening asks whether the folder exists: without it the file cannot be made.
        char path[kLogPathCapacity];
        if (composeLogPath(path)) file_.emplace(path, kLogSizeLimit, held_);
        state_ = file_ && file_->isOpen() ? State::On : State::Off;
    }
    return state_ == State::On;
}

LogFile* LogSession::file() {
    return on() ? &*file_ : nullptr;
}

void trimLogFile(const LogSink& sink) {
    // A call's session trims the file as it opens it.
    if (!sink.logs() || sink.session() != nullptr) return;
    char path[kLogPathCapacity];
    if (!composeLogPath(path)) return;
    uint32_t size = 0;
    if (!readLogFileSize(path, &size)) return;
    if (size > kLogSizeLimit) deleteLogFile(path);
}

void writeLogFormatted(const char* format, LogSink sink, ...) {
    va_list arguments;
    va_start(arguments, sink);
    logLine(sink, [&](char (&buffer)[kLogMessageCapacity], const char*& text, size_t& length) {
        char formatted[kLogMessageCapacity];
        if (std::vsnprintf(formatted, sizeof(formatted), format, arguments) < 0) return false;
        // Some Windows C runtimes leave a cut message without its terminator.
        formatted[sizeof(formatted) - 1] = '\0';
        // The formats hold no control character: only the values put in can bring one.
        length = copyEscapingControls(formatted, buffer);
        text = buffer;
        return true;
    });
    va_end(arguments);
}

}  // namespace diagnostics
