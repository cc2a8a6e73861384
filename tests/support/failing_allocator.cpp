#include "support/failing_allocator.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

// Each block starts with a mark telling whether it was made while armed; the caller's memory
// follows, aligned as malloc aligns.
constexpr std::size_t kHeaderSize = alignof(std::max_align_t);
constexpr std::uint32_t kUnarmed = 0x51444945;
constexpr std::uint32_t kArmed = 0x41524d44;

thread_local ArmedAllocations* tArmed = nullptr;
std::atomic<long> gOutstanding{0};

// Null when the allocation fails, really or by design.
void* allocate(std::size_t size) noexcept {
    ArmedAllocations* armed = tArmed;
    if (armed != nullptr && armed->nextFails()) return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(size + kHeaderSize));
    if (block == nullptr) return nullptr;
    const std::uint32_t mark = armed != nullptr ? kArmed : kUnarmed;
    *reinterpret_cast<std::uint32_t*>(block) = mark;
    if (armed != nullptr) gOutstanding.fetch_add(1, std::memory_order_relaxed);
    return block + kHeaderSize;
}

void release(void* memory) noexcept {
    if (memory == nullptr) return;
    unsigned char* block = static_cast<unsigned char*>(memory) - kHeaderSize;
    if (*reinterpret_cast<std::uint32_t*>(block) == kArmed)
        gOutstanding.fetch_sub(1, std::memory_order_relaxed);
    std::free(block);
}

void* allocateOrThrow(std::size_t size) {
    void* memory = allocate(size);
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
}

}  // namespace

ArmedAllocations::ArmedAllocations(int failAt) : previous_(tArmed), failAt_(failAt) {
    tArmed = this;
}

ArmedAllocations::~ArmedAllocations() {
    tArmed = previous_;
}

long ArmedAllocations::outstanding() {
    return gOutstanding.load(std::memory_order_relaxed);
}

bool ArmedAllocations::nextFails() {
    if (++count_ != failAt_) return false;
    failed_ = true;
    return true;
}

// Every replaceable form but the aligned ones, which the library does not use and whose default
// forms allocate and free on their own.
void* operator new(std::size_t size) { return allocateOrThrow(size); }
void* operator new[](std::size_t size) { return allocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* memory) noexcept { release(memory); }
void operator delete[](void* memory) noexcept { release(memory); }
void operator delete(void* memory, std::size_t) noexcept { release(memory); }
void operator delete[](void* memory, std::size_t) noexcept { release(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { release(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { release(memory); }
