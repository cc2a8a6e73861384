// One call's log, decided once: whether the log folder exists is asked at the call's first need,
// and while it does the file is opened once for all the call's lines and closed when the call
// ends. With logging off nothing is opened, formatted or forwarded.
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
    // The file for the call's next line, opened at the first; null when logging is off or the
    // file cannot be opened (then no line of the call is tried again).
    LogFile* file();

private:
    enum class State { Undecided, Off, On };

    State state_ = State::Undecided;
    char path_[kLogPathCapacity] = {};
    bool fileTried_ = false;
    std::optional<LogFile> file_;
};

}  // namespace diagnostics
