package com.quendrilax.browser.keystore.provider.spi;

import static java.nio.charset.StandardCharsets.US_ASCII;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quendrilax.browser.testing.Identity;
import com.quendrilax.browser.testing.QdieKeys;
import com.quendrilax.browser.testing.TestProfile;
import java.security.PrivateKey;
import java.security.Signature;
import java.security.SignatureException;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicInteger;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * A key of the key store holds the key the library opened for it: used from many threads at
 * once, destroyed while in use, destroyed twice, used after destroy(), and left to the collector
 * while in use, it never signs wrongly, never crashes, and is released exactly once.
 */
class HeldKeyTest {

    private static final byte[] DATA = "Held for the whole run".getBytes(US_ASCII);
    private static final int THREADS = 32;

    private static Identity rsa;
    private static Identity ec;

    @BeforeAll
    static void makeIdentities() throws Exception {
        rsa = TestProfile.newIdentity("CN=Held RSA");
        ec = TestProfile.newIdentity("CN=Held EC", "--key", "ec-p256");
        QdieKeys.install();
    }

    private static boolean verifies(String algorithm, Identity identity, byte[] signature)
            throws Exception {
        Signature verifier = Signature.getInstance(algorithm);
        verifier.initVerify(identity.certificate());
        verifier.update(DATA);
        return verifier.verify(signature);
    }

    /**
     * 32 threads sign with one key until it is destroyed under them: every signature made
     * verifies, every thread then meets the refusal in words, and the key is let go once.
     */
    @Test
    void destroyedWhileThirtyTwoThreadsSignItGoesWhenTheLastCallReturns() throws Exception {
        for (Identity identity : new Identity[] {rsa, ec}) {
            String algorithm = identity == rsa ? "SHA256withRSA" : "SHA256withECDSA";
            int heldBefore = KeyHandle.held();
            PrivateKey key = QdieKeys.privateKey(identity, null);
            CountDownLatch initialised = new CountDownLatch(THREADS);
            CountDownLatch signedSome = new CountDownLatch(THREADS * 5);
            AtomicInteger wrong = new AtomicInteger();
            ExecutorService threads = Executors.newFixedThreadPool(THREADS);
            List<Future<String>> refusals = new ArrayList<>();
            for (int t = 0; t < THREADS; ++t) {
                refusals.add(threads.submit(() -> {
                    Signature signer = Signature.getInstance(algorithm, "QDIE");
                    signer.initSign(key);
                    initialised.countDown();
                    while (true) {
                        signer.update(DATA);
                        byte[] signature;
                        try {
                            signature = signer.sign();
                        } catch (SignatureException refused) {
                            return refused.getMessage();
                        }
                        if (!verifies(algorithm, identity, signature)) wrong.incrementAndGet();
                        signedSome.countDown();
                    }
                }));
            }
            initialised.await();
            signedSome.await();
            key.destroy();
            for (Future<String> refusal : refusals)
                assertTrue(refusal.get().endsWith("was destroyed"), refusal.get());
            threads.shutdown();
            assertEquals(0, wrong.get(), "signatures that do not verify");
            assertTrue(key.isDestroyed());
            assertEquals(heldBefore, KeyHandle.held(), "the key is released when its last call returns");
            key.destroy();
            assertEquals(heldBefore, KeyHandle.held(), "a second destroy() releases nothing more");
        }
    }

    /**
     * Keys nobody destroys, collected while threads sign with fresh ones and the collector runs
     * all the while: every signature verifies, and every key is released in the end.
     */
    @Test
    void keysLeftToTheCollectorAreReleasedEvenWhileInUse() throws Exception {
        int heldBefore = KeyHandle.held();
        AtomicBoolean signing = new AtomicBoolean(true);
        Thread collector = new Thread(() -> {
            while (signing.get()) {
                System.gc();
                Thread.onSpinWait();
            }
        });
        collector.start();
        AtomicInteger wrong = new AtomicInteger();
        ExecutorService threads = Executors.newFixedThreadPool(4);
        List<Future<?>> done = new ArrayList<>();
        for (int t = 0; t < 4; ++t) {
            done.add(threads.submit(() -> {
                for (int i = 0; i < 150; ++i) {
                    Signature signer = Signature.getInstance("SHA256withECDSA", "QDIE");
                    signer.initSign(QdieKeys.privateKey(ec, null));
                    signer.update(DATA);
                    if (!verifies("SHA256withECDSA", ec, signer.sign())) wrong.incrementAndGet();
                }
                return null;
            }));
        }
        for (Future<?> thread : done) thread.get();
        signing.set(false);
        collector.join();
        threads.shutdown();
        assertEquals(0, wrong.get(), "signatures that do not verify");
        // The Cleaner's thread releases what the collector found; give it time on a busy machine.
        for (int wait = 0; wait < 600 && KeyHandle.held() > heldBefore; ++wait) {
            System.gc();
            Thread.sleep(50);
        }
        assertEquals(heldBefore, KeyHandle.held(), "keys still held after the collector ran");
    }
}
