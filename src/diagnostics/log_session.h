// One call's log, decided once: at the call's first need the file is opened (which it can be only
// while the log folder exists), trimmed, and kept for all the call's lines, which are written
// together in one append when the call ends. With logging off nothing is formatted or forwarded.
#pragma once

#include <optional>

#include "diagnostics/log_host.h"
#include "diagnostics/log_path.h"

namespace diagnostics {

class LogSession {
public:
    LogSession() = default;
    LogSession(const LogSession&) = delete;
    LogSession& operator=(const LogSession&) = delete;

    // Whether the call logs: the first question decides it for the whole call.
    bool on();
    // The file for the call's next line, opened at the first; null when logging is off (the file
    // cannot be opened, and no line of the call is tried again).
    LogFile* file();

private:
    enum class State { Undecided, Off, On };

    State state_ = State::Undecided;
    // The file goes first, writing out the lines held for it.
    HeldLines held_;
    std::optional<LogFile> file_;
};

}  // namespace diagnostics
