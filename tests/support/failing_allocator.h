// The program's operator new and delete, replaced in a test program that sweeps allocation
// failures: while a thread is armed, its allocations are counted and the nth fails as new fails
// when memory runs out (std::bad_alloc, or null for the nothrow forms). Every allocation made
// while armed is known until it is freed, whichever thread frees it, so what a call leaves
// behind can be counted. Linked into a test program, never into the library.
#pragma once

// Arms the constructing thread for its lifetime.
class ArmedAllocations {
public:
    // The failAt-th allocation (from 1) fails; 0 fails none and only counts.
    explicit ArmedAllocations(int failAt = 0);
    ~ArmedAllocations();
    ArmedAllocations(const ArmedAllocations&) = delete;
    ArmedAllocations& operator=(const ArmedAllocations&) = delete;

    int count() const { return count_; }
    bool failed() const { return failed_; }

    // Allocations made while armed, on any thread and under any arming, not yet freed.
    static long outstanding();

    // Used by the replacement operator new: true when this allocation is to fail.
    bool nextFails();

private:
    ArmedAllocations* previous_;
    int failAt_;
    int count_ = 0;
    bool failed_ = false;
};
