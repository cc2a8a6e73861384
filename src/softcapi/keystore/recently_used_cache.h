// A map by name that keeps at most so many values, letting go of the one used least recently
// when a new one comes: what a process has read stays bounded however many names it opens.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace softcapi {

template <typename Value>
class RecentlyUsedCache {
public:
    explicit RecentlyUsedCache(size_t capacity) : capacity_(capacity) {}

    // Null when there is none; a value found counts as used.
    Value* find(const std::string& key) {
        auto found = slots_.find(key);
        if (found == slots_.end()) return nullptr;
        found->second.lastUse = ++clock_;
        return &found->second.value;
    }

    // Keeps the value under a key it does not hold yet.
    Value& insert(const std::string& key, Value value) {
        if (slots_.size() >= capacity_) evictLeastRecentlyUsed();
        return slots_.emplace(key, Slot{std::move(value), ++clock_}).first->second.value;
    }

    void erase(const std::string& key) { slots_.erase(key); }
    void clear() { slots_.clear(); }

    // Calls visit(key, value) for each; `visit` returns false to let go of that value.
    template <typename Visit>
    void keepWhere(Visit visit) {
        for (auto slot = slots_.begin(); slot != slots_.end();) {
            if (visit(slot->first, slot->second.value))
                ++slot;
            else
                slot = slots_.erase(slot);
        }
    }

private:
    struct Slot {
        Value value;
        uint64_t lastUse;
    };

    void evictLeastRecentlyUsed() {
        auto oldest = slots_.begin();
        for (auto slot = slots_.begin(); slot != slots_.end(); ++slot) {
            if (slot->second.lastUse < oldest->second.lastUse) oldest = slot;
        }
        if (oldest != slots_.end()) slots_.erase(oldest);
    }

    size_t capacity_;
    uint64_t clock_ = 0;
    std::map<std::string, Slot> slots_;
};

}  // namespace softcapi
