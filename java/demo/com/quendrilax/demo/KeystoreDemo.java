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
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.MGF1ParameterSpec;
import java.security.spec.PSSParameterSpec;
import java.util.Collections;
import java.util.concurrent.atomic.AtomicInteger;
import javax.crypto.Cipher;

/**
 * Signs and decrypts with the private keys the key store keeps for certificates of the personal
 * store, through Java's own security APIs and the QDIE provider, and has the JDK's own providers
 * check every result: SunRsaSign and SunEC verify the signatures, SunJCE makes the ciphertext.
 * Then lists the personal store as a KeyStore. Exits non-zero if any step fails.
 *
 * <p>Usage: {@code KeystoreDemo CERTIFICATE.der...} (certificates of the personal store). An RSA
 * certificate's key signs PKCS #1 v1.5 and RSASSA-PSS and decrypts; an EC certificate's signs
 * ECDSA.
 */
public final class KeystoreDemo {

    private static final byte[] DOCUMENT =
            "Purchase order 4711: 12 crates of oranges".getBytes(StandardCharsets.UTF_8);

    private KeystoreDemo() {}

    public static void main(String[] args) throws Exception {
        if (args.length == 0) {
            System.err.println("usage: KeystoreDemo CERTIFICATE.der...");
            System.exit(2);
        }
        AtomicInteger logLines = new AtomicInteger();
        QDBrowserProvider.addLogListener(line -> logLines.incrementAndGet());
        Security.addProvider(new QDBrowserProvider());

        KeyStore personal = KeyStore.getInstance("QDIE-MY");
        personal.load(null, null);
        boolean ok = true;
        for (String file : args) {
            X509Certificate certificate = (X509Certificate) CertificateFactory.getInstance("X.509")
                    .generateCertificate(new ByteArrayInputStream(Files.readAllBytes(Path.of(file))));
            String alias = personal.getCertificateAlias(certificate);
            if (alias == null) {
                System.out.println("The certificate of " + file + " is NOT in QDIE-MY.");
                System.exit(1);
            }
            PrivateKey key = (PrivateKey) personal.getKey(alias, null);
            System.out.printf("KeyStore.getInstance(\"QDIE-MY\"): \"%s\" (%s, %s key) is a %s;"
                    + " its key is the handle %s (getEncoded() = %s).%n", alias,
                    certificate.getSubjectX500Principal().getName(), key.getAlgorithm(),
                    personal.isKeyEntry(alias) ? "key entry" : "certificate entry",
                    key.getClass().getSimpleName(), key.getEncoded());
            if (key.getAlgorithm().equals("EC")) {
                ok &= sign("SHA256withECDSA", null, "SunEC", key, certificate);
            } else {
                ok &= sign("SHA256withRSA", null, "SunRsaSign", key, certificate);
                ok &= sign("RSASSA-PSS", new PSSParameterSpec("SHA-256", "MGF1",
                        MGF1ParameterSpec.SHA256, 32, PSSParameterSpec.TRAILER_FIELD_BC),
                        "SunRsaSign", key, certificate);
                ok &= decrypt(key, certificate);
            }
        }
        list(personal);
        System.out.printf("The library logged %d lines, each also handed to QDBrowserProvider.logJNI.%n",
                logLines.get());
        System.exit(ok ? 0 : 1);
    }

    /** Signs through whichever provider the JDK picks for the key, and verifies with the JDK's. */
    private static boolean sign(String algorithm, AlgorithmParameterSpec parameters,
            String verifyingProvider, PrivateKey key, X509Certificate certificate) throws Exception {
        Signature signer = Signature.getInstance(algorithm);
        signer.initSign(key);
        if (parameters != null) signer.setParameter(parameters);
        signer.update(DOCUMENT);
        byte[] signature = signer.sign();
        Signature verifier = Signature.getInstance(algorithm, verifyingProvider);
        if (parameters != null) verifier.setParameter(parameters);
        verifier.initVerify(certificate);
        verifier.update(DOCUMENT);
        boolean verified = verifier.verify(signature);
        boolean byQdie = signer.getProvider().getName().equals(QDBrowserProvider.NAME);
        System.out.printf("Signature.getInstance(\"%s\") signed %d bytes through %s: a %d-byte"
                + " signature; %s's verifier %s it.%n", algorithm, DOCUMENT.length,
                signer.getProvider().getName(), signature.length, verifyingProvider,
                verified ? "accepts" : "REJECTS");
        return verified && byQdie;
    }

    /** SunJCE encrypts with the certificate's public key; the key store's key decrypts. */
    private static boolean decrypt(PrivateKey key, X509Certificate certificate) throws Exception {
        String secret = "the safe's code is 0815";
        Cipher encrypting = Cipher.getInstance("RSA/ECB/PKCS1Padding", "SunJCE");
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
        return same && decrypting.getProvider().getName().equals(QDBrowserProvider.NAME);
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
