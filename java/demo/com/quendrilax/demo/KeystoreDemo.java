package com.quendrilax.demo;

import com.quendrilax.browser.keystore.provider.QDBrowserProvider;
import java.io.ByteArrayInputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.KeyStore;
import java.security.PrivateKey;
import java.security.Security;
import java.security.Signature;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.security.interfaces.RSAPublicKey;
import java.util.Collections;
import java.util.concurrent.atomic.AtomicInteger;
import javax.crypto.Cipher;

/**
 * Signs and decrypts with the private key the key store keeps for one certificate, through
 * Java's own security APIs and the QDIE provider; checks both against the JDK's own
 * cryptography, and lists the personal store as a KeyStore. Exits non-zero if any step fails.
 *
 * <p>Usage: {@code KeystoreDemo CERTIFICATE.der} (a certificate of the personal store).
 */
public final class KeystoreDemo {

    private KeystoreDemo() {}

    public static void main(String[] args) throws Exception {
        if (args.length != 1) {
            System.err.println("usage: KeystoreDemo CERTIFICATE.der");
            System.exit(2);
        }
        X509Certificate certificate = (X509Certificate) CertificateFactory.getInstance("X.509")
                .generateCertificate(new ByteArrayInputStream(Files.readAllBytes(Path.of(args[0]))));
        AtomicInteger logLines = new AtomicInteger();
        QDBrowserProvider.addLogListener(line -> logLines.incrementAndGet());
        Security.addProvider(new QDBrowserProvider());

        KeyStore personal = KeyStore.getInstance("QDIE-MY");
        personal.load(null, null);
        String alias = personal.getCertificateAlias(certificate);
        if (alias == null) {
            System.out.println("The certificate of " + args[0] + " is NOT in QDIE-MY.");
            System.exit(1);
        }
        PrivateKey key = (PrivateKey) personal.getKey(alias, null);
        System.out.printf("KeyStore.getInstance(\"QDIE-MY\"): \"%s\" (%s, RSA %d-bit) is a %s;"
                + " its key is a %s (getEncoded() = %s).%n", alias,
                certificate.getSubjectX500Principal().getName(),
                ((RSAPublicKey) certificate.getPublicKey()).getModulus().bitLength(),
                personal.isKeyEntry(alias) ? "key entry" : "certificate entry",
                key.getClass().getSimpleName(), key.getEncoded());

        boolean ok = sign(key, certificate);
        ok &= decrypt(key, certificate);
        list(personal);
        System.out.printf("The library logged %d lines, each also handed to QDBrowserProvider.logJNI.%n",
                logLines.get());
        System.exit(ok ? 0 : 1);
    }

    private static boolean sign(PrivateKey key, X509Certificate certificate) throws Exception {
        byte[] document = "Purchase order 4711: 12 crates of oranges".getBytes(StandardCharsets.UTF_8);
        Signature signer = Signature.getInstance("SHA256withRSA");
        signer.initSign(key);
        signer.update(document);
        byte[] signature = signer.sign();
        Signature verifier = Signature.getInstance("SHA256withRSA");
        verifier.initVerify(certificate);
        verifier.update(document);
        boolean verified = verifier.verify(signature);
        System.out.printf("Signature.getInstance(\"SHA256withRSA\") signed %d bytes through %s: a %d-byte"
                + " signature; %s's verifier %s it.%n", document.length,
                signer.getProvider().getName(), signature.length,
                verifier.getProvider().getName(), verified ? "accepts" : "REJECTS");
        return verified;
    }

    private static boolean decrypt(PrivateKey key, X509Certificate certificate) throws Exception {
        String secret = "the safe's code is 0815";
        Cipher encrypting = Cipher.getInstance("RSA/ECB/PKCS1Padding");
        encrypting.init(Cipher.ENCRYPT_MODE, certificate.getPublicKey());
        byte[] cipherText = encrypting.doFinal(secret.getBytes(StandardCharsets.UTF_8));
        Cipher decrypting = Cipher.getInstance("RSA/ECB/PKCS1Padding");
        decrypting.init(Cipher.DECRYPT_MODE, key);
        String recovered = new String(decrypting.doFinal(cipherText), StandardCharsets.UTF_8);
        boolean same = recovered.equals(secret);
        System.out.printf("Cipher \"RSA/ECB/PKCS1Padding\": %s encrypted \"%s\" with the certificate;"
                + " %s decrypted it with the key to \"%s\": %s.%n",
                encrypting.getProvider().getName(), secret, decrypting.getProvider().getName(),
                recovered, same ? "the same text" : "A DIFFERENT TEXT");
        return same;
    }

    private static void list(KeyStore personal) throws Exception {
        System.out.printf("QDIE-MY holds %d entr%s:%n", personal.size(),
                personal.size() == 1 ? "y" : "ies");
        for (String alias : Collections.list(personal.aliases())) {
            X509Certificate entry = (X509Certificate) personal.getCertificate(alias);
            System.out.printf("  %-28s %-17s %s%n", alias,
                    personal.isKeyEntry(alias) ? "PrivateKeyEntry" : "trustedCertEntry",
                    entry.getSubjectX500Principal().getName());
        }
    }
}
