package com.quendrilax.browser.load;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quendrilax.browser.keystore.provider.QDBrowserProvider;
import com.quendrilax.browser.testing.TestProfile;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.security.MessageDigest;
import java.util.ArrayList;
import java.util.HexFormat;
import java.util.List;
import java.util.Set;
import java.util.TreeSet;
import java.util.concurrent.ConcurrentLinkedQueue;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.junit.jupiter.api.Test;

/**
 * Several processes on one key store: two JVMs sign ({@link SharedKeyStoreSigner}) while
 * qdie-keystore processes create identities, delete some of them, and add and delete
 * certificates of another store, one after the other in two lines at once; halfway the key store
 * is put in WAL mode by hand. No signing that should succeed fails, none that should fail
 * succeeds, no qdie-keystore run fails (a busy database would fail it), no change is lost, and
 * the file passes SQLite's integrity check.
 */
class SharedKeyStoreTest {

    private static final long ACTIVE_MILLIS = 15_000;
    private static final int SIGNER_JVMS = 2;
    private static final Pattern TALLIES = Pattern.compile("signings (\\d+), stable failed (\\d+), "
            + "created signed (\\d+), created failed (\\d+), deleted refused (\\d+), "
            + "deleted signed (\\d+)");

    private final ConcurrentLinkedQueue<String> toolFailures = new ConcurrentLinkedQueue<>();
    private final AtomicInteger toolRuns = new AtomicInteger();

    @Test
    void signersAndToolsShareTheKeyStore() throws Exception {
        Path work = Files.createDirectories(TestProfile.folder().resolve("shared"));
        Files.createDirectories(work.resolve("created"));
        Files.createDirectories(work.resolve("deleting"));
        Files.createDirectories(work.resolve("deleted"));
        Path stable = work.resolve("stable.der");
        Files.write(stable, TestProfile.newIdentity("CN=Stable", "--key", "rsa-1024").encoding());

        List<Process> signers = new ArrayList<>();
        for (int i = 0; i < SIGNER_JVMS; ++i) signers.add(startSigner(work));
        Set<String> my = new TreeSet<>(Set.of(thumbprint(stable)));
        Set<String> ca = new TreeSet<>();
        long end = System.currentTimeMillis() + ACTIVE_MILLIS;
        Thread identities = new Thread(() -> changeIdentities(work, end, my));
        Thread certificates = new Thread(() -> changeCertificates(work, end, ca));
        identities.start();
        certificates.start();
        Thread.sleep(ACTIVE_MILLIS / 2);
        putInWalMode();
        identities.join();
        certificates.join();
        Files.createFile(work.resolve("stop"));

        long[] tallies = new long[6];
        for (Process signer : signers) {
            // Printed whole, so that a JNI warning of a signer fails the test as this JVM's would.
            String output = new String(signer.getInputStream().readAllBytes());
            System.out.print(output);
            assertTrue(signer.waitFor(60, TimeUnit.SECONDS), "a signer did not stop");
            assertEquals(0, signer.exitValue(), output);
            Matcher matcher = TALLIES.matcher(output);
            assertTrue(matcher.find(), output);
            for (int i = 0; i < tallies.length; ++i) tallies[i] += Long.parseLong(matcher.group(i + 1));
        }
        System.out.printf("%d qdie-keystore runs beside %d JVMs: " + SharedKeyStoreSigner.TALLIES,
                toolRuns.get(), SIGNER_JVMS, tallies[0], tallies[1], tallies[2], tallies[3],
                tallies[4], tallies[5]);
        assertEquals(List.of(), List.copyOf(toolFailures));
        assertEquals(0, tallies[1], "the identity never deleted failed to sign");
        assertEquals(0, tallies[3], "an identity qdie-keystore had made failed to sign");
        assertEquals(0, tallies[5], "an identity qdie-keystore had deleted still signed");
        assertTrue(tallies[2] > 0 && tallies[4] > 0, "the signers met too few changes");
        assertEquals(my, listed("My"));
        assertEquals(ca, listed("CA"));
        assertEquals("ok", TestProfile.run("sqlite3", keystore().toString(),
                "PRAGMA integrity_check").strip());
    }

    /**
     * As a user would with the sqlite3 shell, again while it finds the file busy: SQLite gives up
     * at once, without waiting, where waiting could deadlock with a writer.
     */
    private static void putInWalMode() throws Exception {
        for (int attempt = 1;; ++attempt) {
            try {
                TestProfile.run("sqlite3", "-cmd", ".timeout 10000", keystore().toString(),
                        "PRAGMA journal_mode = WAL");
                return;
            } catch (IOException busy) {
                if (attempt == 100) throw busy;
                Thread.sleep(20);
            }
        }
    }

    private static Path keystore() {
        return TestProfile.folder().resolve(".local/share/qdie-keystore/keystore.db");
    }

    /** A signer in a JVM of its own, with this JVM's library path and the two jars it needs. */
    private static Process startSigner(Path work) throws Exception {
        String classPath = Path.of(SharedKeyStoreSigner.class.getProtectionDomain().getCodeSource()
                .getLocation().toURI()) + ":" + Path.of(QDBrowserProvider.class.getProtectionDomain()
                .getCodeSource().getLocation().toURI());
        String java = Path.of(System.getProperty("java.home"), "bin", "java").toString();
        return new ProcessBuilder(java, "-Xcheck:jni",
                "-Djava.library.path=" + System.getProperty("java.library.path"),
                "-cp", classPath, SharedKeyStoreSigner.class.getName(), work.toString())
                .redirectErrorStream(true).start();
    }

    /** One line of qdie-keystore runs: new identities, every third run deleting an earlier one. */
    private void changeIdentities(Path work, long end, Set<String> my) {
        List<Path> live = new ArrayList<>();
        for (int k = 0; System.currentTimeMillis() < end; ++k) {
            Path made = work.resolve("made" + k + ".der");
            if (!tool("new-identity", "--subject", "CN=Shared " + k, "--key", "rsa-1024",
                    "--out", made.toString()))
                continue;
            Path created = work.resolve("created").resolve("identity" + k);
            move(made, created);
            my.add(thumbprint(created));
            live.add(created);
            if (k % 3 != 2) continue;
            Path gone = live.remove(k % live.size());
            String name = gone.getFileName().toString();
            touch(work.resolve("deleting").resolve(name));
            if (tool("delete", "--store", "My", "--thumbprint", thumbprint(gone))) {
                my.remove(thumbprint(gone));
                touch(work.resolve("deleted").resolve(name));
            }
        }
    }

    /** The other line: the identities' certificates added to "CA", half of them deleted again. */
    private void changeCertificates(Path work, long end, Set<String> ca) {
        for (int round = 0; System.currentTimeMillis() < end; ++round) {
            List<Path> created = list(work.resolve("created"));
            if (created.isEmpty()) {
                pause();
                continue;
            }
            Path chosen = created.get(round % created.size());
            String thumbprint = thumbprint(chosen);
            boolean delete = ca.contains(thumbprint) && round % 2 == 0;
            if (delete && tool("delete", "--store", "CA", "--thumbprint", thumbprint))
                ca.remove(thumbprint);
            if (!delete && tool("add", "--store", "CA", chosen.toString())) ca.add(thumbprint);
        }
    }

    /** Runs qdie-keystore; a failure is noted, with what it said, and gives false. */
    private boolean tool(String... arguments) {
        toolRuns.incrementAndGet();
        try {
            TestProfile.runTool(arguments);
            return true;
        } catch (IOException failure) {
            toolFailures.add(failure.getMessage());
            return false;
        }
    }

    private static Set<String> listed(String store) throws IOException {
        Set<String> thumbprints = new TreeSet<>();
        for (String line : TestProfile.runTool("list", "--store", store).split("\n")) {
            if (!line.isBlank()) thumbprints.add(line.split(" ")[0]);
        }
        return thumbprints;
    }

    private static String thumbprint(Path certificate) {
        try {
            return HexFormat.of().withUpperCase().formatHex(
                    MessageDigest.getInstance("SHA-1").digest(Files.readAllBytes(certificate)));
        } catch (Exception e) {
            throw new IllegalStateException(e);
        }
    }

    private static List<Path> list(Path folder) {
        try (var files = Files.list(folder)) {
            return files.sorted().toList();
        } catch (IOException e) {
            throw new IllegalStateException(e);
        }
    }

    private static void pause() {
        try {
            Thread.sleep(10);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    private static void move(Path from, Path to) {
        try {
            Files.move(from, to, StandardCopyOption.ATOMIC_MOVE);
        } catch (IOException e) {
            throw new IllegalStateException(e);
        }
    }

    private static void touch(Path file) {
        try {
            Files.createFile(file);
        } catch (IOException e) {
            throw new IllegalStateException(e);
        }
    }
}
