package com.quendrilax.bench;

import com.quendrilax.browser.cipher.RSACipher;
import com.quendrilax.browser.keystore.QDIECAKeyStore;
import com.quendrilax.browser.keystore.provider.QDBrowserProvider;
import com.quendrilax.browser.keystore.provider.signature.BrowserSignature;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.PrivateKey;
import java.security.SecureRandom;
import java.security.Signature;
import java.security.cert.X509Certificate;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Comparator;
import java.util.List;
import java.util.function.Consumer;
import java.util.function.LongSupplier;
import javax.crypto.Cipher;

/**
 * Times signing and decryption through Java, JNI, the library and the software CryptoAPI against
 * OpenSSL alone and against Java's own provider, with the same key, side by side in one run:
 * each round runs its operations one of each kind after the other, so that whatever else the
 * machine does weighs on all three alike, and the figures are medians over the rounds of the
 * times and of their ratios. Arguments: a working folder and PKCS#12 files (password "bench").
 */
public final class KeystoreBenchmark {
    private static final int CALG_SHA_256 = 0x800c;
    private static final int ROUNDS = 15;
    private static final int[] STORE_SIZES = {10, 1000, 10000};

    private final Path work;
    private final byte[] data = new byte[1024];

    private KeystoreBenchmark(Path work) {
        this.work = work;
        new SecureRandom().nextBytes(data);
    }

    public static void main(String[] arguments) throws Exception {
        KeystoreBenchmark benchmark = new KeystoreBenchmark(Path.of(arguments[0]));
        System.out.printf("per operation, medians of %d rounds; x = ratio to OpenSSL alone%n", ROUNDS);
        for (int i = 1; i < arguments.length; ++i) benchmark.run(Path.of(arguments[i]));
    }

    private void run(Path pkcs12File) throws Exception {
        Pkcs12Identity identity = Pkcs12Identity.read(pkcs12File);
        PrivateKey key = identity.software();
        Key k = new Key(key, identity.certificate(), identity.openssl(),
                identity.certificate().getEncoded());
        int bits = ((java.security.interfaces.RSAKey) key).getModulus().bitLength();
        for (int size : STORE_SIZES) {
            Path profile = Files.createDirectories(work.resolve("rsa" + bits + "-store" + size));
            BenchSupport.useProfile(profile.toString());
            BenchSupport.fillStore("My", size - 1);
            // The identity last: the lookup walks the whole store to find it.
            BenchSupport.importIdentity(identity.pkcs12(), Pkcs12Identity.PASSWORD);
            Path logFolder = profile.resolve(".quendrilax");
            long floorStore = BenchSupport.loadFloorStore();
            Floor floor = new Floor(floorStore, linesOf(k, logFolder, false),
                    linesOf(k, logFolder, true));
            for (boolean logging : new boolean[] {false, true}) {
                if (logging) Files.createDirectories(logFolder);
                String label = String.format("RSA-%d, store of %5d, logging %-3s", bits, size,
                        logging ? "on" : "off");
                measureSigning(label, k, floor);
                measureDecryption(label, k, floor, false);
                measureDecryption(label, k, floor, true);
            }
            BenchSupport.freeFloorStore(floorStore);
            measureListing(bits, size);
        }
        BenchSupport.freeKey(k.openssl());
    }

    private record Key(PrivateKey privateKey, X509Certificate certificate, long openssl,
            byte[] encoding) {}

    /** What the floor contender needs: its store, and how many lines each call logs. */
    private record Floor(long store, int signingLines, int decryptionLines) {}

    // The lines the library logs for one call, counted as Java receives them with the log folder
    // present; with it absent the library makes as many failed opens. The folder goes again.
    private int linesOf(Key key, Path logFolder, boolean decryption) throws Exception {
        int[] lines = {0};
        Consumer<String> counter = line -> ++lines[0];
        Files.createDirectories(logFolder);
        QDBrowserProvider.addLogListener(counter);
        try {
            if (decryption) {
                byte[] cipherText = cipherText(key, "RSA/ECB/PKCS1Padding", false);
                Timing.check(RSACipher.decrypt(key.encoding(), cipherText) != null);
            } else {
                Timing.check(
                        BrowserSignature.sign(CALG_SHA_256, "RSA", key.encoding(), data) != null);
            }
        } finally {
            QDBrowserProvider.removeLogListener(counter);
        }
        Files.delete(logFolder.resolve("jni.log"));
        Files.delete(logFolder);
        return lines[0];
    }

    private void measureSigning(String label, Key key, Floor floor) throws Exception {
        Signature java = Signature.getInstance("SHA256withRSA");
        int batch = batchFor(key);
        report(label + ", signing           ", batch,
                () -> Timing.time(() -> Timing.check(
                        BrowserSignature.sign(CALG_SHA_256, "RSA", key.encoding(), data) != null)),
                () -> Timing.time(() -> Timing.check(BenchSupport.floorSign(key.openssl(),
                        floor.store(), key.encoding(), data, floor.signingLines()) != null)),
                () -> Timing.time(() -> {
                    java.initSign(key.privateKey());
                    java.update(data);
                    java.sign();
                }),
                () -> BenchSupport.opensslSign(key.openssl(), "SHA256", data, false, 1));
    }

    private void measureDecryption(String label, Key key, Floor floor, boolean oaep)
            throws Exception {
        String transformation =
                oaep ? "RSA/ECB/OAEPWithSHA-1AndMGF1Padding" : "RSA/ECB/PKCS1Padding";
        byte[] cipherText = cipherText(key, transformation, oaep);
        Cipher java = Cipher.getInstance(transformation);
        int batch = batchFor(key);
        report(label + (oaep ? ", decryption OAEP   " : ", decryption PKCS#1 "), batch,
                () -> Timing.time(() -> Timing.check(
                        RSACipher.decrypt(key.encoding(), cipherText) != null)),
                () -> Timing.time(() -> Timing.check(BenchSupport.floorDecrypt(key.openssl(),
                        floor.store(), key.encoding(), cipherText, floor.decryptionLines())
                        != null)),
                () -> Timing.time(() -> {
                    java.init(Cipher.DECRYPT_MODE, key.privateKey());
                    java.doFinal(cipherText);
                }),
                () -> BenchSupport.opensslDecrypt(key.openssl(), cipherText, oaep, 1));
    }

    // A ciphertext the library decrypts as the mode says: an OAEP one that PKCS #1 v1.5 refuses,
    // so that the library's OAEP path is the one timed.
    private byte[] cipherText(Key key, String transformation, boolean oaep) throws Exception {
        Cipher encrypt = Cipher.getInstance(transformation);
        Cipher pkcs1 = Cipher.getInstance("RSA/ECB/NoPadding");
        pkcs1.init(Cipher.DECRYPT_MODE, key.privateKey());
        for (;;) {
            encrypt.init(Cipher.ENCRYPT_MODE, key.certificate().getPublicKey());
            byte[] cipherText = encrypt.doFinal(Arrays.copyOf(data, 32));
            byte[] block = pkcs1.doFinal(cipherText);
            // A raw block that does not start 00 02 cannot pass as PKCS #1 v1.5.
            boolean pkcs1Shaped = block[0] == 0 && block[1] == 2;
            if (!oaep || !pkcs1Shaped) return cipherText;
        }
    }

    private void measureListing(int bits, int size) {
        long[] nanos = new long[ROUNDS];
        for (int round = 0; round < ROUNDS; ++round) {
            long start = System.nanoTime();
            byte[][] listed = QDIECAKeyStore.getCertificatesInIESystemStore("My");
            nanos[round] = System.nanoTime() - start;
            Timing.check(listed.length == size);
        }
        Arrays.sort(nanos);
        System.out.printf("RSA-%d, store of %5d, listing \"My\" from Java: %8.2f ms%n", bits, size,
                nanos[ROUNDS / 2] / 1e6);
    }

    private static int batchFor(Key key) {
        return ((java.security.interfaces.RSAKey) key.privateKey()).getModulus().bitLength() > 2048
                ? 10 : 25;
    }

    // Each supplier times one operation; a round interleaves `batch` of each.
    private static void report(String label, int batch, LongSupplier library, LongSupplier floor,
            LongSupplier java, LongSupplier openssl) {
        List<double[]> rounds = new ArrayList<>();
        for (int round = 0; round < ROUNDS; ++round) {
            double lib = 0;
            double low = 0;
            double own = 0;
            double ssl = 0;
            for (int i = 0; i < batch; ++i) {
                lib += library.getAsLong();
                low += floor.getAsLong();
                own += java.getAsLong();
                ssl += openssl.getAsLong();
            }
            rounds.add(new double[] {lib / batch, low / batch, own / batch, ssl / batch,
                    lib / ssl, lib / low, low / ssl, own / ssl});
        }
        System.out.printf("%s library %7.1f us (x%.3f, floor x%.3f) | floor %7.1f us (x%.3f) | "
                + "Java %7.1f us (x%.3f) | OpenSSL %7.1f us%n",
                label, median(rounds, 0) / 1e3, median(rounds, 4), median(rounds, 5),
                median(rounds, 1) / 1e3, median(rounds, 6), median(rounds, 2) / 1e3,
                median(rounds, 7), median(rounds, 3) / 1e3);
    }

    private static double median(List<double[]> rounds, int column) {
        return Timing.median(rounds.stream().mapToDouble(r -> r[column]).toArray());
    }
}
