// What one call of the core carries from the boundary down: where its log lines go, its outcome,
// and the CryptoAPI table it calls through. Built once per call by the natives (or a test), so
// that nothing of the call is read back from anything shared.
#pragma once

#include "diagnostics/log.h"
#include "keyops/crypto_platform.h"
#include "keyops/outcome.h"

namespace keyops {

struct CallContext {
    explicit CallContext(diagnostics::LogSink sink = diagnostics::LogSink())
        : log(sink), platform(cryptoPlatform()) {}

    diagnostics::LogSink log;
    Outcome outcome;
    const CryptoPlatform& platform;
};

// One step of a call as the log and the outcome tell it: its line on success, its line on
// failure (a format that may take the Windows error), the status it records, and its name.
// A step without a line for one of the two logs nothing there.
struct Step {
    const char* name;
    const char* success;
    const char* failure;
    uint32_t status;
};

// The end of a step whose result is known: on success its line is logged; on failure its error
// line, with `error`, and its status with the step and error recorded. Returns `succeeded`.
bool finishStep(CallContext& context, const Step& step, bool succeeded, DWORD error);

// Runs one CryptoAPI call, which returns whether it succeeded, and finishes its step with the
// platform's last error on failure.
template <typename Call>
bool runStep(CallContext& context, const Step& step, Call call) {
    bool succeeded = call();
    return finishStep(context, step, succeeded,
                      succeeded ? ERROR_SUCCESS : context.platform.GetLastError());
}

// The end of a CNG call's step: its answer is its error.
inline bool finishCngStep(CallContext& context, const Step& step, SECURITY_STATUS status) {
    return finishStep(context, step, status == ERROR_SUCCESS, static_cast<DWORD>(status));
}

// Runs `undo` after a failure, to take back what the call had changed: its steps are logged as
// any others, and the call's outcome stays the failure that made it necessary.
template <typename Undo>
void undoAfterFailure(CallContext& context, Undo undo) {
    const Outcome failure = context.outcome;
    undo();
    context.outcome = failure;
}

// What the ten natives leave for Java to read: the status word the code of a call that recorded
// one, the provider-error word the Windows error of a failure in the provider. What a call did
// not record leaves its word as it was.
void recordInStatusWords(const Outcome& outcome);

}  // namespace keyops
