package com.quendrilax.browser.keystore.provider;

import static java.nio.charset.StandardCharsets.US_ASCII;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quendrilax.browser.cipher.RSACipher;
import com.quendrilax.browser.keystore.provider.signature.BrowserSignature;
import com.quendrilax.browser.testing.CipherTexts;
import com.quendrilax.browser.testing.Digest;
import com.quendrilax.browser.testing.Identity;
import com.quendrilax.browser.testing.LogRecorder;
import com.quendrilax.browser.testing.Status;
import com.quendrilax.browser.testing.TestProfile;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.Provider;
import java.security.Signature;
import java.util.ArrayList;
import java.util.List;
import java.util.ServiceLoader;
import java.util.concurrent.CopyOnWriteArrayList;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.function.Consumer;
import java.util.logging.Handler;
import java.util.logging.Level;
import java.util.logging.LogRecord;
import java.util.logging.Logger;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

class QDBrowserProviderTest {

    private static final byte[] DATA = "Delivery note 17".getBytes(US_ASCII);
    private static final byte[] SECRET = "rendezvous at noon".getBytes(US_ASCII);
    // Month/day/year hour:minute:second, then " - " and the message.
    private static final Pattern DATED_LINE =
            Pattern.compile("\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d - (.*)");

    private static Identity alice;

    @BeforeAll
    static void makeIdentity() throws Exception {
        alice = TestProfile.importedIdentity("CN=Alice");
    }

    private static boolean verifies(byte[] signature) throws Exception {
        Signature verifier = Signature.getInstance(Digest.SHA256.rsaSignature);
        verifier.initVerify(alice.certificate());
        verifier.update(DATA);
        return signature != null && verifier.verify(signature);
    }

    /** A signing, a failed signing and a decryption through the OAEP retry. */
    private static void signAndDecrypt(byte[] cipherText) throws Exception {
        assertTrue(verifies(BrowserSignature.sign(Digest.SHA256.algorithmId, "RSA",
                alice.encoding(), DATA)));
        Status.recordCertificateNotFound();
        assertArrayEquals(SECRET, RSACipher.decrypt(alice.encoding(), cipherText));
    }

    @Test
    void logJniReceivesTheLinesOfTheLogFile() throws Exception {
        byte[] cipherText = CipherTexts.oaepRejectedAsPkcs1(alice, SECRET, 1).get(0);
        TestProfile.clearLog();
        List<String> received;
        try (LogRecorder log = LogRecorder.start()) {
            signAndDecrypt(cipherText);
            received = log.messages();
        }
        assertTrue(received.contains("CryptDecrypt success\n"), received::toString);

        // A message ending in a line feed shows as its line and an empty one.
        List<String> expected = new ArrayList<>();
        for (String message : received) expected.addAll(List.of(message.split("\n", -1)));
        List<String> file = new ArrayList<>();
        for (String line : TestProfile.logFileLines()) {
            Matcher dated = DATED_LINE.matcher(line);
            file.add(dated.matches() ? dated.group(1) : line);
        }
        assertEquals(expected, file);
    }

    @Test
    void throwingListenerNeitherStopsTheCallNorReachesTheCaller() throws Exception {
        byte[] cipherText = CipherTexts.oaepRejectedAsPkcs1(alice, SECRET, 1).get(0);
        List<String> undisturbed;
        try (LogRecorder log = LogRecorder.start()) {
            signAndDecrypt(cipherText);
            undisturbed = log.messages();
        }
        AtomicInteger thrown = new AtomicInteger();
        Consumer<String> throwing = line -> {
            thrown.incrementAndGet();
            throw new IllegalStateException("listener refuses " + line);
        };
        // Registered after the recorder, so the recorder still sees every line.
        try (LogRecorder log = LogRecorder.start()) {
            QDBrowserProvider.addLogListener(throwing);
            try {
                signAndDecrypt(cipherText);
                assertEquals(Status.SUCCESS, BrowserSignature.getLastError());
            } finally {
                QDBrowserProvider.removeLogListener(throwing);
            }
            assertEquals(undisturbed, log.messages());
            assertEquals(undisturbed.size(), thrown.get());
        }
    }

    @Test
    void logLinesAlsoReachTheSystemLoggerAtDebugOnceAProviderExists() {
        new QDBrowserProvider();
        // The JDK's System.Logger goes to java.util.logging, where DEBUG is FINE.
        Logger logger = Logger.getLogger(QDBrowserProvider.class.getName());
        List<LogRecord> records = new CopyOnWriteArrayList<>();
        Handler handler = new Handler() {
            @Override
            public void publish(LogRecord record) {
                records.add(record);
            }

            @Override
            public void flush() {}

            @Override
            public void close() {}
        };
        logger.addHandler(handler);
        logger.setLevel(Level.FINE);
        try {
            QDBrowserProvider.logJNI("CryptAcquireContext success");
        } finally {
            logger.removeHandler(handler);
            logger.setLevel(null);
        }
        assertEquals(1, records.size());
        assertEquals(Level.FINE, records.get(0).getLevel());
        assertEquals("CryptAcquireContext success", records.get(0).getMessage());
    }

    @Test
    void providerIsFoundByServiceLoaderUnderItsName() {
        List<String> names = new ArrayList<>();
        for (Provider provider : ServiceLoader.load(Provider.class)) names.add(provider.getName());
        assertTrue(names.contains("QDIE"), names::toString);
        Provider provider = new QDBrowserProvider();
        assertNotNull(provider.getService("KeyStore", "QDIE-MY"));
        assertNotNull(provider.getService("Signature", "SHA1withDSAinP1363Format"));
        assertNotNull(provider.getService("Cipher", "RSA"));
    }

    @Test
    void withoutTheLogFolderNothingIsWrittenOrForwarded() throws Exception {
        Path folder = TestProfile.logFile().getParent();
        Path aside = folder.resolveSibling("quendrilax.aside");
        Files.move(folder, aside);
        try (LogRecorder log = LogRecorder.start()) {
            byte[] signature = BrowserSignature.sign(Digest.SHA256.algorithmId, "RSA",
                    alice.encoding(), DATA);
            assertNotNull(signature);
            assertTrue(verifies(signature));
            assertEquals(List.of(), log.messages());
            assertFalse(Files.exists(folder));
        } finally {
            Files.move(aside, folder);
        }
    }
}
