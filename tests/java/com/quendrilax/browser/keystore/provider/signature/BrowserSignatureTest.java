package com.quendrilax.browser.keystore.provider.signature;

import static java.nio.charset.StandardCharsets.US_ASCII;
import static org.junit.jupiter.api.Assertions.assertAll;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quendrilax.browser.cipher.RSACipher;
import com.quendrilax.browser.testing.Digest;
import com.quendrilax.browser.testing.Identity;
import com.quendrilax.browser.testing.LogRecorder;
import com.quendrilax.browser.testing.Status;
import com.quendrilax.browser.testing.TestProfile;
import java.security.GeneralSecurityException;
import java.security.MessageDigest;
import java.security.Signature;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.Callable;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.function.Supplier;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.EnumSource;

class BrowserSignatureTest {

    private static final byte[] DATA = "Quarterly report, approved".getBytes(US_ASCII);
    private static final String LEGACY_PROVIDER = "Microsoft Strong Cryptographic Provider";
    private static final String SUBSTITUTE_PROVIDER =
            "Microsoft Enhanced RSA and AES Cryptographic Provider";
    private static final String PIN = "1234";
    private static final int CARD_NOT_AUTHENTICATED = 0x8010006F;
    private static final String PIN_ACCEPTED = "CryptSetProvParam success";

    private static Identity alice;
    private static Identity legacy;
    private static Identity locked;
    private static Identity dss;

    @BeforeAll
    static void makeIdentities() throws Exception {
        alice = TestProfile.newIdentity("CN=Alice");
        legacy = TestProfile.newIdentity("CN=Legacy", "--provider", LEGACY_PROVIDER);
        locked = TestProfile.newIdentity("CN=Locked", "--pin", PIN);
        dss = TestProfile.newIdentity("CN=Dss", "--key", "dsa-1024");
    }

    private static boolean verifies(Digest digest, Identity identity, byte[] data, byte[] signature)
            throws GeneralSecurityException {
        Signature verifier = Signature.getInstance(digest.rsaSignature);
        verifier.initVerify(identity.certificate());
        verifier.update(data);
        return verifier.verify(signature);
    }

    private static byte[] signWithPin(Identity identity, byte[] password) {
        return BrowserSignature.signDataWithPassword(Digest.SHA256.algorithmId, "RSA",
                identity.encoding(), DATA, password, false);
    }

    @ParameterizedTest
    @EnumSource(Digest.class)
    void signaturesOfDataVerifyAgainstTheCertificate(Digest digest) throws Exception {
        byte[] signed = BrowserSignature.sign(digest.algorithmId, "RSA", alice.encoding(), DATA);
        assertNotNull(signed);
        assertEquals(Status.SUCCESS, BrowserSignature.getLastError());
        assertTrue(verifies(digest, alice, DATA, signed));

        byte[] signedWithNoPassword = BrowserSignature.signDataWithPassword(digest.algorithmId,
                "RSA", alice.encoding(), DATA, null, false);
        assertArrayEquals(signed, signedWithNoPassword);
    }

    @ParameterizedTest
    @EnumSource(Digest.class)
    void precomputedHashSignsTheSameAsItsData(Digest digest) throws Exception {
        byte[] hash = MessageDigest.getInstance(digest.messageDigest).digest(DATA);
        byte[] fromHash = BrowserSignature.signDataWithPassword(digest.algorithmId, "RSA",
                alice.encoding(), hash, null, true);
        assertArrayEquals(BrowserSignature.sign(digest.algorithmId, "RSA", alice.encoding(), DATA),
                fromHash);
        assertTrue(verifies(digest, alice, DATA, fromHash));
    }

    @Test
    void hashValueShorterThanTheDigestIsRefused() throws Exception {
        byte[] hash = MessageDigest.getInstance("SHA-256").digest(DATA);
        try (LogRecorder log = LogRecorder.start()) {
            assertNull(BrowserSignature.signDataWithPassword(Digest.SHA256.algorithmId, "RSA",
                    alice.encoding(), Arrays.copyOf(hash, 31), null, true));
            assertEquals(Status.HASH_NOT_READY, BrowserSignature.getLastError());
            assertFalse(log.messages().contains("CryptSetHashParam success"));
        }
    }

    @Test
    void emptyDataSignsTheEmptyMessage() throws Exception {
        byte[] signed = BrowserSignature.sign(Digest.SHA1.algorithmId, "RSA", alice.encoding(),
                new byte[0]);
        assertNotNull(signed);
        assertTrue(verifies(Digest.SHA1, alice, new byte[0], signed));
    }

    @Test
    void legacyProviderIsReplacedForTheRsaKeyAlgorithm() throws Exception {
        try (LogRecorder log = LogRecorder.start()) {
            // The legacy provider itself has no SHA-256: this signs only through its substitute.
            byte[] signed = BrowserSignature.sign(Digest.SHA256.algorithmId, "RSA",
                    legacy.encoding(), DATA);
            assertNotNull(signed);
            assertTrue(verifies(Digest.SHA256, legacy, DATA, signed));
            List<String> lines = log.messages();
            int provider = lines.indexOf("Provider: " + LEGACY_PROVIDER);
            assertTrue(provider >= 0, lines::toString);
            assertEquals("New provider: " + SUBSTITUTE_PROVIDER, lines.get(provider + 1));
        }
    }

    @Test
    void legacyProviderWithAnotherKeyAlgorithmNameFailsWithoutAMessage() {
        try (LogRecorder log = LogRecorder.start()) {
            assertNull(BrowserSignature.sign(Digest.SHA1.algorithmId, "rsa", legacy.encoding(),
                    DATA));
            assertEquals(Status.NO_KEY_CONTAINER, BrowserSignature.getLastError());
            List<String> lines = log.messages();
            int provider = lines.indexOf("Provider: " + LEGACY_PROVIDER);
            assertEquals(List.of("Provider: " + LEGACY_PROVIDER, "CertCloseStore success"),
                    lines.subList(provider, lines.size()));
        }
    }

    @Test
    void currentProviderIsKeptWhateverTheKeyAlgorithmName() throws Exception {
        try (LogRecorder log = LogRecorder.start()) {
            byte[] signed = BrowserSignature.sign(Digest.SHA256.algorithmId, "anything",
                    alice.encoding(), DATA);
            assertTrue(verifies(Digest.SHA256, alice, DATA, signed));
            assertTrue(log.messages().contains("Provider: " + SUBSTITUTE_PROVIDER));
            assertTrue(log.messages().stream().noneMatch(line -> line.startsWith("New provider")));
        }
    }

    // Narrowing keeps each character's low byte: U+0100 would end the provider's name and U+0142
    // turn into "B", opening a container or provider the certificate does not name.
    @Test
    void bindingNamesBeyondLatin1AreNeverAcquired() throws Exception {
        List<Identity> identities = List.of(
                TestProfile.newIdentityWithUnicodeOptions("CN=Wide Provider", "--provider",
                        LEGACY_PROVIDER + "\u0100"),
                TestProfile.newIdentityWithUnicodeOptions("CN=Wide Container", "--container",
                        "\u0141ukasz"));
        for (Identity identity : identities) {
            try (LogRecorder log = LogRecorder.start()) {
                assertNull(BrowserSignature.sign(Digest.SHA256.algorithmId, "RSA",
                        identity.encoding(), DATA));
                assertEquals(Status.KEY_PROV_INFO_UNREADABLE, BrowserSignature.getLastError());
                assertEquals(List.of("Certificate found.",
                        "CertGetCertificateContextProperty# success",
                        "CertGetCertificateContextProperty error: 459", "CertCloseStore success"),
                        log.messages().subList(2, log.messages().size()));
            }
        }
        // Decryption looks the binding up the same way.
        try (LogRecorder log = LogRecorder.start()) {
            assertNull(RSACipher.decrypt(identities.get(1).encoding(), new byte[256]));
            assertEquals(Status.KEY_PROV_INFO_UNREADABLE, BrowserSignature.getLastError());
            assertEquals(List.of("CertGetCertificateContextProperty error: 459", "Decrypt finished"),
                    log.messages().subList(log.messages().size() - 2, log.messages().size()));
        }
    }

    @Test
    void statusTellsTheLastFailureAndIsZeroAfterASuccess() throws Exception {
        byte[] altered = alice.encoding();
        altered[altered.length - 1] ^= 1;
        byte[] shortened = Arrays.copyOf(alice.encoding(), alice.encoding().length - 1);
        for (byte[] unknown : List.of(altered, shortened)) {
            try (LogRecorder log = LogRecorder.start()) {
                assertNull(BrowserSignature.sign(Digest.SHA1.algorithmId, "RSA", unknown, DATA));
                assertEquals(Status.CERTIFICATE_NOT_FOUND, BrowserSignature.getLastError());
                assertEquals(List.of("Certificate not found", "CertCloseStore success"),
                        log.messages().subList(log.messages().size() - 2, log.messages().size()));
            }
        }
        assertNotNull(BrowserSignature.sign(Digest.SHA1.algorithmId, "RSA", alice.encoding(), DATA));
        assertEquals(Status.SUCCESS, BrowserSignature.getLastError());
    }

    @Test
    void lockedContainerRefusesTheSignatureWithTheProviderError() throws Exception {
        try (LogRecorder log = LogRecorder.start()) {
            assertNull(BrowserSignature.sign(Digest.SHA256.algorithmId, "RSA", locked.encoding(),
                    DATA));
            assertEquals(Status.SIGNATURE_FAILED, BrowserSignature.getLastError());
            assertEquals(CARD_NOT_AUTHENTICATED, BrowserSignature.getError());
            assertTrue(log.messages().contains("CryptSignHash error: 8010006f"), log.messages()::toString);
        }
        // Nothing but another failure in the provider changes the provider-error word.
        assertNotNull(BrowserSignature.sign(Digest.SHA256.algorithmId, "RSA", alice.encoding(), DATA));
        assertEquals(CARD_NOT_AUTHENTICATED, BrowserSignature.getError());
    }

    @Test
    void rightPinUnlocksTheContainer() throws Exception {
        try (LogRecorder log = LogRecorder.start()) {
            byte[] signed = signWithPin(locked, PIN.getBytes(US_ASCII));
            assertNotNull(signed);
            assertTrue(verifies(Digest.SHA256, locked, DATA, signed));
            assertTrue(log.messages().contains(PIN_ACCEPTED));
        }
    }

    @Test
    void pinEndsAtItsFirstZeroByte() throws Exception {
        byte[] password = (PIN + "\0trailing").getBytes(US_ASCII);
        assertTrue(verifies(Digest.SHA256, locked, DATA, signWithPin(locked, password)));
    }

    @Test
    void wrongPinIsNotLoggedAndTheSignatureIsRefused() {
        try (LogRecorder log = LogRecorder.start()) {
            assertNull(signWithPin(locked, "4321".getBytes(US_ASCII)));
            assertEquals(Status.SIGNATURE_FAILED, BrowserSignature.getLastError());
            assertEquals(CARD_NOT_AUTHENTICATED, BrowserSignature.getError());
            assertFalse(log.messages().contains(PIN_ACCEPTED));
        }
    }

    @Test
    void emptyPasswordIsNoPin() throws Exception {
        try (LogRecorder log = LogRecorder.start()) {
            assertNull(signWithPin(locked, new byte[0]));
            assertEquals(Status.SIGNATURE_FAILED, BrowserSignature.getLastError());
            byte[] signed = signWithPin(alice, new byte[0]);
            assertTrue(verifies(Digest.SHA256, alice, DATA, signed));
            assertFalse(log.messages().contains(PIN_ACCEPTED));
        }
    }

    @Test
    void signWithPasswordIsSignAndAppliesNoPin() {
        assertArrayEquals(
                BrowserSignature.sign(Digest.SHA384.algorithmId, "RSA", alice.encoding(), DATA),
                BrowserSignature.signWithPassword(Digest.SHA384.algorithmId, "RSA",
                        alice.encoding(), DATA));
        assertNull(BrowserSignature.signWithPassword(Digest.SHA384.algorithmId, "RSA",
                locked.encoding(), DATA));
        assertEquals(Status.SIGNATURE_FAILED, BrowserSignature.getLastError());
    }

    // CryptoAPI gives r then s, each least significant byte first; reversed whole, that is s then
    // r, each most significant byte first.
    @Test
    void dsaSignatureComesAsSThenRMostSignificantByteFirst() throws Exception {
        byte[] signed = BrowserSignature.sign(Digest.SHA1.algorithmId, "DSA", dss.encoding(), DATA);
        assertNotNull(signed);
        assertEquals(40, signed.length);
        byte[] rThenS = new byte[40];
        System.arraycopy(signed, 20, rThenS, 0, 20);
        System.arraycopy(signed, 0, rThenS, 20, 20);
        Signature verifier = Signature.getInstance("SHA1withDSAinP1363Format");
        verifier.initVerify(dss.certificate());
        verifier.update(DATA);
        assertTrue(verifier.verify(rThenS));
    }

    @Test
    void nullArgumentsGiveNullAndChangeNothing() {
        int sha1 = Digest.SHA1.algorithmId;
        byte[] certificate = alice.encoding();
        List<Supplier<byte[]>> calls = List.of(
                () -> BrowserSignature.sign(sha1, null, certificate, DATA),
                () -> BrowserSignature.sign(sha1, "RSA", null, DATA),
                () -> BrowserSignature.sign(sha1, "RSA", certificate, null),
                () -> BrowserSignature.signWithPassword(sha1, null, certificate, DATA),
                () -> BrowserSignature.signWithPassword(sha1, "RSA", null, DATA),
                () -> BrowserSignature.signWithPassword(sha1, "RSA", certificate, null),
                () -> BrowserSignature.signDataWithPassword(sha1, null, certificate, DATA, null, false),
                () -> BrowserSignature.signDataWithPassword(sha1, "RSA", null, DATA, null, false),
                () -> BrowserSignature.signDataWithPassword(sha1, "RSA", certificate, null, null, true));
        Status.recordCertificateNotFound();
        int providerError = BrowserSignature.getError();
        try (LogRecorder log = LogRecorder.start()) {
            assertAll(calls.stream().map(call -> () -> assertNull(call.get())));
            assertEquals(Status.CERTIFICATE_NOT_FOUND, BrowserSignature.getLastError());
            assertEquals(providerError, BrowserSignature.getError());
            assertEquals(List.of(), log.messages());
        }
    }

    @Test
    void eightThreadsSigningAtOnceAllGetValidSignatures() throws Exception {
        final int threads = 8;
        final int signaturesEach = 10;
        ExecutorService pool = Executors.newFixedThreadPool(threads);
        try {
            List<Callable<Boolean>> work = new ArrayList<>();
            for (int thread = 0; thread < threads; ++thread) {
                final int id = thread;
                work.add(() -> {
                    for (int i = 0; i < signaturesEach; ++i) {
                        byte[] data = ("thread " + id + " document " + i).getBytes(US_ASCII);
                        Digest digest = Digest.values()[(id + i) % Digest.values().length];
                        byte[] signed = BrowserSignature.sign(digest.algorithmId, "RSA",
                                alice.encoding(), data);
                        if (signed == null || !verifies(digest, alice, data, signed)) return false;
                    }
                    return true;
                });
            }
            for (Future<Boolean> result : pool.invokeAll(work)) assertTrue(result.get());
        } finally {
            pool.shutdown();
        }
    }
}
