package com.quendrilax.bench;

import com.quendrilax.browser.keystore.provider.QDBrowserProvider;
import com.quendrilax.browser.keystore.provider.signature.BrowserSignature;
import java.io.ByteArrayInputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.KeyStore;
import java.security.PrivateKey;
import java.security.Security;
import java.security.Signature;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.security.interfaces.RSAPublicKey;
import java.util.Arrays;

/**
 * Signing SHA-256 over 1 KiB through the QDIE provider against the natives called directly, with
 * the same key in one run: operation by operation in turn, so that the machine weighs on each
 * alike. The provider is timed twice: with one Signature object reused, and with
 * Signature.getInstance and initSign for every signature, as many applications do. Prints the
 * median time of a signature, which a preempted or collected operation does not move, and what
 * the provider adds.
 * Argument: the certificate's DER, in the profile's "My".
 */
public final class ProviderBenchmark {

    private static final int CALG_SHA_256 = 0x800c;
    private static final int SIGNATURES = 1500;
    private static final int WARM_UP = 300;

    private ProviderBenchmark() {}

    public static void main(String[] arguments) throws Exception {
        byte[] encoding = Files.readAllBytes(Path.of(arguments[0]));
        X509Certificate certificate = (X509Certificate) CertificateFactory.getInstance("X.509")
                .generateCertificate(new ByteArrayInputStream(encoding));
        Security.addProvider(new QDBrowserProvider());
        KeyStore personal = KeyStore.getInstance("QDIE-MY");
        personal.load(null, null);
        PrivateKey key = (PrivateKey) personal.getKey(personal.getCertificateAlias(certificate), null);
        byte[] data = new byte[1024];
        Arrays.fill(data, (byte) 0x42);
        Signature reused = Signature.getInstance("SHA256withRSA");
        reused.initSign(key);

        Timing.Operation[] contenders = {
            () -> check(BrowserSignature.sign(CALG_SHA_256, "RSA", encoding, data)),
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
        };
        for (int warmUp = 0; warmUp < WARM_UP; ++warmUp) {
            for (Timing.Operation contender : contenders) contender.run();
        }
        double[][] microseconds = new double[contenders.length][SIGNATURES];
        for (int i = 0; i < SIGNATURES; ++i) {
            for (int c = 0; c < contenders.length; ++c) {
                long start = System.nanoTime();
                contenders[c].run();
                microseconds[c][i] = (System.nanoTime() - start) / 1e3;
            }
        }
        double natives = Timing.median(microseconds[0]);
        double provider = Timing.median(microseconds[1]);
        double fresh = Timing.median(microseconds[2]);
        System.out.printf("RSA-%d, SHA-256 over 1 KiB, the median of %d signatures each:%n",
                ((RSAPublicKey) certificate.getPublicKey()).getModulus().bitLength(),
                SIGNATURES);
        System.out.printf("  natives directly          %8.1f us%n", natives);
        System.out.printf("  provider, Signature reused %7.1f us  x%.3f  (%+.1f us)%n", provider,
                provider / natives, provider - natives);
        System.out.printf("  provider, getInstance each %7.1f us  x%.3f  (%+.1f us)%n", fresh,
                fresh / natives, fresh - natives);
    }

    private static void check(byte[] signature) {
        if (signature == null) throw new IllegalStateException("a signing failed");
    }
}
