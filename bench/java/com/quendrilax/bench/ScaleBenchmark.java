package com.quendrilax.bench;

import com.quendrilax.browser.keystore.QDIECAKeyStore;
import com.quendrilax.browser.keystore.provider.signature.BrowserSignature;
import java.io.ByteArrayInputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.KeyStore;
import java.security.MessageDigest;
import java.util.HexFormat;

/**
 * The key store at scale, through Java: adding a certificate to "My" and deleting it again,
 * signing with the certificate last in the store right after that deletion and again, the same
 * signing right after another process (qdie-keystore) has changed the store, and listing the
 * store, with stores of 10, 10,000 and 100,000 certificates, each in a profile of its own. Each
 * round makes every operation once at every size, so that whatever else the machine does weighs
 * on all alike; the figures are medians over the rounds. Arguments: a working folder, a PKCS#12
 * file (password "bench") whose identity goes last in each store, a DER certificate to add and
 * delete, another for the other process to add and delete, and qdie-keystore. -Dqdie.bench.rounds sets the rounds (15).
 */
public final class ScaleBenchmark {
    private static final int CALG_SHA_256 = 0x800c;
    private static final String PASSWORD = "bench";
    private static final int[] SIZES = {10, 10_000, 100_000};
    private static final int ROUNDS = Integer.getInteger("qdie.bench.rounds", 15);

    private static final int ADD = 0;
    private static final int DELETE = 1;
    private static final int SIGN_AFTER_OWN_CHANGE = 2;
    private static final int SIGN = 3;
    private static final int SIGN_AFTER_OTHER_CHANGE = 4;
    private static final int LIST = 5;
    private static final String[] OPERATIONS = {"add a certificate", "delete it",
            "signing, right after that", "signing", "signing after another process's change",
            "listing \"My\""};

    private final Path work;
    private final byte[] identity;
    private final byte[] added;
    private final Path changed;
    private final String changedThumbprint;
    private final String tool;
    private final byte[] data = new byte[1024];

    private ScaleBenchmark(String[] arguments) throws Exception {
        work = Path.of(arguments[0]);
        KeyStore pkcs12 = KeyStore.getInstance("PKCS12");
        pkcs12.load(new ByteArrayInputStream(Files.readAllBytes(Path.of(arguments[1]))),
                PASSWORD.toCharArray());
        identity = pkcs12.getCertificate(pkcs12.aliases().nextElement()).getEncoded();
        added = Files.readAllBytes(Path.of(arguments[2]));
        changed = Path.of(arguments[3]);
        changedThumbprint = HexFormat.of().withUpperCase().formatHex(
                MessageDigest.getInstance("SHA-1").digest(Files.readAllBytes(changed)));
        tool = arguments[4];
    }

    public static void main(String[] arguments) throws Exception {
        new ScaleBenchmark(arguments).run(Files.readAllBytes(Path.of(arguments[1])));
    }

    private Path profile(int size) {
        return work.resolve("scale-store" + size);
    }

    private void run(byte[] pkcs12) throws Exception {
        for (int size : SIZES) {
            Files.createDirectories(profile(size));
            BenchSupport.useProfile(profile(size).toString());
            BenchSupport.fillStore("My", size - 1);
            // The identity last: the lookup walks the whole store to find it.
            BenchSupport.importIdentity(pkcs12, PASSWORD);
            Timing.check(
                    sign() && QDIECAKeyStore.getCertificatesInIESystemStore("My").length == size);
        }
        double[][][] nanos = new double[SIZES.length][OPERATIONS.length][ROUNDS];
        boolean[] changedHeld = new boolean[SIZES.length];
        for (int round = 0; round < ROUNDS; ++round) {
            for (int s = 0; s < SIZES.length; ++s) {
                BenchSupport.useProfile(profile(SIZES[s]).toString());
                double[][] times = nanos[s];
                times[ADD][round] = Timing.time(
                        () -> QDIECAKeyStore.addCertificateInIESystemStore("My", added));
                times[DELETE][round] = Timing.time(
                        () -> QDIECAKeyStore.deleteCertificateInIESystemStore("My", added));
                times[SIGN_AFTER_OWN_CHANGE][round] = Timing.time(() -> Timing.check(sign()));
                times[SIGN][round] = Timing.time(() -> Timing.check(sign()));
                // The other process adds the certificate one round and deletes it the next.
                if (changedHeld[s])
                    runTool(SIZES[s], "delete", "--store", "My", "--thumbprint", changedThumbprint);
                else
                    runTool(SIZES[s], "add", "--store", "My", changed.toString());
                changedHeld[s] = !changedHeld[s];
                times[SIGN_AFTER_OTHER_CHANGE][round] = Timing.time(() -> Timing.check(sign()));
                int expected = SIZES[s] + (changedHeld[s] ? 1 : 0);
                times[LIST][round] = Timing.time(() -> Timing.check(
                        QDIECAKeyStore.getCertificatesInIESystemStore("My").length == expected));
            }
        }
        System.out.printf("per operation, medians of %d rounds; x = ratio to the store of %d%n",
                ROUNDS, SIZES[0]);
        for (int op = 0; op < OPERATIONS.length; ++op) {
            StringBuilder line = new StringBuilder(String.format("%-38s", OPERATIONS[op]));
            double smallest = Timing.median(nanos[0][op]);
            for (int s = 0; s < SIZES.length; ++s) {
                double median = Timing.median(nanos[s][op]);
                line.append(String.format(" | %,7d: %9.1f us (x%.2f)", SIZES[s], median / 1e3,
                        median / smallest));
            }
            System.out.println(line);
        }
    }

    private boolean sign() {
        return BrowserSignature.sign(CALG_SHA_256, "RSA", identity, data) != null;
    }

    /** qdie-keystore in the profile of that store. */
    private void runTool(int size, String... arguments) throws Exception {
        String[] command = new String[arguments.length + 1];
        command[0] = tool;
        System.arraycopy(arguments, 0, command, 1, arguments.length);
        ProcessBuilder builder = new ProcessBuilder(command).redirectErrorStream(true);
        builder.environment().put("userprofile", profile(size).toString());
        builder.environment().remove("XDG_DATA_HOME");
        Process process = builder.start();
        String output = new String(process.getInputStream().readAllBytes());
        if (process.waitFor() != 0) throw new IllegalStateException("qdie-keystore: " + output);
    }

}
