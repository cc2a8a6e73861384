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
import java.util.List;
import java.util.Set;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.stream.Stream;
import javax.management.ObjectName;
import org.junit.jupiter.api.Test;

/**
 * Eight threads sign ten thousand times each over one store, logging on: every signature
 * verifies, the status words only ever hold valid codes, and file descriptors and native memory
 * (the JVM's own, and the process's anonymous memory, with a fixed, pre-touched heap) come back
 * to where they were after a warm-up.
 */
class SigningLoadTest {

    private static final int THREADS = 8;
    private static final int SIGNINGS = 10_000;
    private static final int WARM_UP = 500;
    private static final Set<Integer> STATUS_CODES =
            Set.of(0, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 14, 15, 22, 23);
    // Room for the JIT's code and the allocators' caches; a leak of a few dozen bytes per
    // signing would be several times this.
    private static final long MEMORY_SLACK_KIB = 8 * 1024;

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

    /** The JVM's committed native memory, from Native Memory Tracking. */
    private static long jvmCommittedKib() throws Exception {
        String summary = (String) ManagementFactory.getPlatformMBeanServer().invoke(
                new ObjectName("com.sun.management:type=DiagnosticCommand"), "vmNativeMemory",
                new Object[] {new String[] {"summary"}}, new String[] {String[].class.getName()});
        Matcher total = Pattern.compile("Total: reserved=\\d+KB, committed=(\\d+)KB").matcher(summary);
        if (!total.find()) throw new IllegalStateException("no total in: " + summary);
        return Long.parseLong(total.group(1));
    }

    private static void settle() throws InterruptedException {
        System.gc();
        Thread.sleep(200);
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

    @Test
    void eightThreadsSignTenThousandTimesEachAndGiveEverythingBack() throws Exception {
        Identity identity = TestProfile.newIdentity("CN=Load", "--key", "rsa-2048");
        assertEquals(THREADS * WARM_UP, signOnThreads(identity, WARM_UP));
        settle();
        long descriptors = openFileDescriptors();
        long jvmMemory = jvmCommittedKib();
        long anonymousMemory = anonymousMemoryKib();

        assertEquals(THREADS * SIGNINGS, signOnThreads(identity, SIGNINGS));
        assertTrue(STATUS_CODES.contains(BrowserSignature.getError())
                || BrowserSignature.getError() == 0);
        settle();

        long descriptorsAfter = openFileDescriptors();
        long jvmMemoryAfter = jvmCommittedKib();
        long anonymousMemoryAfter = anonymousMemoryKib();
        System.out.printf("%d signings: file descriptors %d -> %d, JVM native memory %d -> %d KiB, "
                + "anonymous memory %d -> %d KiB%n", THREADS * SIGNINGS, descriptors,
                descriptorsAfter, jvmMemory, jvmMemoryAfter, anonymousMemory, anonymousMemoryAfter);
        assertEquals(descriptors, descriptorsAfter);
        assertTrue(jvmMemoryAfter - jvmMemory < MEMORY_SLACK_KIB);
        assertTrue(anonymousMemoryAfter - anonymousMemory < MEMORY_SLACK_KIB);
    }
}
