package com.quendrilax.browser.load;

import com.quendrilax.browser.keystore.provider.signature.BrowserSignature;
import com.quendrilax.browser.testing.Digest;
import java.io.ByteArrayInputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.Signature;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.util.List;
import java.util.Random;
import java.util.concurrent.atomic.AtomicLongArray;
import java.util.stream.Collectors;
import java.util.stream.Stream;

/**
 * A JVM of its own that signs while other processes change the key store, for
 * {@link SharedKeyStoreTest}. Two threads sign over and over, each time with the identity that is
 * never deleted and with one the test has created (its certificate in created/NAME once
 * qdie-keystore has made it) and perhaps deleted since (deleting/NAME before qdie-keystore starts
 * deleting it, deleted/NAME once it has). Whatever was in the key store before a signing started
 * and stayed until it ended must sign; whatever had left it must not. Stops when the file "stop"
 * appears; prints its tallies on one line.
 * Arguments: the working folder.
 */
public final class SharedKeyStoreSigner {

    static final String TALLIES = "signings %d, stable failed %d, created signed %d, created failed %d, "
            + "deleted refused %d, deleted signed %d%n";
    private static final int THREADS = 2;
    private static final int SIGNINGS = 0;
    private static final int STABLE_FAILED = 1;
    private static final int CREATED_SIGNED = 2;
    private static final int CREATED_FAILED = 3;
    private static final int DELETED_REFUSED = 4;
    private static final int DELETED_SIGNED = 5;

    private final Path work;
    private final AtomicLongArray tallies = new AtomicLongArray(6);

    private SharedKeyStoreSigner(Path work) {
        this.work = work;
    }

    public static void main(String[] arguments) throws Exception {
        SharedKeyStoreSigner signer = new SharedKeyStoreSigner(Path.of(arguments[0]));
        Thread[] threads = new Thread[THREADS];
        Throwable[] failures = new Throwable[THREADS];
        for (int i = 0; i < THREADS; ++i) {
            int index = i;
            threads[i] = new Thread(() -> {
                try {
                    signer.signUntilStopped(new Random(index));
                } catch (Throwable failure) {
                    failures[index] = failure;
                }
            });
            threads[i].start();
        }
        for (Thread thread : threads) thread.join();
        for (Throwable failure : failures) {
            if (failure != null) throw new IllegalStateException(failure);
        }
        AtomicLongArray t = signer.tallies;
        System.out.printf(TALLIES, t.get(SIGNINGS), t.get(STABLE_FAILED), t.get(CREATED_SIGNED),
                t.get(CREATED_FAILED), t.get(DELETED_REFUSED), t.get(DELETED_SIGNED));
    }

    private void signUntilStopped(Random random) throws Exception {
        X509Certificate stable = certificate(work.resolve("stable.der"));
        byte[] data = "shared".getBytes();
        while (!Files.exists(work.resolve("stop"))) {
            if (!signs(stable, data)) tallies.incrementAndGet(STABLE_FAILED);
            List<Path> created = createdCertificates();
            if (created.isEmpty()) continue;
            Path chosen = created.get(random.nextInt(created.size()));
            String name = chosen.getFileName().toString();
            X509Certificate certificate = certificate(chosen);
            boolean goneBefore = Files.exists(work.resolve("deleted").resolve(name));
            boolean signed = signs(certificate, data);
            boolean leavingAfter = Files.exists(work.resolve("deleting").resolve(name));
            if (goneBefore)
                tallies.incrementAndGet(signed ? DELETED_SIGNED : DELETED_REFUSED);
            else if (!leavingAfter)
                tallies.incrementAndGet(signed ? CREATED_SIGNED : CREATED_FAILED);
        }
    }

    private List<Path> createdCertificates() throws Exception {
        try (Stream<Path> files = Files.list(work.resolve("created"))) {
            return files.collect(Collectors.toList());
        }
    }

    /** Signs through the natives; true for a signature that verifies. */
    private boolean signs(X509Certificate certificate, byte[] data) throws Exception {
        tallies.incrementAndGet(SIGNINGS);
        byte[] signature = BrowserSignature.sign(Digest.SHA256.algorithmId, "RSA",
                certificate.getEncoded(), data);
        if (signature == null) return false;
        Signature verifier = Signature.getInstance(Digest.SHA256.rsaSignature);
        verifier.initVerify(certificate);
        verifier.update(data);
        return verifier.verify(signature);
    }

    private static X509Certificate certificate(Path file) throws Exception {
        return (X509Certificate) CertificateFactory.getInstance("X.509")
                .generateCertificate(new ByteArrayInputStream(Files.readAllBytes(file)));
    }
}
