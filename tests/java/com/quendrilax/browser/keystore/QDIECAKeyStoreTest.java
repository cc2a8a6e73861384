package com.quendrilax.browser.keystore;

import static org.junit.jupiter.api.Assertions.assertAll;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quendrilax.browser.keystore.provider.signature.BrowserSignature;
import com.quendrilax.browser.testing.Identity;
import com.quendrilax.browser.testing.LogRecorder;
import com.quendrilax.browser.testing.Status;
import com.quendrilax.browser.testing.TestProfile;
import java.io.ByteArrayInputStream;
import java.math.BigInteger;
import java.nio.file.Files;
import java.security.MessageDigest;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;

class QDIECAKeyStoreTest {

    // Certificates with keys in a store of their own; added elsewhere, they come without one.
    private static Identity first;
    private static Identity second;
    private static Identity third;
    private static Identity personal;

    @BeforeAll
    static void makeCertificates() throws Exception {
        first = TestProfile.newIdentity("CN=First", "--key", "rsa-1024", "--store", "Source");
        second = TestProfile.newIdentity("CN=Second", "--key", "rsa-1024", "--store", "Source");
        third = TestProfile.newIdentity("CN=Third", "--key", "rsa-1024", "--store", "Source");
        personal = TestProfile.newIdentity("CN=Personal", "--key", "rsa-1024");
    }

    private static String subjectOf(byte[] encoding) throws Exception {
        X509Certificate certificate = (X509Certificate) CertificateFactory.getInstance("X.509")
                .generateCertificate(new ByteArrayInputStream(encoding));
        return certificate.getSubjectX500Principal().getName();
    }

    /** The subjects of the store's listing, in its order; each entry must parse as a certificate. */
    private static List<String> listedSubjects(String store) throws Exception {
        List<String> subjects = new ArrayList<>();
        for (byte[] encoding : QDIECAKeyStore.getCertificatesInIESystemStore(store))
            subjects.add(subjectOf(encoding));
        return subjects;
    }

    private static boolean lists(String store, Identity identity) {
        return Arrays.stream(QDIECAKeyStore.getCertificatesInIESystemStore(store))
                .anyMatch(encoding -> Arrays.equals(encoding, identity.encoding()));
    }

    private static void add(String store, Identity... identities) {
        for (Identity identity : identities)
            QDIECAKeyStore.addCertificateInIESystemStore(store, identity.encoding());
    }

    @Test
    void listingRunsFromTheLastAddedToTheFirst() throws Exception {
        add("Listing", first, second, third);
        byte[][] listed = QDIECAKeyStore.getCertificatesInIESystemStore("Listing");
        assertEquals(3, listed.length);
        assertTrue(Arrays.equals(third.encoding(), listed[0]));
        assertTrue(Arrays.equals(second.encoding(), listed[1]));
        assertTrue(Arrays.equals(first.encoding(), listed[2]));
    }

    @Test
    void personalStoreSpelledMYListsOnlyCertificatesWithAKey() throws Exception {
        add("My", first);
        assertTrue(lists("MY", personal));
        assertFalse(lists("MY", first));
        for (String spelling : List.of("My", "my", "mY")) {
            assertEquals(first.subject(), listedSubjects(spelling).get(0), spelling);
            assertTrue(lists(spelling, personal), spelling);
        }
    }

    @Test
    void largeStoreListsEveryCertificateInReverseOrderOfAddition() throws Exception {
        final int count = 24;
        List<String> thumbprints = new ArrayList<>();
        Pattern thumbprint = Pattern.compile("^([0-9A-F]{40}) ");
        for (int i = 0; i < count; ++i) {
            String printed = TestProfile.runTool("new-identity", "--subject", "CN=Bulk " + i,
                    "--key", "rsa-1024", "--store", "Bulk");
            Matcher matcher = thumbprint.matcher(printed);
            assertTrue(matcher.find(), printed);
            thumbprints.add(matcher.group(1));
        }
        Collections.reverse(thumbprints);
        List<String> listed = new ArrayList<>();
        for (byte[] encoding : QDIECAKeyStore.getCertificatesInIESystemStore("Bulk"))
            listed.add(String.format("%040X",
                    new BigInteger(1, MessageDigest.getInstance("SHA-1").digest(encoding))));
        assertEquals(thumbprints, listed);
    }

    @Test
    void addingACertificateTheStoreHoldsChangesNothing() throws Exception {
        add("Twice", second, second);
        assertEquals(List.of(second.subject()), listedSubjects("Twice"));
    }

    @Test
    void deleteRemovesOnlyTheCertificateWithThatEncoding() throws Exception {
        add("Deleting", first, second, third);
        Status.recordCertificateNotFound();
        QDIECAKeyStore.deleteCertificateInIESystemStore("Deleting", second.encoding());
        assertEquals(List.of(third.subject(), first.subject()), listedSubjects("Deleting"));

        byte[] altered = first.encoding();
        altered[altered.length - 1] ^= 1;
        byte[] shortened = Arrays.copyOf(first.encoding(), first.encoding().length - 1);
        for (byte[] notHeld : List.of(second.encoding(), altered, shortened, new byte[0]))
            QDIECAKeyStore.deleteCertificateInIESystemStore("Deleting", notHeld);
        assertEquals(List.of(third.subject(), first.subject()), listedSubjects("Deleting"));
        assertEquals(Status.CERTIFICATE_NOT_FOUND, BrowserSignature.getLastError());
        assertTrue(lists("Source", second), "deleted from the named store only");
    }

    @Test
    void successfulMaintenanceAndMalformedCertificatesLeaveTheStatusAsItWas() throws Exception {
        Status.recordCertificateNotFound();
        add("Status", first);
        QDIECAKeyStore.addCertificateInIESystemStore("Status", new byte[] {0x30, 0x03, 0x02, 0x01});
        QDIECAKeyStore.addCertificateInIESystemStore("Status", new byte[0]);
        assertEquals(List.of(first.subject()), listedSubjects("Status"));
        QDIECAKeyStore.deleteCertificateInIESystemStore("Status", first.encoding());
        assertEquals(0, QDIECAKeyStore.getCertificatesInIESystemStore("Status").length);
        assertEquals(Status.CERTIFICATE_NOT_FOUND, BrowserSignature.getLastError());
    }

    @Test
    void storeThatCannotBeOpenedListsEmptyAndRecordsStatus7() {
        for (String name : List.of("No/Such", "")) {
            List<Executable> calls = List.of(
                    () -> assertEquals(0, QDIECAKeyStore.getCertificatesInIESystemStore(name).length),
                    () -> QDIECAKeyStore.addCertificateInIESystemStore(name, first.encoding()),
                    () -> QDIECAKeyStore.deleteCertificateInIESystemStore(name, first.encoding()));
            for (Executable call : calls) {
                Status.recordCertificateNotFound();
                assertAll(name, call,
                        () -> assertEquals(Status.STORE_NOT_OPENED, BrowserSignature.getLastError()));
            }
        }
    }

    @Test
    void maintenanceNeitherLogsNorTrimsTheLog() throws Exception {
        byte[] oversized = new byte[600 * 1024];
        Arrays.fill(oversized, (byte) '.');
        Files.write(TestProfile.logFile(), oversized);
        try (LogRecorder log = LogRecorder.start()) {
            add("Quiet", first);
            QDIECAKeyStore.getCertificatesInIESystemStore("Quiet");
            QDIECAKeyStore.deleteCertificateInIESystemStore("Quiet", first.encoding());
            assertEquals(List.of(), log.messages());
        }
        assertEquals(oversized.length, Files.size(TestProfile.logFile()));
        // A signing does trim it: the file was over the limit all along.
        Status.recordCertificateNotFound();
        assertTrue(Files.size(TestProfile.logFile()) < 1024);
    }

    @Test
    void nullArgumentsListNothingAndChangeNothing() throws Exception {
        add("Nulls", third);
        Status.recordCertificateNotFound();
        try (LogRecorder log = LogRecorder.start()) {
            byte[][] listed = QDIECAKeyStore.getCertificatesInIESystemStore(null);
            assertNotNull(listed);
            assertEquals(0, listed.length);
            QDIECAKeyStore.addCertificateInIESystemStore(null, first.encoding());
            QDIECAKeyStore.addCertificateInIESystemStore("Nulls", null);
            QDIECAKeyStore.deleteCertificateInIESystemStore(null, third.encoding());
            QDIECAKeyStore.deleteCertificateInIESystemStore("Nulls", null);
            assertEquals(List.of(), log.messages());
        }
        assertEquals(Status.CERTIFICATE_NOT_FOUND, BrowserSignature.getLastError());
        assertEquals(List.of(third.subject()), listedSubjects("Nulls"));
    }
}
