package com.quendrilax.browser;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quendrilax.browser.cipher.RSACipher;
import com.quendrilax.browser.keystore.QDIECAKeyStore;
import com.quendrilax.browser.keystore.provider.signature.BrowserSignature;
import com.quendrilax.browser.testing.CipherTexts;
import com.quendrilax.browser.testing.Digest;
import com.quendrilax.browser.testing.Identity;
import com.quendrilax.browser.testing.Status;
import com.quendrilax.browser.testing.TestProfile;
import java.security.Signature;
import java.util.Arrays;
import java.util.Random;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * Every native with arguments nobody should pass: empty, one byte, 16 MiB, malformed. Each call
 * must come back (no crash, no exception, no JNI warning) with the empty result or, where the
 * input is merely large, the right one.
 */
class HostileArgumentsTest {

    private static final int LARGE = 16 << 20;
    private static final byte[] EMPTY = {};
    private static final byte[] ONE_BYTE = {0x30};
    private static byte[] large;
    private static byte[] garbage;
    private static Identity alice;

    @BeforeAll
    static void prepare() throws Exception {
        Random random = new Random(42);
        large = new byte[LARGE];
        random.nextBytes(large);
        garbage = new byte[300];
        random.nextBytes(garbage);
        garbage[0] = 0x30;
        alice = TestProfile.newIdentity("CN=Alice");
    }

    private static byte[] sign(byte[] certificate, byte[] data, byte[] password, boolean isHash) {
        return BrowserSignature.signDataWithPassword(Digest.SHA256.algorithmId, "RSA", certificate,
                data, password, isHash);
    }

    private static boolean verifies(byte[] data, byte[] signature) throws Exception {
        Signature verifier = Signature.getInstance(Digest.SHA256.rsaSignature);
        verifier.initVerify(alice.certificate());
        verifier.update(data);
        return verifier.verify(signature);
    }

    @Test
    void certificatesThatNoStoreHoldsAreNotFound() {
        for (byte[] certificate : new byte[][] {EMPTY, ONE_BYTE, garbage, large}) {
            assertNull(sign(certificate, ONE_BYTE, null, false));
            assertEquals(Status.CERTIFICATE_NOT_FOUND, BrowserSignature.getLastError());
            assertNull(RSACipher.decrypt(certificate, ONE_BYTE));
            assertEquals(Status.CERTIFICATE_NOT_FOUND, BrowserSignature.getLastError());
        }
    }

    @Test
    void dataOfAnySizeIsSignedAndVerifies() throws Exception {
        for (byte[] data : new byte[][] {EMPTY, ONE_BYTE, garbage, large}) {
            byte[] signature = sign(alice.encoding(), data, null, false);
            assertNotNull(signature, "status " + BrowserSignature.getLastError());
            assertTrue(verifies(data, signature));
        }
    }

    @Test
    void hashValuesShorterThanTheDigestAreRefusedAndLongerOnesCut() throws Exception {
        for (byte[] value : new byte[][] {EMPTY, ONE_BYTE}) {
            assertNull(sign(alice.encoding(), value, null, true));
            assertEquals(Status.HASH_NOT_READY, BrowserSignature.getLastError());
        }
        byte[] fromLarge = sign(alice.encoding(), large, null, true);
        byte[] fromItsStart = sign(alice.encoding(), Arrays.copyOf(large, 32), null, true);
        assertNotNull(fromLarge);
        assertArrayEquals(fromItsStart, fromLarge);
    }

    @Test
    void passwordsOfAnySizeAreRefusedByAContainerWithoutPinAndSigningGoesOn() throws Exception {
        for (byte[] password : new byte[][] {ONE_BYTE, garbage, large}) {
            byte[] signature = sign(alice.encoding(), ONE_BYTE, password, false);
            assertNotNull(signature);
            assertTrue(verifies(ONE_BYTE, signature));
        }
    }

    @Test
    void oddDigestAndKeyAlgorithmsFailAtTheirStep() {
        for (int algorithm : new int[] {0, -1, Integer.MAX_VALUE, 0x8001}) {
            assertNull(BrowserSignature.sign(algorithm, "RSA", alice.encoding(), ONE_BYTE));
            assertEquals(4, BrowserSignature.getLastError());
        }
        String hugeName = "R".repeat(LARGE);
        for (String keyAlgorithm : new String[] {"", hugeName, "RSA\u0000", "\u00e9\u0000\uffff"}) {
            byte[] signature = BrowserSignature.sign(Digest.SHA256.algorithmId, keyAlgorithm,
                    alice.encoding(), ONE_BYTE);
            // A provider that is not legacy keeps its name whatever the key algorithm says.
            assertNotNull(signature);
        }
    }

    @Test
    void cipherTextsOfTheWrongSizeOrShapeFailBothPaddings() throws Exception {
        byte[] wrongShape = CipherTexts.encrypt("RSA/ECB/NoPadding", alice.publicKey(),
                new byte[256]);
        for (byte[] cipherText : new byte[][] {EMPTY, ONE_BYTE, garbage, large, wrongShape}) {
            assertNull(RSACipher.decryptWithPassword(alice.encoding(), cipherText, large));
            assertEquals(Status.DECRYPTION_FAILED, BrowserSignature.getLastError());
        }
    }

    @Test
    void storeNamesThatCannotBeOpenedListNothing() {
        String[] names = {"", "a/b", "..\\My", "x".repeat(256), "x".repeat(LARGE), "a\u0000b",
                "tab\there", "\u0085"};
        for (String name : names) {
            Status.recordCertificateNotFound();
            assertEquals(0, QDIECAKeyStore.getCertificatesInIESystemStore(name).length);
            assertEquals(Status.STORE_NOT_OPENED, BrowserSignature.getLastError());
            QDIECAKeyStore.addCertificateInIESystemStore(name, alice.encoding());
            QDIECAKeyStore.deleteCertificateInIESystemStore(name, alice.encoding());
            assertEquals(Status.STORE_NOT_OPENED, BrowserSignature.getLastError());
        }
    }

    @Test
    void malformedAndHugeCertificatesAreNeitherAddedNorDeleted() {
        for (byte[] certificate : new byte[][] {EMPTY, ONE_BYTE, garbage, large}) {
            QDIECAKeyStore.addCertificateInIESystemStore("Hostile", certificate);
            QDIECAKeyStore.deleteCertificateInIESystemStore("My", certificate);
        }
        assertEquals(0, QDIECAKeyStore.getCertificatesInIESystemStore("Hostile").length);
        assertEquals(1, QDIECAKeyStore.getCertificatesInIESystemStore("MY").length);
    }
}
