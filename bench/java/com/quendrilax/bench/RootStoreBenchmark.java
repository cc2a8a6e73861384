package com.quendrilax.bench;

import com.quendrilax.browser.keystore.provider.QDBrowserProvider;
import java.io.FileInputStream;
import java.nio.file.Path;
import java.security.KeyStore;
import java.security.Security;

/**
 * Loading the roots: KeyStore.load of QDIE-ROOT, which shows the machine's roots (the system's
 * bundle) beneath the user's, against the JDK's own cacerts, interleaved, the median of each.
 * The profile is the caller's; QDIE_SYSTEM_ROOTS, if set, names the bundle.
 */
public final class RootStoreBenchmark {

    private static final int ROUNDS = 201;
    private static final int WARM_UP = 20;

    private RootStoreBenchmark() {}

    public static void main(String[] arguments) throws Exception {
        Security.addProvider(new QDBrowserProvider());
        Path cacerts = Path.of(System.getProperty("java.home"), "lib", "security", "cacerts");
        int[] sizes = new int[2];
        Timing.Operation[] loads = {
            () -> {
                KeyStore roots = KeyStore.getInstance("QDIE-ROOT");
                roots.load(null, null);
                sizes[0] = roots.size();
            },
            () -> {
                KeyStore jdk = KeyStore.getInstance("PKCS12");
                try (FileInputStream in = new FileInputStream(cacerts.toFile())) {
                    jdk.load(in, null);
                }
                sizes[1] = jdk.size();
            },
        };
        double[][] milliseconds = new double[2][ROUNDS];
        for (int round = -WARM_UP; round < ROUNDS; ++round) {
            for (int which = 0; which < loads.length; ++which) {
                double taken = Timing.time(loads[which]) / 1e6;
                if (round >= 0) milliseconds[which][round] = taken;
            }
        }
        Timing.check(sizes[0] > 0 && sizes[1] > 0);
        double qdie = Timing.median(milliseconds[0]);
        double jdk = Timing.median(milliseconds[1]);
        System.out.printf("KeyStore.load, the median of %d each: QDIE-ROOT (%d certificates) %.2f ms,"
                + " the JDK's cacerts (%d) %.2f ms: x%.2f%n", ROUNDS, sizes[0], qdie, sizes[1], jdk,
                qdie / jdk);
    }
}
