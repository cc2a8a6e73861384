// The outcome of one call of the core: its status code, and for a failure the step that failed
// and that step's Windows error. It belongs to the call alone: what the call returns, and whether
// a late failure may still overwrite success, must not depend on what another thread did since.
#pragma once

#include <cstdint>
#include <optional>

#include "diagnostics/status.h"
#include "keyops/capi.h"

namespace keyops {

// Which code wins is decided here, in two rules:
// - record(): a step's own result replaces whatever came before, a success included. The steps
//   run in order and each failure ends the work, so the latest code is the reason; a failed
//   release after a finished signature turns it into a failure.
// - recordUnlessFailed(): a store that cannot be closed at the very end speaks only for a call
//   that had succeeded, and never hides the failure that came first.
// An outcome starts unrecorded, and unrecorded is neither success nor failure: a path that
// records nothing cannot return success.
class Outcome {
public:
    void record(uint32_t code, const char* step = nullptr, DWORD windowsError = ERROR_SUCCESS) {
        code_ = code;
        step_ = step;
        windowsError_ = windowsError;
        recorded_ = true;
    }
    void recordUnlessFailed(uint32_t code, const char* step, DWORD windowsError) {
        if (succeeded()) record(code, step, windowsError);
    }
    // A failure inside the key's provider, whose Windows error the natives also keep apart.
    void recordProviderFailure(uint32_t code, const char* step, DWORD windowsError) {
        record(code, step, windowsError);
        providerError_ = windowsError;
    }

    // Whether any step recorded a code: store maintenance records only a store it cannot open.
    bool recorded() const { return recorded_; }
    uint32_t code() const { return code_; }
    bool succeeded() const { return recorded_ && code_ == diagnostics::kStatusSuccess; }
    bool failed() const { return recorded_ && code_ != diagnostics::kStatusSuccess; }
    // The step that failed, as CryptoAPI names it, or null.
    const char* step() const { return step_; }
    DWORD windowsError() const { return windowsError_; }
    const std::optional<DWORD>& providerError() const { return providerError_; }

private:
    uint32_t code_ = diagnostics::kStatusSuccess;
    const char* step_ = nullptr;
    DWORD windowsError_ = ERROR_SUCCESS;
    std::optional<DWORD> providerError_;
    bool recorded_ = false;
};

}  // namespace keyops
