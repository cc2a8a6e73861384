// The diagnostic log: one line per event in <profile>/.quendrilax/jni.log, each line also handed
// to the Java method QDBrowserProvider.logJNI. Logging is on exactly while that folder exists;
// every failure inside the log is silent.
#pragma once

#include <cstddef>

#include "diagnostics/log_session.h"

namespace diagnostics {

// The longest message a line holds, terminator included; longer messages are cut to fit.
constexpr size_t kLogMessageCapacity = 512;

// Where one call's lines go: the file and a receiver handed each line's text (to Java, for the
// natives), the file alone, or nowhere (a call whose behaviour is to log nothing). Without a
// session each line opens and closes the file, as the ten natives do; with one, the call's
// session decides once whether it logs and holds the file for all its lines.
class LogSink {
public:
    using Receiver = void (*)(void* target, const char* text, size_t length);

    LogSink() = default;
    LogSink(Receiver receiver, void* target, LogSession* session = nullptr)
        : receiver_(receiver), target_(target), session_(session) {}
    static LogSink none() {
        LogSink silent;
        silent.takesLines_ = false;
        return silent;
    }

    bool takesLines() const { return takesLines_; }
    LogSession* session() const { return session_; }
    // Whether a line could be written at all: false for none() and for a session whose log is
    // off, so that what is computed only to be logged is not computed.
    bool logs() const { return takesLines_ && (session_ == nullptr || session_->on()); }
    void forward(const char* text, size_t length) const {
        if (receiver_ != nullptr) receiver_(target_, text, length);
    }

private:
    Receiver receiver_ = nullptr;
    void* target_ = nullptr;
    LogSession* session_ = nullptr;
    bool takesLines_ = true;
};

// Appends "MM/DD/YY HH:MM:SS - message" to the file and hands the message to the sink's
// receiver. Nothing is handed on when the file could not be opened.
void writeLog(const char* message, const LogSink& sink);

// Deletes the log file when it has grown past 512 KiB (524,288 bytes; that size itself stays);
// nothing for a sink that does not log.
void trimLogFile(const LogSink& sink = LogSink());

#if defined(__GNUC__)
#define QDIE_PRINTF_FORMAT(formatIndex, firstArg) __attribute__((format(printf, formatIndex, firstArg)))
#else
#define QDIE_PRINTF_FORMAT(formatIndex, firstArg)
#endif

// printf-style: the message is formatted (cut at 511 bytes) only once the file has opened, then
// written and forwarded as writeLog does, with each control byte (below 0x20, and 0x7F) written
// as "\xHH": the values are names from the store or the provider, which must not break a line.
// Its arguments come in writeLog's order, the message's format before the sink, then the values.
void writeLogFormatted(const char* format, LogSink sink, ...) QDIE_PRINTF_FORMAT(1, 3);

}  // namespace diagnostics
