package com.quendrilax.browser.testing;

/**
 * C++ allocation failures inside the library: the harness preloads a test allocator into this
 * JVM, in place of operator new, and names it in the property qdie.allocationFaults. While a
 * thread is armed, its allocations are counted and the chosen one fails as new fails when
 * memory runs out.
 */
public final class AllocationFaults {

    static {
        System.load(System.getProperty("qdie.allocationFaults"));
    }

    private AllocationFaults() {}

    /** Arms this thread: the failAt-th allocation from now on (from 1) fails; 0 only counts. */
    public static native void arm(int failAt);

    /** Disarms this thread, giving the number of allocations it made while armed. */
    public static native int disarm();

    /** Whether the allocation to fail was reached while last armed. */
    public static native boolean failed();
}
