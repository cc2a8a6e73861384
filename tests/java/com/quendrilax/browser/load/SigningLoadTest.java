package com.quendrilax.browser.load;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quendrilax.browser.keystore.provider.signature.BrowserSignature;
import com.quendrilax.browser.testing.Digest;
import com.quendrilax.browser.testing.Identity;
import com.quendrilax.browser.testing.TestProfile;
import java.io.IOException;
import java.lang.management.ManagementFactory;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.Signature;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Set;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.stream.Stream;
import javax.management.MalformedObjectNameException;
import javax.management.ObjectName;
import org.junit.jupiter.api.Test;

/**
 * Eight threads sign ten thousand times each over one store, logging on: every signature
 * verifies, the status words only ever hold valid codes, and nothing the natives could leak grows
 * with the number of signings: file descriptors, the JVM's native memory (what JNI allocates for
 * array elements and references is in there), and the process's anonymous memory that the JVM
 * does not account for (the library's, OpenSSL's, SQLite's), with a fixed, pre-touched heap.
 *
 * <p>Growth is measured per signing, not as one difference: the run is cut into rounds of equal
 * length, each followed by a settled measurement (a collection, glibc's free memory handed back
 * to the system), and the slope is the median of the rounds' growth. What the JIT holds (its
 * code, its compilers' arenas, which a pool hands back every few seconds) is left out of the
 * JVM's memory, and what the allocator keeps grows and shrinks in steps, now and then, which
 * move a round or two; a leak moves every round.
 */
class SigningLoadTest {

    private static final int THREADS = 8;
    private static final int ROUNDS = 10;
    private static final int SIGNINGS_PER_THREAD_AND_ROUND = 1_000;
    private static final int SIGNINGS_PER_ROUND = THREADS * SIGNINGS_PER_THREAD_AND_ROUND;
    private static final int WARM_UP = 500;
    private static final Set<Integer> STATUS_CODES =
            Set.of(0, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 14, 15, 22, 23);
    // A quarter of the smallest leak this test is held to find: 256 bytes a signing.
    private static final double MAX_BYTES_PER_SIGNING = 64;
    private static final ObjectName DIAGNOSTICS = diagnosticCommands();

    private static ObjectName diagnosticCommands() {
        try {
            return new ObjectName("com.sun.management:type=DiagnosticCommand");
        } catch (MalformedObjectNameException e) {
            throw new IllegalStateException(e);
        }
    }

    private static long openFileDescriptors() throws IOException {
        try (Stream<Path> entries = Files.list(Path.of("/proc/self/fd"))) {
            return entries.count();
        }
    }

    private static long anonymousMemoryKib() throws IOException {
        for (String line : Files.readAllLines(Path.of("/proc/self/status"))) {
            if (line.startsWith("RssAnon:")) return Long.parseLong(line.replaceAll("\\D", ""));
        }
        throw new IllegalStateException("no RssAnon in /proc/self/status");
    }

    private static String diagnosticCommand(String command, String... arguments) throws Exception {
        return (String) ManagementFactory.getPlatformMBeanServer().invoke(DIAGNOSTICS, command,
                new Object[] {arguments}, new String[] {String[].class.getName()});
    }

    private static final Pattern NMT_TOTAL =
            Pattern.compile("Total: reserved=\\d+KB, committed=(\\d+)KB");
    private static final Pattern NMT_CATEGORY =
            Pattern.compile("-\\s+([A-Za-z ]+?) \\(reserved=\\d+KB, committed=(\\d+)KB");
    /** The JIT's, in Native Memory Tracking's words. */
    private static final Set<String> JIT_CATEGORIES = Set.of("Code", "Compiler", "Arena Chunk");

    /**
     * Once garbage is collected and glibc's arenas are trimmed: file descriptors, the JVM's
     * committed native memory less the JIT's, and anonymous memory less all the JVM commits.
     */
    private static long[] settledMeasurement() throws Exception {
        System.gc();
        Thread.sleep(200);
        diagnosticCommand("systemTrimNativeHeap");
        String summary = diagnosticCommand("vmNativeMemory", "summary");
        long anonymous = anonymousMemoryKib();
        Matcher total = NMT_TOTAL.matcher(summary);
        if (!total.find()) throw new IllegalStateException("no total in: " + summary);
        long committed = Long.parseLong(total.group(1));
        long jit = 0;
        for (Matcher category = NMT_CATEGORY.matcher(summary); category.find(); ) {
            if (JIT_CATEGORIES.contains(category.group(1))) jit += Long.parseLong(category.group(2));
        }
        return new long[] {openFileDescriptors(), committed - jit, anonymous - committed};
    }

    /** Signs `count` times on each of the threads; the number of signatures that verified. */
    private static int signOnThreads(Identity identity, int count) throws Exception {
        ExecutorService pool = Executors.newFixedThreadPool(THREADS);
        try {
            List<Future<Integer>> results = new ArrayList<>();
            for (int thread = 0; thread < THREADS; ++thread) {
                byte[] data = ("thread " + thread).getBytes();
                results.add(pool.submit(() -> {
                    Signature verifier = Signature.getInstance(Digest.SHA256.rsaSignature);
                    int verified = 0;
                    for (int i = 0; i < count; ++i) {
                        byte[] signature = BrowserSignature.sign(Digest.SHA256.algorithmId, "RSA",
                                identity.encoding(), data);
                        int status = BrowserSignature.getLastError();
                        if (!STATUS_CODES.contains(status))
                            throw new IllegalStateException("status word holds " + status);
                        if (signature == null) continue;
                        verifier.initVerify(identity.certificate());
                        verifier.update(data);
                        if (verifier.verify(signature)) ++verified;
                    }
                    return verified;
                }));
            }
            int verified = 0;
            for (Future<Integer> result : results) verified += result.get();
            return verified;
        } finally {
            pool.shutdown();
        }
    }

    /** The median of what one measure grew by from round to round, per signing. */
    private static double medianGrowthPerSigning(long[][] samples, int measure, double unit) {
        double[] growth = new double[samples.length - 1];
        for (int round = 1; round < samples.length; ++round)
            growth[round - 1] = (samples[round][measure] - samples[round - 1][measure]) * unit;
        Arrays.sort(growth);
        int middle = growth.length / 2;
        double median = growth.length % 2 == 1 ? growth[middle]
                : (growth[middle - 1] + growth[middle]) / 2;
        return median / SIGNINGS_PER_ROUND;
    }

    private static String column(long[][] samples, int measure) {
        StringBuilder column = new StringBuilder();
        for (long[] sample : samples) column.append(column.length() == 0 ? "" : " ").append(sample[measure]);
        return column.toString();
    }

    @Test
    void eightThreadsSignTenThousandTimesEachAndNothingGrowsWithTheSignings() throws Exception {
        Identity identity = TestProfile.newIdentity("CN=Load", "--key", "rsa-2048");
        assertEquals(THREADS * WARM_UP, signOnThreads(identity, WARM_UP));
        long[][] samples = new long[ROUNDS + 1][];
        samples[0] = settledMeasurement();
        for (int round = 1; round <= ROUNDS; ++round) {
            assertEquals(SIGNINGS_PER_ROUND, signOnThreads(identity, SIGNINGS_PER_THREAD_AND_ROUND));
            samples[round] = settledMeasurement();
        }
        assertTrue(STATUS_CODES.contains(BrowserSignature.getError())
                || BrowserSignature.getError() == 0);

        double descriptors = medianGrowthPerSigning(samples, 0, 1);
        double jvmBytes = medianGrowthPerSigning(samples, 1, 1024);
        double anonymousBytes = medianGrowthPerSigning(samples, 2, 1024);
        System.out.printf("%d signings in %d rounds: file descriptors %s; JVM native memory less"
                + " the JIT's %s KiB; anonymous memory less the JVM's %s KiB; median growth per"
                + " signing: %.4f descriptors, %.1f bytes JVM native, %.1f bytes outside the"
                + " JVM%n", ROUNDS * SIGNINGS_PER_ROUND, ROUNDS, column(samples, 0),
                column(samples, 1), column(samples, 2), descriptors, jvmBytes, anonymousBytes);
        assertEquals(0, descriptors, 0.0, "file descriptors grow with the signings");
        assertTrue(jvmBytes < MAX_BYTES_PER_SIGNING, "JVM native memory grows with the signings");
        assertTrue(anonymousBytes < MAX_BYTES_PER_SIGNING,
                "memory outside the JVM grows with the signings");
    }
}
