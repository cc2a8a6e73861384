// The outcome of one signing or decryption. Every code goes to the process-wide status word as
// it is recorded; the call also keeps its own, because what it returns, and whether a late
// failure may still overwrite success, must not depend on what another thread recorded since.
#pragma once

#include <cstdint>

#include "diagnostics/status.h"

class Outcome {
public:
    void record(uint32_t code) {
        code_ = code;
        recordStatus(code);
    }
    uint32_t code() const { return code_; }
    bool succeeded() const { return code_ == kStatusSuccess; }

private:
    uint32_t code_ = kStatusSuccess;
};
