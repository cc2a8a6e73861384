package com.quendrilax.browser;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quendrilax.browser.cipher.RSACipher;
import com.quendrilax.browser.keystore.QDIECAKeyStore;
import com.quendrilax.browser.keystore.provider.signature.BrowserSignature;
import com.quendrilax.browser.testing.CipherTexts;
import com.quendrilax.browser.testing.Digest;
import com.quendrilax.browser.testing.Identity;
import com.quendrilax.browser.testing.QdieKeys;
import com.quendrilax.browser.testing.Status;
import com.quendrilax.browser.testing.TestProfile;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.KeyStore;
import java.util.Arrays;
import java.util.List;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * The key store file damaged under a running JVM. The library meets the damage as a C++ exception
 * thrown and caught inside it, and each native must come back with its empty result and status 7:
 * for a store name that is valid, only that path records it, so these tests fail when the path did
 * not run as well as when an exception escaped it (which ends the JVM).
 */
class DamagedKeyStoreTest {

    private static final byte[] DATA = "damaged".getBytes(StandardCharsets.US_ASCII);
    private static Identity alice;
    private static Identity bob;
    private static Path keystore;
    private static byte[] intact;

    @BeforeAll
    static void makeKeyStore() throws Exception {
        alice = TestProfile.newIdentity("CN=Alice");
        bob = TestProfile.newIdentity("CN=Bob", "--store", "Elsewhere");
        keystore = TestProfile.folder().resolve(".local/share/qdie-keystore/keystore.db");
        intact = Files.readAllBytes(keystore);
    }

    @AfterEach
    void repair() throws Exception {
        Files.write(keystore, intact);
    }

    /** What the file may hold instead of a key store. */
    private static List<byte[]> damages() {
        byte[] text = "this is not a key store\n".repeat(200).getBytes(StandardCharsets.US_ASCII);
        byte[] truncated = Arrays.copyOf(intact, 1000);
        byte[] foreign = intact.clone();
        // Another application's id in the database header.
        Arrays.fill(foreign, 68, 72, (byte) 0x5a);
        // A change counter of their own, as any writer leaves it, so that readers read them anew.
        for (byte[] damage : List.of(truncated, foreign)) damage[27]++;
        return List.of(text, truncated, foreign);
    }

    private static byte[] sign(Identity identity) {
        return BrowserSignature.sign(Digest.SHA256.algorithmId, "RSA", identity.encoding(), DATA);
    }

    /** Runs `call` over each damage, from a status word that holds a success. */
    private static void overEachDamage(Runnable call) throws Exception {
        for (byte[] damage : damages()) {
            Files.write(keystore, intact);
            assertNotNull(sign(alice));
            Files.write(keystore, damage);
            call.run();
            assertEquals(Status.STORE_NOT_OPENED, BrowserSignature.getLastError());
        }
    }

    @Test
    void signingAndDecryptionReturnNull() throws Exception {
        byte[] cipherText = CipherTexts.encrypt(CipherTexts.PKCS1, alice.publicKey(), DATA);
        overEachDamage(() -> assertNull(sign(alice)));
        overEachDamage(() -> assertNull(RSACipher.decrypt(alice.encoding(), cipherText)));
        Files.write(keystore, intact);
        assertArrayEquals(DATA, RSACipher.decrypt(alice.encoding(), cipherText));
    }

    // Through the provider the damage is a failure, never an empty store: the natives the
    // provider calls hand it their own outcome.
    @Test
    void providerLoadFailsNamingTheCause() throws Exception {
        QdieKeys.install();
        for (byte[] damage : damages()) {
            Files.write(keystore, damage);
            IOException failure = assertThrows(IOException.class,
                    () -> KeyStore.getInstance("QDIE-MY").load(null, null));
            assertTrue(failure.getMessage().startsWith("the system store \"My\" could not be read:"
                    + " the certificate store could not be opened at CertOpenStore (status 7,"
                    + " Windows error 0x570: the key store file is damaged"), failure::getMessage);
        }
        // A FIFO in the file's place is neither read nor waited on.
        Files.delete(keystore);
        TestProfile.run("mkfifo", keystore.toString());
        IOException fifo = assertThrows(IOException.class,
                () -> KeyStore.getInstance("QDIE-MY").load(null, null));
        assertTrue(fifo.getMessage().contains("Windows error 0x80092003"), fifo::getMessage);
        Files.delete(keystore);
    }

    @Test
    void listingIsEmptyAndChangesChangeNothing() throws Exception {
        overEachDamage(() -> assertEquals(0,
                QDIECAKeyStore.getCertificatesInIESystemStore("My").length));
        overEachDamage(() -> QDIECAKeyStore.addCertificateInIESystemStore("Other", bob.encoding()));
        overEachDamage(() -> QDIECAKeyStore.deleteCertificateInIESystemStore("My", alice.encoding()));
        Files.write(keystore, intact);
        assertEquals(0, QDIECAKeyStore.getCertificatesInIESystemStore("Other").length);
        assertEquals(1, QDIECAKeyStore.getCertificatesInIESystemStore("My").length);
    }
}
