package com.quendrilax.demo;

import com.quendrilax.browser.cipher.RSACipher;
import com.quendrilax.browser.keystore.QDIECAKeyStore;
import com.quendrilax.browser.keystore.provider.QDBrowserProvider;
import com.quendrilax.browser.keystore.provider.signature.BrowserSignature;
import java.io.ByteArrayInputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.Signature;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.security.interfaces.RSAPublicKey;
import java.util.Arrays;
import java.util.concurrent.atomic.AtomicInteger;
import javax.crypto.Cipher;

/**
 * Signs and decrypts with the private key the key store keeps for one certificate, through the
 * QDIEKeystore natives, checks both against the JDK's own cryptography, and lists the personal
 * store. Exits non-zero if any step fails.
 *
 * <p>Usage: {@code KeystoreDemo CERTIFICATE.der} (a certificate of the personal store).
 */
public final class KeystoreDemo {

    private static final int CALG_SHA_256 = 0x800c;
    private static final String PERSONAL_STORE = "My";

    private KeystoreDemo() {}

    public static void main(String[] args) throws Exception {
        if (args.length != 1) {
            System.err.println("usage: KeystoreDemo CERTIFICATE.der");
            System.exit(2);
        }
        byte[] encoding = Files.readAllBytes(Path.of(args[0]));
        X509Certificate certificate = (X509Certificate) CertificateFactory.getInstance("X.509")
                .generateCertificate(new ByteArrayInputStream(encoding));
        AtomicInteger logLines = new AtomicInteger();
        QDBrowserProvider.addLogListener(line -> logLines.incrementAndGet());

        System.out.printf("Certificate: %s (RSA %d-bit), read from %s%n",
                certificate.getSubjectX500Principal().getName(),
                ((RSAPublicKey) certificate.getPublicKey()).getModulus().bitLength(), args[0]);
        boolean ok = sign(certificate, encoding);
        ok &= decrypt(certificate, encoding);
        ok &= list(encoding);
        System.out.printf("The library logged %d lines, each also handed to QDBrowserProvider.logJNI.%n",
                logLines.get());
        System.exit(ok ? 0 : 1);
    }

    private static boolean sign(X509Certificate certificate, byte[] encoding) throws Exception {
        byte[] document = "Purchase order 4711: 12 crates of oranges".getBytes(StandardCharsets.UTF_8);
        byte[] signature = BrowserSignature.sign(CALG_SHA_256, "RSA", encoding, document);
        if (signature == null) return failed("signing", BrowserSignature.getLastError());
        Signature verifier = Signature.getInstance("SHA256withRSA");
        verifier.initVerify(certificate);
        verifier.update(document);
        boolean verified = verifier.verify(signature);
        System.out.printf("Signed %d bytes with SHA-256 in the key store: a %d-byte signature (%s...);"
                + " java.security %s it.%n", document.length, signature.length,
                hex(Arrays.copyOf(signature, 8)), verified ? "verifies" : "REJECTS");
        return verified;
    }

    private static boolean decrypt(X509Certificate certificate, byte[] encoding) throws Exception {
        String secret = "the safe's code is 0815";
        Cipher cipher = Cipher.getInstance("RSA/ECB/PKCS1Padding");
        cipher.init(Cipher.ENCRYPT_MODE, certificate.getPublicKey());
        byte[] cipherText = cipher.doFinal(secret.getBytes(StandardCharsets.UTF_8));
        byte[] plainText = RSACipher.decrypt(encoding, cipherText);
        if (plainText == null) return failed("decryption", BrowserSignature.getLastError());
        String recovered = new String(plainText, StandardCharsets.UTF_8);
        boolean same = recovered.equals(secret);
        System.out.printf("javax.crypto encrypted \"%s\" (RSA/ECB/PKCS1Padding, %d bytes); the key"
                + " store decrypted it to \"%s\": %s.%n", secret, cipherText.length, recovered,
                same ? "the same text" : "A DIFFERENT TEXT");
        return same;
    }

    private static boolean list(byte[] encoding) throws Exception {
        byte[][] certificates = QDIECAKeyStore.getCertificatesInIESystemStore(PERSONAL_STORE);
        System.out.printf("The \"%s\" store holds %d certificate(s), most recently added first:%n",
                PERSONAL_STORE, certificates.length);
        CertificateFactory factory = CertificateFactory.getInstance("X.509");
        boolean found = false;
        for (byte[] listed : certificates) {
            X509Certificate entry = (X509Certificate) factory.generateCertificate(
                    new ByteArrayInputStream(listed));
            boolean ours = Arrays.equals(listed, encoding);
            found |= ours;
            System.out.printf("  %s%s%n", entry.getSubjectX500Principal().getName(),
                    ours ? "   <- the certificate used above" : "");
        }
        if (!found) System.out.println("The certificate used above is NOT listed.");
        return found;
    }

    private static boolean failed(String what, int status) {
        System.out.printf("The %s failed: status %d.%n", what, status);
        return false;
    }

    private static String hex(byte[] bytes) {
        StringBuilder text = new StringBuilder();
        for (byte b : bytes) text.append(String.format("%02x", b));
        return text.toString();
    }
}
