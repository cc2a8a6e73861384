#include "diagnostics/status.h"

#include <atomic>

namespace diagnostics {

namespace {

// Java threads record and read these without a lock; atomics keep each access whole and race-free.
// Relaxed order is enough: a word carries one value and orders nothing else.
std::atomic<uint32_t> statusWord{kStatusSuccess};
std::atomic<uint32_t> providerErrorWord{0};

}  // namespace

void recordStatus(uint32_t code) { statusWord.store(code, std::memory_order_relaxed); }

uint32_t lastStatus() { return statusWord.load(std::memory_order_relaxed); }

void recordProviderError(uint32_t error) { providerErrorWord.store(error, std::memory_order_relaxed); }

uint32_t providerError() { return providerErrorWord.load(std::memory_order_relaxed); }

}  // namespace diagnostics
