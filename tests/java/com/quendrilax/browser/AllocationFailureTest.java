package com.quendrilax.browser;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quendrilax.browser.cipher.RSACipher;
import com.quendrilax.browser.keystore.QDIECAKeyStore;
import com.quendrilax.browser.keystore.provider.signature.BrowserSignature;
import com.quendrilax.browser.testing.AllocationFaults;
import com.quendrilax.browser.testing.CipherTexts;
import com.quendrilax.browser.testing.Digest;
import com.quendrilax.browser.testing.Identity;
import com.quendrilax.browser.testing.TestProfile;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.security.Signature;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * Each C++ allocation of each native's path failing in turn, in the JVM an application runs: the
 * native comes back with its right result or its empty one, throws nothing into Java, and works on
 * the next call. The key store file is replaced by a copy of itself before each call, so the
 * library reads it anew and meets every allocation of its path. Under ASan this is the thrown std::bad_alloc unwinding
 * inside the JVM; the tests fail when no allocation was reached.
 */
class AllocationFailureTest {

    private static final byte[] DATA = "allocation".getBytes(StandardCharsets.US_ASCII);
    private static final String TARGET_STORE = "Target";
    private static Identity alice;
    private static Identity other;
    private static byte[] cipherText;

    /** A native call, and afterwards, out of the armed stretch, the judgement of its result. */
    private interface Case {
        Object call();

        /** True for the right result, false for the empty one; the test fails on anything else. */
        boolean isRight(Object result) throws Exception;
    }

    @BeforeAll
    static void makeIdentities() throws Exception {
        alice = TestProfile.newIdentity("CN=Alice", "--key", "rsa-1024");
        other = TestProfile.newIdentity("CN=Other", "--key", "rsa-1024", "--store", "Source");
        cipherText = CipherTexts.encrypt(CipherTexts.PKCS1, alice.publicKey(), DATA);
    }

    /** A new key store file, a copy of the old: the next call reads it anew, all of it. */
    private static void changeKeyStore() throws IOException {
        Path keystore = TestProfile.folder().resolve(".local/share/qdie-keystore/keystore.db");
        Path copy = keystore.resolveSibling("keystore.db.copy");
        Files.copy(keystore, copy, StandardCopyOption.REPLACE_EXISTING,
                StandardCopyOption.COPY_ATTRIBUTES);
        Files.move(copy, keystore, StandardCopyOption.ATOMIC_MOVE,
                StandardCopyOption.REPLACE_EXISTING);
    }

    private static Object armedCall(Case c, int failAt) {
        AllocationFaults.arm(failAt);
        try {
            return c.call();
        } finally {
            AllocationFaults.disarm();
        }
    }

    /** Sweeps the call's allocations, each run after `prepare`; gives how many there were. */
    private static int sweep(String name, Runnable prepare, Case c) throws Exception {
        int points = 0;
        // The first call fills what lives as long as the process; the second counts.
        for (int run = 0; run < 2; ++run) {
            prepare.run();
            changeKeyStore();
            AllocationFaults.arm(0);
            Object result = c.call();
            points = AllocationFaults.disarm();
            assertTrue(c.isRight(result), name + " without a failure");
        }
        assertTrue(points > 0, name + " allocates nothing");
        for (int nth = 1; nth <= points; ++nth) {
            prepare.run();
            changeKeyStore();
            Object result = armedCall(c, nth);
            assertTrue(AllocationFaults.failed(), name + ": allocation " + nth + " never made");
            c.isRight(result);
            prepare.run();
            assertTrue(c.isRight(c.call()), name + ": the call after allocation " + nth);
        }
        System.out.println(name + ": " + points + " allocation failure points");
        return points;
    }

    private static byte[] listed(String store) {
        byte[][] certificates = QDIECAKeyStore.getCertificatesInIESystemStore(store);
        assertNotNull(certificates);
        assertTrue(certificates.length <= 1);
        return certificates.length == 0 ? null : certificates[0];
    }

    @Test
    void signingAndDecryptionComeBackRightOrNull() throws Exception {
        sweep("sign", () -> {}, new Case() {
            public Object call() {
                return BrowserSignature.sign(Digest.SHA256.algorithmId, "RSA", alice.encoding(),
                        DATA);
            }

            public boolean isRight(Object result) throws Exception {
                if (result == null) return false;
                Signature verifier = Signature.getInstance(Digest.SHA256.rsaSignature);
                verifier.initVerify(alice.certificate());
                verifier.update(DATA);
                assertTrue(verifier.verify((byte[]) result));
                return true;
            }
        });
        sweep("decrypt", () -> {}, new Case() {
            public Object call() {
                return RSACipher.decrypt(alice.encoding(), cipherText);
            }

            public boolean isRight(Object result) {
                if (result == null) return false;
                assertArrayEquals(DATA, (byte[]) result);
                return true;
            }
        });
    }

    @Test
    void storeMaintenanceListsRightOrNothingAndChangesWholly() throws Exception {
        sweep("getCertificatesInIESystemStore", () -> {}, new Case() {
            public Object call() {
                return QDIECAKeyStore.getCertificatesInIESystemStore("My");
            }

            public boolean isRight(Object result) {
                byte[][] certificates = (byte[][]) result;
                assertNotNull(certificates);
                if (certificates.length == 0) return false;
                assertEquals(1, certificates.length);
                assertArrayEquals(alice.encoding(), certificates[0]);
                return true;
            }
        });
        Runnable without = () -> QDIECAKeyStore.deleteCertificateInIESystemStore(TARGET_STORE,
                other.encoding());
        Runnable with = () -> QDIECAKeyStore.addCertificateInIESystemStore(TARGET_STORE,
                other.encoding());
        sweep("addCertificateInIESystemStore", without, new Case() {
            public Object call() {
                with.run();
                return null;
            }

            public boolean isRight(Object result) {
                byte[] held = listed(TARGET_STORE);
                if (held != null) assertArrayEquals(other.encoding(), held);
                return held != null;
            }
        });
        sweep("deleteCertificateInIESystemStore", with, new Case() {
            public Object call() {
                without.run();
                return null;
            }

            public boolean isRight(Object result) {
                return listed(TARGET_STORE) == null;
            }
        });
    }
}
