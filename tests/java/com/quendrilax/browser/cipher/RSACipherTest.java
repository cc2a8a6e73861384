package com.quendrilax.browser.cipher;

import static java.nio.charset.StandardCharsets.US_ASCII;
import static org.junit.jupiter.api.Assertions.assertAll;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quendrilax.browser.keystore.provider.signature.BrowserSignature;
import com.quendrilax.browser.testing.CipherTexts;
import com.quendrilax.browser.testing.Identity;
import com.quendrilax.browser.testing.LogRecorder;
import com.quendrilax.browser.testing.Status;
import com.quendrilax.browser.testing.TestProfile;
import java.util.Arrays;
import java.util.List;
import java.util.Random;
import java.util.function.Supplier;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

class RSACipherTest {

    private static final byte[] SECRET = "the vault opens at 0815".getBytes(US_ASCII);
    private static final String PKCS1_REJECTED = "CryptDecrypt error: 80090005 => Test with CRYPT_OAEP";
    private static final String OAEP_DECRYPTED = "CryptDecrypt success\n";

    private static Identity alice;

    @BeforeAll
    static void makeIdentity() throws Exception {
        alice = TestProfile.importedIdentity("CN=Alice");
    }

    private static List<String> decryptionSteps(List<String> messages) {
        int acquired = messages.indexOf("CryptGetUserKey success");
        return messages.subList(acquired + 1, messages.size());
    }

    @Test
    void pkcs1CipherTextDecryptsOnTheFirstAttempt() throws Exception {
        // From one byte to the longest message PKCS #1 v1.5 pads into a 2048-bit block.
        for (int length : new int[] {1, 100, 245}) {
            byte[] plainText = new byte[length];
            new Random(length).nextBytes(plainText);
            byte[] cipherText = CipherTexts.encrypt(CipherTexts.PKCS1, alice.publicKey(), plainText);
            try (LogRecorder log = LogRecorder.start()) {
                assertArrayEquals(plainText, RSACipher.decrypt(alice.encoding(), cipherText));
                assertEquals(Status.SUCCESS, BrowserSignature.getLastError());
                assertEquals(List.of("CryptDecrypt success", "CryptReleaseContext success",
                        "Decrypt finished"), decryptionSteps(log.messages()));
            }
        }
    }

    @Test
    void oaepCipherTextDecryptsOnTheRetryAfterPkcs1Fails() throws Exception {
        try (LogRecorder log = LogRecorder.start()) {
            byte[] cipherText = CipherTexts.oaepRejectedAsPkcs1(alice, SECRET, 1).get(0);
            TestProfile.clearLog();
            assertArrayEquals(SECRET, RSACipher.decrypt(alice.encoding(), cipherText));
            assertEquals(Status.SUCCESS, BrowserSignature.getLastError());
            assertEquals(List.of(PKCS1_REJECTED, OAEP_DECRYPTED, "CryptReleaseContext success",
                    "Decrypt finished"), decryptionSteps(log.messages()));
        }
        // The message's own line feed leaves an empty line in the file.
        List<String> file = TestProfile.logFileLines();
        int retried = file.size() - 5;
        assertTrue(file.get(retried).endsWith(" - " + PKCS1_REJECTED), file::toString);
        assertTrue(file.get(retried + 1).endsWith(" - CryptDecrypt success"));
        assertEquals("", file.get(retried + 2));
    }

    // The retry starts again from the ciphertext: one left as the failed first attempt left it
    // decrypts only now and then, so a run of them shows it.
    @Test
    void everyOaepCipherTextRejectedAsPkcs1Decrypts() throws Exception {
        for (byte[] cipherText : CipherTexts.oaepRejectedAsPkcs1(alice, SECRET, 16))
            assertArrayEquals(SECRET, RSACipher.decrypt(alice.encoding(), cipherText));
    }

    // About one OAEP block in a few hundred also passes the PKCS #1 v1.5 check: each must still
    // come back as its own message, as must every PKCS #1 v1.5 one.
    @Test
    void thousandsOfJavaMadeCipherTextsDecryptToTheirMessages() throws Exception {
        Identity small = TestProfile.newIdentity("CN=Many", "--key", "rsa-1024");
        Random random = new Random(20261209);
        int wrong = 0;
        int total = 0;
        for (String padding : List.of(CipherTexts.OAEP, CipherTexts.PKCS1)) {
            int count = padding.equals(CipherTexts.OAEP) ? 3000 : 1000;
            for (int i = 0; i < count; ++i, ++total) {
                byte[] message = new byte[1 + random.nextInt(64)];
                random.nextBytes(message);
                byte[] cipherText = CipherTexts.encrypt(padding, small.publicKey(), message);
                if (!Arrays.equals(message, RSACipher.decrypt(small.encoding(), cipherText)))
                    ++wrong;
            }
        }
        assertEquals(0, wrong, "wrong plaintexts of " + total);
    }

    @Test
    void emptyPlainTextComesBackAsAnEmptyArray() throws Exception {
        byte[] empty = new byte[0];
        byte[] pkcs1 = CipherTexts.encrypt(CipherTexts.PKCS1, alice.publicKey(), empty);
        assertArrayEquals(empty, RSACipher.decrypt(alice.encoding(), pkcs1));
        byte[] oaep = CipherTexts.oaepRejectedAsPkcs1(alice, empty, 1).get(0);
        assertArrayEquals(empty, RSACipher.decrypt(alice.encoding(), oaep));
    }

    @Test
    void passwordPlaysNoPartInDecryption() throws Exception {
        byte[] cipherText = CipherTexts.oaepRejectedAsPkcs1(alice, SECRET, 1).get(0);
        List<String> expected;
        try (LogRecorder log = LogRecorder.start()) {
            assertArrayEquals(SECRET, RSACipher.decrypt(alice.encoding(), cipherText));
            expected = log.messages();
        }
        for (byte[] password : new byte[][] {null, new byte[0], "wrong".getBytes(US_ASCII)}) {
            try (LogRecorder log = LogRecorder.start()) {
                assertArrayEquals(SECRET,
                        RSACipher.decryptWithPassword(alice.encoding(), cipherText, password));
                assertEquals(expected, log.messages());
            }
        }
    }

    @Test
    void pinProtectedKeyIsNotUnlockedByThePassword() throws Exception {
        Identity locked = TestProfile.newIdentity("CN=Locked", "--pin", "1234");
        byte[] cipherText = CipherTexts.encrypt(CipherTexts.PKCS1, locked.publicKey(), SECRET);
        try (LogRecorder log = LogRecorder.start()) {
            assertNull(RSACipher.decryptWithPassword(locked.encoding(), cipherText,
                    "1234".getBytes(US_ASCII)));
            assertEquals(Status.DECRYPTION_FAILED, BrowserSignature.getLastError());
            assertEquals(List.of("CryptDecrypt error: 8010006f => Test with CRYPT_OAEP",
                    "CryptDecrypt error: 8010006f", "CryptReleaseContext success", "Decrypt finished"),
                    decryptionSteps(log.messages()));
        }
    }

    @Test
    void signatureOnlyContainerHasNoKeyToDecryptWith() throws Exception {
        Identity signer = TestProfile.newIdentity("CN=Signer", "--key-spec", "signature");
        byte[] cipherText = CipherTexts.encrypt(CipherTexts.PKCS1, signer.publicKey(), SECRET);
        try (LogRecorder log = LogRecorder.start()) {
            assertNull(RSACipher.decrypt(signer.encoding(), cipherText));
            assertEquals(Status.NO_EXCHANGE_KEY, BrowserSignature.getLastError());
            assertTrue(log.messages().contains("CryptGetUserKey (AT_KEYEXCHANGE) error: 8009000d"),
                    log.messages()::toString);
        }
    }

    @Test
    void legacyProviderDecryptsUnchanged() throws Exception {
        Identity legacy = TestProfile.newIdentity("CN=Legacy", "--provider",
                "Microsoft Strong Cryptographic Provider");
        byte[] cipherText = CipherTexts.encrypt(CipherTexts.PKCS1, legacy.publicKey(), SECRET);
        assertArrayEquals(SECRET, RSACipher.decrypt(legacy.encoding(), cipherText));
    }

    @Test
    void statusTellsTheFailureAndIsZeroAfterASuccess() throws Exception {
        byte[] garbage = new byte[256];
        new Random(7).nextBytes(garbage);
        garbage[0] = 0x01;  // below the modulus, so it reaches both unpaddings
        try (LogRecorder log = LogRecorder.start()) {
            assertNull(RSACipher.decrypt(alice.encoding(), garbage));
            assertEquals(Status.DECRYPTION_FAILED, BrowserSignature.getLastError());
            assertEquals(List.of(PKCS1_REJECTED, "CryptDecrypt error: 80090005",
                    "CryptReleaseContext success", "Decrypt finished"), decryptionSteps(log.messages()));
        }
        byte[] unknown = alice.encoding();
        unknown[unknown.length - 1] ^= 1;
        try (LogRecorder log = LogRecorder.start()) {
            assertNull(RSACipher.decrypt(unknown, garbage));
            assertEquals(Status.CERTIFICATE_NOT_FOUND, BrowserSignature.getLastError());
            assertEquals(List.of("########## Decrypt ##########", "CertOpenStore success",
                    "Certificate not found", "Decrypt finished"), log.messages());
        }
        byte[] cipherText = CipherTexts.encrypt(CipherTexts.PKCS1, alice.publicKey(), SECRET);
        assertArrayEquals(SECRET, RSACipher.decrypt(alice.encoding(), cipherText));
        assertEquals(Status.SUCCESS, BrowserSignature.getLastError());
    }

    @Test
    void emptyAndOversizedCipherTextsReachTheProviderAndFail() throws Exception {
        byte[] oversized = CipherTexts.encrypt(CipherTexts.PKCS1, alice.publicKey(), SECRET);
        oversized = Arrays.copyOf(oversized, 2 * oversized.length);
        for (byte[] cipherText : List.of(new byte[0], oversized)) {
            try (LogRecorder log = LogRecorder.start()) {
                assertNull(RSACipher.decrypt(alice.encoding(), cipherText));
                assertEquals(Status.DECRYPTION_FAILED, BrowserSignature.getLastError());
                List<String> steps = decryptionSteps(log.messages());
                assertEquals(4, steps.size(), steps::toString);
                assertTrue(steps.get(0).endsWith(" => Test with CRYPT_OAEP"), steps::toString);
                assertTrue(steps.get(1).startsWith("CryptDecrypt error: "), steps::toString);
            }
        }
    }

    @Test
    void nullArgumentsGiveNullAndChangeNothing() throws Exception {
        byte[] certificate = alice.encoding();
        byte[] cipherText = CipherTexts.encrypt(CipherTexts.PKCS1, alice.publicKey(), SECRET);
        byte[] password = "pin".getBytes(US_ASCII);
        List<Supplier<byte[]>> calls = List.of(
                () -> RSACipher.decrypt(null, cipherText),
                () -> RSACipher.decrypt(certificate, null),
                () -> RSACipher.decryptWithPassword(null, cipherText, password),
                () -> RSACipher.decryptWithPassword(certificate, null, password));
        Status.recordCertificateNotFound();
        try (LogRecorder log = LogRecorder.start()) {
            assertAll(calls.stream().map(call -> () -> assertNull(call.get())));
            assertEquals(Status.CERTIFICATE_NOT_FOUND, BrowserSignature.getLastError());
            assertEquals(List.of(), log.messages());
        }
        assertArrayEquals(SECRET, RSACipher.decryptWithPassword(certificate, cipherText, null));
        assertEquals(Status.SUCCESS, BrowserSignature.getLastError());
    }
}
