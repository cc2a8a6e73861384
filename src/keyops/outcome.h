// The outcome of one signing or decryption. Every code goes to the process-wide status word as
// it is recorded; the call also keeps its own, because what it returns, and whether a late
// failure may still overwrite success, must not depend on what another thread recorded since.
#pragma once

#include <cstdint>

#include "diagnostics/status.h"

namespace keyops {

// Which code wins is decided here, in two rules:
// - record(): a step's own result replaces whatever came before, a success included. The steps
//   run in order and each failure ends the work, so the latest code is the reason; a failed
//   release after a finished signature turns it into a failure.
// - recordUnlessFailed(): a store that cannot be closed at the very end speaks only for a call
//   that had succeeded, and never hides the failure that came first.
class Outcome {
public:
    void record(uint32_t code) {
        code_ = code;
        diagnostics::recordStatus(code);
    }
    void recordUnlessFailed(uint32_t code) {
        if (succeeded()) record(code);
    }
    uint32_t code() const { return code_; }
    bool succeeded() const { return code_ == diagnostics::kStatusSuccess; }

private:
    uint32_t code_ = diagnostics::kStatusSuccess;
};

}  // namespace keyops
