package com.quendrilax.bench;

import java.util.Arrays;

/** What the benchmarks share: one operation timed, a wrong result stopped, a median taken. */
final class Timing {

    @FunctionalInterface
    interface Operation {
        void run() throws Exception;
    }

    private Timing() {}

    /** Nanoseconds the operation took. */
    static long time(Operation operation) {
        try {
            long start = System.nanoTime();
            operation.run();
            return System.nanoTime() - start;
        } catch (Exception failure) {
            throw new IllegalStateException(failure);
        }
    }

    /** A figure of a failed call would be no figure: the run stops. */
    static void check(boolean condition) {
        if (!condition) throw new IllegalStateException("the library call failed");
    }

    static double median(double[] values) {
        double[] sorted = values.clone();
        Arrays.sort(sorted);
        return sorted[sorted.length / 2];
    }
}
