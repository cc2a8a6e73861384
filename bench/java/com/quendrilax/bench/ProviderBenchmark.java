package com.quendrilax.bench;

import com.quendrilax.browser.cipher.RSACipher;
import com.quendrilax.browser.keystore.provider.QDBrowserProvider;
import com.quendrilax.browser.keystore.provider.signature.BrowserSignature;
import java.io.ByteArrayInputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.KeyStore;
import java.security.PrivateKey;
import java.security.Security;
import java.security.Signature;
import java.security.cert.X509Certificate;
import java.security.interfaces.RSAPublicKey;
import java.security.spec.MGF1ParameterSpec;
import java.security.spec.PSSParameterSpec;
import java.util.Arrays;
import java.util.function.Consumer;
import javax.crypto.Cipher;

/**
 * Signing (SHA-256 over 1 KiB) and decryption (PKCS #1 v1.5) through the QDIE provider, whose
 * natives return their own outcome, against the ten natives called directly and against the
 * floor of what the behaviour requires, with the same key in one run: operation by operation in
 * turn, so that the machine weighs on each alike. The provider is timed twice for signing: with
 * one Signature object reused, and with Signature.getInstance and initSign for every signature,
 * as many applications do; RSASSA-PSS with TLS 1.3's parameters through the provider against
 * the JDK's own SunRsaSign and OpenSSL alone with the same key; and ECDSA P-256 with an EC key of
 * the key storage provider against SunEC and OpenSSL alone with the same key. Prints the median
 * time of each, which a preempted or collected operation does not move, with its ratios to the
 * natives and to the floor.
 * Arguments: the PKCS#12 file (password "bench") of the identity in the profile's "My", and that
 * of an EC P-256 key, which is imported into the profile's key storage provider here.
 */
public final class ProviderBenchmark {

    private static final int CALG_SHA_256 = 0x800c;
    private static final String PASSWORD = "bench";
    private static final int OPERATIONS = 1500;
    private static final int WARM_UP = 300;

    private ProviderBenchmark() {}

    public static void main(String[] arguments) throws Exception {
        KeyStore pkcs12 = KeyStore.getInstance("PKCS12");
        pkcs12.load(new ByteArrayInputStream(Files.readAllBytes(Path.of(arguments[0]))),
                PASSWORD.toCharArray());
        String name = pkcs12.aliases().nextElement();
        X509Certificate certificate = (X509Certificate) pkcs12.getCertificate(name);
        byte[] encoding = certificate.getEncoded();
        long openssl = BenchSupport.loadKey(pkcs12.getKey(name, PASSWORD.toCharArray()).getEncoded());
        long floorStore = BenchSupport.loadFloorStore();

        KeyStore ecPkcs12 = KeyStore.getInstance("PKCS12");
        byte[] ecFile = Files.readAllBytes(Path.of(arguments[1]));
        ecPkcs12.load(new ByteArrayInputStream(ecFile), PASSWORD.toCharArray());
        String ecName = ecPkcs12.aliases().nextElement();
        X509Certificate ecCertificate = (X509Certificate) ecPkcs12.getCertificate(ecName);
        PrivateKey ecSoftware = (PrivateKey) ecPkcs12.getKey(ecName, PASSWORD.toCharArray());
        long opensslEc = BenchSupport.loadKey(ecSoftware.getEncoded());
        BenchSupport.importIdentity(ecFile, PASSWORD);

        Security.addProvider(new QDBrowserProvider());
        KeyStore personal = KeyStore.getInstance("QDIE-MY");
        personal.load(null, null);
        PrivateKey key = (PrivateKey) personal.getKey(personal.getCertificateAlias(certificate), null);
        byte[] data = new byte[1024];
        Arrays.fill(data, (byte) 0x42);
        CipherTextRotation cipherTexts = CipherTextRotation.of("RSA/ECB/PKCS1Padding",
                certificate.getPublicKey(), Arrays.copyOf(data, 32));
        CipherTextRotation nativesCipherTexts = cipherTexts.copy();
        CipherTextRotation floorCipherTexts = cipherTexts.copy();
        byte[] cipherText = cipherTexts.next();
        int signingLines = linesOf(() -> BrowserSignature.sign(CALG_SHA_256, "RSA", encoding, data));
        int decryptionLines = linesOf(() -> RSACipher.decrypt(encoding, cipherText));

        Signature reused = Signature.getInstance("SHA256withRSA");
        reused.initSign(key);
        PSSParameterSpec tls13 = new PSSParameterSpec("SHA-256", "MGF1", MGF1ParameterSpec.SHA256,
                32, PSSParameterSpec.TRAILER_FIELD_BC);
        Signature pss = Signature.getInstance("RSASSA-PSS");
        pss.initSign(key);
        pss.setParameter(tls13);
        Signature jdkPss = Signature.getInstance("RSASSA-PSS", "SunRsaSign");
        jdkPss.initSign((PrivateKey) pkcs12.getKey(name, PASSWORD.toCharArray()));
        jdkPss.setParameter(tls13);
        Cipher decrypt = Cipher.getInstance("RSA/ECB/PKCS1Padding");
        decrypt.init(Cipher.DECRYPT_MODE, key);
        Signature ecdsa = Signature.getInstance("SHA256withECDSA");
        ecdsa.initSign((PrivateKey) personal.getKey(personal.getCertificateAlias(ecCertificate), null));
        Signature jdkEcdsa = Signature.getInstance("SHA256withECDSA", "SunEC");
        jdkEcdsa.initSign(ecSoftware);
        String[] labels = {"signing: natives directly", "signing: floor",
            "signing: provider, Signature reused", "signing: provider, getInstance each",
            "decryption: natives directly", "decryption: floor", "decryption: provider",
            "RSASSA-PSS (SHA-256): provider", "RSASSA-PSS (SHA-256): SunRsaSign",
            "RSASSA-PSS (SHA-256): OpenSSL alone", "ECDSA P-256 (SHA-256): provider",
            "ECDSA P-256 (SHA-256): SunEC", "ECDSA P-256 (SHA-256): OpenSSL alone"};
        Timing.Operation[] contenders = {
            () -> check(BrowserSignature.sign(CALG_SHA_256, "RSA", encoding, data)),
            () -> check(BenchSupport.floorSign(openssl, floorStore, encoding, data, signingLines)),
            () -> {
                reused.update(data);
                check(reused.sign());
            },
            () -> {
                Signature fresh = Signature.getInstance("SHA256withRSA");
                fresh.initSign(key);
                fresh.update(data);
                check(fresh.sign());
            },
            () -> check(RSACipher.decrypt(encoding, nativesCipherTexts.next())),
            () -> check(BenchSupport.floorDecrypt(openssl, floorStore, encoding,
                    floorCipherTexts.next(), decryptionLines)),
            () -> check(decrypt.doFinal(cipherTexts.next())),
            () -> {
                pss.update(data);
                check(pss.sign());
            },
            () -> {
                jdkPss.update(data);
                check(jdkPss.sign());
            },
            () -> BenchSupport.opensslSign(openssl, "SHA256", data, true, 1),
            () -> {
                ecdsa.update(data);
                check(ecdsa.sign());
            },
            () -> {
                jdkEcdsa.update(data);
                check(jdkEcdsa.sign());
            },
            () -> BenchSupport.opensslSign(opensslEc, "SHA256", data, false, 1),
        };
        for (int warmUp = 0; warmUp < WARM_UP; ++warmUp) {
            for (Timing.Operation contender : contenders) contender.run();
        }
        double[][] microseconds = new double[contenders.length][OPERATIONS];
        for (int i = 0; i < OPERATIONS; ++i) {
            for (int c = 0; c < contenders.length; ++c)
                microseconds[c][i] = Timing.time(contenders[c]) / 1e3;
        }
        System.out.printf("RSA-%d, the median of %d operations each:%n",
                ((RSAPublicKey) certificate.getPublicKey()).getModulus().bitLength(), OPERATIONS);
        for (int c = 0; c < contenders.length; ++c) {
            boolean decryption = c >= 4 && c < 7;
            double median = Timing.median(microseconds[c]);
            double natives = Timing.median(microseconds[decryption ? 4 : 0]);
            double floor = Timing.median(microseconds[decryption ? 5 : 1]);
            System.out.printf("  %-38s %8.1f us  x%.3f the natives  x%.3f the floor", labels[c],
                    median, median / natives, median / floor);
            if (c == 7 || c == 10)
                System.out.printf("  x%.3f %s  x%.3f OpenSSL alone",
                        median / Timing.median(microseconds[c + 1]), c == 7 ? "SunRsaSign" : "SunEC",
                        median / Timing.median(microseconds[c + 2]));
            System.out.println();
        }
        BenchSupport.freeFloorStore(floorStore);
        BenchSupport.freeKey(openssl);
        BenchSupport.freeKey(opensslEc);
    }

    // The lines one call logs, as Java receives them with the log folder present; the floor makes
    // as many failed opens with it absent, as the library does.
    private static int linesOf(Timing.Operation call) throws Exception {
        Path logFolder = Path.of(System.getenv("userprofile"), ".quendrilax");
        int[] lines = {0};
        Consumer<String> counter = line -> ++lines[0];
        Files.createDirectories(logFolder);
        QDBrowserProvider.addLogListener(counter);
        try {
            call.run();
        } finally {
            QDBrowserProvider.removeLogListener(counter);
        }
        Files.delete(logFolder.resolve("jni.log"));
        Files.delete(logFolder);
        return lines[0];
    }

    private static void check(byte[] result) {
        if (result == null) throw new IllegalStateException("an operation failed");
    }
}
