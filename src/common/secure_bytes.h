// Bytes that must not outlive their use in readable memory (a PIN, key material, plaintext):
// the buffer is wiped before it is freed, on every path.
#pragma once

#include <cstddef>
#include <cstring>
#include <vector>

namespace common {

// Overwrites `size` bytes at `data` in a way the optimiser may not drop.
inline void wipeBytes(void* data, size_t size) {
    volatile unsigned char* bytes = static_cast<volatile unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) bytes[i] = 0;
}

class SecureBytes {
public:
    SecureBytes() = default;
    explicit SecureBytes(size_t size) : bytes_(size) {}
    SecureBytes(const void* data, size_t size)
        : bytes_(static_cast<const unsigned char*>(data),
                 static_cast<const unsigned char*>(data) + size) {}
    ~SecureBytes() { wipe(); }
    SecureBytes(SecureBytes&& other) noexcept : bytes_(std::move(other.bytes_)) {}
    SecureBytes& operator=(SecureBytes&& other) noexcept {
        if (this != &other) {
            wipe();
            bytes_ = std::move(other.bytes_);
        }
        return *this;
    }
    SecureBytes(const SecureBytes&) = delete;
    SecureBytes& operator=(const SecureBytes&) = delete;

    unsigned char* data() { return bytes_.data(); }
    const unsigned char* data() const { return bytes_.data(); }
    size_t size() const { return bytes_.size(); }
    bool empty() const { return bytes_.empty(); }
    unsigned char& operator[](size_t i) { return bytes_[i]; }
    const unsigned char& operator[](size_t i) const { return bytes_[i]; }

    // Shrinks without reallocating, wiping the bytes given up.
    void truncate(size_t size) {
        if (size >= bytes_.size()) return;
        wipeBytes(bytes_.data() + size, bytes_.size() - size);
        bytes_.resize(size);
    }

private:
    void wipe() {
        if (!bytes_.empty()) wipeBytes(bytes_.data(), bytes_.size());
    }

    // Never grown after construction, so no reallocation leaves an unwiped copy behind.
    std::vector<unsigned char> bytes_;
};

}  // namespace common
