// CryptoAPI handles: numbers that stand for objects, so a stale or foreign handle is an error,
// never a stray pointer. Numbers are never reused within a process.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "softcapi/wintypes.h"

namespace softcapi {

// One sequence for every kind of handle, so a hash handle is never taken for a key.
inline ULONG_PTR nextHandleNumber() {
    static std::atomic<ULONG_PTR> next{0x1000};
    return next.fetch_add(1, std::memory_order_relaxed);
}

template <typename T>
class HandleTable {
public:
    ULONG_PTR add(std::shared_ptr<T> object) {
        ULONG_PTR handle = nextHandleNumber();
        std::lock_guard<std::mutex> lock(mutex_);
        objects_.emplace(handle, std::move(object));
        return handle;
    }

    std::shared_ptr<T> find(ULONG_PTR handle) const {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = objects_.find(handle);
        return found != objects_.end() ? found->second : nullptr;
    }

    // The handle stands for `object` from now on; false when it stands for nothing.
    bool replace(ULONG_PTR handle, std::shared_ptr<T> object) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = objects_.find(handle);
        if (found == objects_.end()) return false;
        found->second = std::move(object);
        return true;
    }

    std::shared_ptr<T> remove(ULONG_PTR handle) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = objects_.find(handle);
        if (found == objects_.end()) return nullptr;
        std::shared_ptr<T> object = std::move(found->second);
        objects_.erase(found);
        return object;
    }

private:
    mutable std::mutex mutex_;
    std::unordered_map<ULONG_PTR, std::shared_ptr<T>> objects_;
};

}  // namespace softcapi
