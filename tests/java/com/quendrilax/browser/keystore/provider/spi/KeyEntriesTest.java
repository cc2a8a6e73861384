package com.quendrilax.browser.keystore.provider.spi;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quendrilax.browser.testing.QdieKeys;
import com.quendrilax.browser.testing.TestProfile;
import java.io.FileInputStream;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.KeyStore;
import java.security.KeyStoreException;
import java.security.PrivateKey;
import java.security.PublicKey;
import java.security.Signature;
import java.security.cert.Certificate;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.security.spec.ECGenParameterSpec;
import java.util.Base64;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * Keys put into QDIE-MY through the standard APIs: generated inside and signing before any
 * certificate exists, bound to a certificate an authority made for them, imported from another
 * provider into the key storage provider when the protection names it, refused when the chain is
 * not theirs, and deleted with their container.
 */
class KeyEntriesTest {

    private static Path authorityKey;
    private static Path authorityCertificate;
    private static X509Certificate authority;

    @BeforeAll
    static void makeAuthority() throws Exception {
        QdieKeys.install();
        authorityKey = TestProfile.scratchFile("authority", ".key");
        authorityCertificate = TestProfile.scratchFile("authority", ".pem");
        TestProfile.run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj",
                "/CN=Key Entries Authority", "-days", "2", "-keyout", authorityKey.toString(),
                "-out", authorityCertificate.toString());
        authority = read(authorityCertificate);
    }

    private static X509Certificate read(Path pem) throws Exception {
        try (InputStream in = new FileInputStream(pem.toFile())) {
            return (X509Certificate) CertificateFactory.getInstance("X.509").generateCertificate(in);
        }
    }

    /** A certificate the authority makes for the public key, as a reply to a request would be. */
    private static X509Certificate certify(PublicKey publicKey, String subject) throws Exception {
        Path key = TestProfile.scratchFile("subject", ".pem");
        Files.writeString(key, "-----BEGIN PUBLIC KEY-----\n"
                + Base64.getMimeEncoder().encodeToString(publicKey.getEncoded())
                + "\n-----END PUBLIC KEY-----\n");
        Path certificate = TestProfile.scratchFile("certified", ".pem");
        TestProfile.run("openssl", "x509", "-new", "-subj", "/CN=" + subject, "-force_pubkey",
                key.toString(), "-CA", authorityCertificate.toString(), "-CAkey",
                authorityKey.toString(), "-days", "2", "-out", certificate.toString());
        return read(certificate);
    }

    private static KeyStore personal() throws Exception {
        KeyStore store = KeyStore.getInstance("QDIE-MY");
        store.load(null, null);
        return store;
    }

    private static boolean verifies(String algorithm, PrivateKey key, PublicKey publicKey)
            throws Exception {
        byte[] data = "signed inside the key store".getBytes();
        Signature signer = Signature.getInstance(algorithm);
        signer.initSign(key);
        signer.update(data);
        byte[] signature = signer.sign();
        Signature verifier = Signature.getInstance(algorithm);
        verifier.initVerify(publicKey);
        verifier.update(data);
        return verifier.verify(signature);
    }

    private static String containers() throws Exception {
        return TestProfile.runTool("containers");
    }

    @Test
    void generatedKeysSignAtOnceAndAreBoundToTheirCertificateLater() throws Exception {
        KeyPairGenerator rsa = KeyPairGenerator.getInstance("RSA", "QDIE");
        rsa.initialize(2048);
        KeyPairGenerator ec = KeyPairGenerator.getInstance("EC", "QDIE");
        ec.initialize(new ECGenParameterSpec("secp384r1"));
        for (Object[] made : new Object[][] {{rsa.generateKeyPair(), "SHA256withRSA"},
                {ec.generateKeyPair(), "SHA384withECDSA"}}) {
            KeyPair pair = (KeyPair) made[0];
            String algorithm = (String) made[1];
            HandleKey handle = assertInstanceOf(HandleKey.class, pair.getPrivate());
            assertNull(handle.getEncoded());
            assertTrue(verifies(algorithm, handle, pair.getPublic()), algorithm);
            assertTrue(containers().contains("container=" + handle.alias() + " "), containers());

            X509Certificate certificate = certify(pair.getPublic(), "Generated " + algorithm);
            KeyStore store = personal();
            store.setKeyEntry(handle.alias(), handle, null,
                    new Certificate[] {certificate, authority});
            KeyStore reloaded = personal();
            String alias = reloaded.getCertificateAlias(certificate);
            assertTrue(reloaded.isKeyEntry(alias));
            assertEquals(authority, reloaded.getCertificateChain(alias)[1]);
            PrivateKey stored = (PrivateKey) reloaded.getKey(handle.alias(), null);
            assertTrue(verifies(algorithm, stored, certificate.getPublicKey()), algorithm);

            reloaded.deleteEntry(alias);
            assertFalse(personal().containsAlias(alias));
            assertFalse(containers().contains("container=" + handle.alias() + " "), containers());
        }
    }

    @Test
    void anRsaKeyGoesToTheKeyStorageProviderWhenItsProtectionNamesIt() throws Exception {
        KeyPairGenerator generator = KeyPairGenerator.getInstance("RSA", "SunRsaSign");
        generator.initialize(2048);
        KeyPair pair = generator.generateKeyPair();
        X509Certificate certificate = certify(pair.getPublic(), "Imported Into Cng");
        char[] pin = "4711".toCharArray();
        personal().setEntry("imported-cng",
                new KeyStore.PrivateKeyEntry(pair.getPrivate(), new Certificate[] {certificate}),
                new KeyStore.PasswordProtection(pin, KeyEntries.KEY_STORAGE_PROVIDER, null));
        assertTrue(containers().contains("container=imported-cng family=KSP"), containers());
        KeyStore store = personal();
        HandleKey key = assertInstanceOf(HandleKey.class, store.getKey("imported-cng", pin));
        assertTrue(key.cng());
        assertTrue(verifies("SHA256withRSA", key, certificate.getPublicKey()));
        store.deleteEntry("imported-cng");
        assertFalse(containers().contains("container=imported-cng "), containers());
    }

    @Test
    void aKeyWhoseChainIsAnotherKeysChangesNothing() throws Exception {
        KeyPairGenerator generator = KeyPairGenerator.getInstance("EC", "SunEC");
        generator.initialize(256);
        KeyPair pair = generator.generateKeyPair();
        X509Certificate other = certify(generator.generateKeyPair().getPublic(), "Other Key");
        String before = containers();
        KeyStore store = personal();
        int entries = store.size();
        KeyStoreException refused = assertThrows(KeyStoreException.class,
                () -> store.setKeyEntry("mismatch", pair.getPrivate(), null,
                        new Certificate[] {other}));
        assertTrue(refused.getMessage().contains("not the certificate's"), refused::getMessage);
        assertEquals(before, containers());
        assertEquals(entries, personal().size());
    }
}
