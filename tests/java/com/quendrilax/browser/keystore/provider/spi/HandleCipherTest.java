package com.quendrilax.browser.keystore.provider.spi;

import static java.nio.charset.StandardCharsets.US_ASCII;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quendrilax.browser.testing.CipherTexts;
import com.quendrilax.browser.testing.Identity;
import com.quendrilax.browser.testing.QdieKeys;
import com.quendrilax.browser.testing.TestProfile;
import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.Key;
import java.security.PrivateKey;
import java.security.ProviderException;
import java.security.Signature;
import java.security.spec.MGF1ParameterSpec;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import javax.crypto.BadPaddingException;
import javax.crypto.Cipher;
import javax.crypto.IllegalBlockSizeException;
import javax.crypto.ShortBufferException;
import javax.crypto.spec.OAEPParameterSpec;
import javax.crypto.spec.PSource;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

class HandleCipherTest {

    private static final byte[] SECRET = "the vault opens at six".getBytes(US_ASCII);

    private static Identity alice;
    private static PrivateKey key;

    @BeforeAll
    static void makeIdentity() throws Exception {
        alice = TestProfile.importedIdentity("CN=Alice");
        key = QdieKeys.privateKey(alice, null);
    }

    private static Cipher decrypting(String transformation, Object parameters) throws Exception {
        Cipher cipher = Cipher.getInstance(transformation);
        if (parameters == null) cipher.init(Cipher.DECRYPT_MODE, key);
        else cipher.init(Cipher.DECRYPT_MODE, key, (OAEPParameterSpec) parameters);
        assertEquals("QDIE", cipher.getProvider().getName());
        return cipher;
    }

    @Test
    void decryptsPkcs1AndOaepCipherTextsOfTheJdk() throws Exception {
        byte[] pkcs1 = CipherTexts.encrypt(CipherTexts.PKCS1, alice.publicKey(), SECRET);
        assertArrayEquals(SECRET, decrypting(CipherTexts.PKCS1, null).doFinal(pkcs1));

        // Ciphertexts PKCS #1 v1.5 unpadding rejects, so the library's OAEP attempt decides.
        for (byte[] oaep : CipherTexts.oaepRejectedAsPkcs1(alice, SECRET, 3)) {
            assertArrayEquals(SECRET, decrypting(CipherTexts.OAEP, null).doFinal(oaep));
            Cipher explicit = decrypting("RSA/ECB/OAEPPadding", OAEPParameterSpec.DEFAULT);
            explicit.update(oaep, 0, 100);
            assertArrayEquals(SECRET, explicit.doFinal(oaep, 100, oaep.length - 100));
        }
    }

    // A key storage provider's key decrypts through CNG with the padding asked for, OAEP with one
    // digest for OAEP and MGF1 and a label too; a CSP's key refuses what its provider cannot
    // remove. OAEPWithSHA-256AndMGF1Padding means MGF1 over SHA-1, as SunJCE reads it, which CNG
    // cannot do: refused at init, with how to ask for SHA-256 throughout.
    @Test
    void keyStorageProviderKeyDecryptsOaepWithOneDigestAndALabel() throws Exception {
        Identity cng = TestProfile.newIdentity("CN=CngCipher", "--provider",
                "Microsoft Software Key Storage Provider");
        PrivateKey cngKey = QdieKeys.privateKey(cng, null);
        OAEPParameterSpec sha256 = new OAEPParameterSpec("SHA-256", "MGF1",
                MGF1ParameterSpec.SHA256, PSource.PSpecified.DEFAULT);
        OAEPParameterSpec labelled = new OAEPParameterSpec("SHA-512", "MGF1",
                MGF1ParameterSpec.SHA512, new PSource.PSpecified(new byte[] {7, 7}));
        for (OAEPParameterSpec parameters : new OAEPParameterSpec[] {sha256, labelled}) {
            Cipher encrypt = Cipher.getInstance("RSA/ECB/OAEPPadding", "SunJCE");
            encrypt.init(Cipher.ENCRYPT_MODE, cng.publicKey(), parameters);
            byte[] cipherText = encrypt.doFinal(SECRET);
            Cipher byParameters = Cipher.getInstance("RSA/ECB/OAEPPadding");
            byParameters.init(Cipher.DECRYPT_MODE, cngKey, parameters);
            assertEquals("QDIE", byParameters.getProvider().getName());
            assertArrayEquals(SECRET, byParameters.doFinal(cipherText));
            // CNG removes the padding asked for: SHA-1's does not remove another's.
            assertThrows(BadPaddingException.class,
                    () -> decryptingWith(cngKey, CipherTexts.OAEP).doFinal(cipherText));
        }

        InvalidKeyException byName = assertThrows(InvalidKeyException.class,
                () -> Cipher.getInstance("RSA/ECB/OAEPWithSHA-256AndMGF1Padding")
                        .init(Cipher.DECRYPT_MODE, cngKey));
        assertTrue(byName.getMessage().contains("asked: OAEP with SHA-256, MGF1 over SHA-1 and no"
                + " label; for SHA-256 throughout, init with new OAEPParameterSpec(\"SHA-256\","),
                byName::getMessage);
    }

    // The padding asked is the only one removed, whoever holds the key: a PKCS #1 v1.5 ciphertext
    // never answers an OAEP cipher, the padding oracle OAEP is chosen to close.
    @Test
    void oaepCipherRefusesPkcs1CipherTexts() throws Exception {
        Identity cng = TestProfile.newIdentity("CN=CngOracle", "--provider",
                "Microsoft Software Key Storage Provider");
        for (Identity identity : new Identity[] {alice, cng}) {
            byte[] pkcs1 = CipherTexts.encrypt(CipherTexts.PKCS1, identity.publicKey(), SECRET);
            PrivateKey handle = QdieKeys.privateKey(identity, null);
            for (String oaep : new String[] {CipherTexts.OAEP, "RSA/ECB/OAEPPadding"}) {
                BadPaddingException refused = assertThrows(BadPaddingException.class,
                        () -> decryptingWith(handle, oaep).doFinal(pkcs1));
                assertTrue(refused.getMessage().contains("and OAEP with SHA-1, MGF1 over SHA-1 and"
                        + " no label failed: the ciphertext does not decrypt"),
                        refused::getMessage);
            }
        }
    }

    // A key destroyed after the cipher's init does nothing more.
    @Test
    void destroyedKeyDecryptsNothingMore() throws Exception {
        PrivateKey handle = QdieKeys.privateKey(alice, null);
        Cipher cipher = decryptingWith(handle, CipherTexts.PKCS1);
        handle.destroy();
        byte[] pkcs1 = CipherTexts.encrypt(CipherTexts.PKCS1, alice.publicKey(), SECRET);
        IllegalStateException refused = assertThrows(IllegalStateException.class,
                () -> cipher.doFinal(pkcs1));
        assertTrue(refused.getMessage().endsWith("was destroyed"), refused::getMessage);
        Cipher unwrapping = Cipher.getInstance(CipherTexts.PKCS1);
        PrivateKey other = QdieKeys.privateKey(alice, null);
        unwrapping.init(Cipher.UNWRAP_MODE, other);
        other.destroy();
        assertThrows(InvalidKeyException.class,
                () -> unwrapping.unwrap(pkcs1, "AES", Cipher.SECRET_KEY));
    }

    private static Cipher decryptingWith(PrivateKey handle, String transformation) throws Exception {
        Cipher cipher = Cipher.getInstance(transformation);
        cipher.init(Cipher.DECRYPT_MODE, handle);
        return cipher;
    }

    // As SunJCE: input beyond one block is refused at doFinal and none of it kept, however much
    // update is given; the cipher then decrypts again.
    @Test
    void inputLongerThanTheKeyIsRefusedWithoutBeingKept() throws Exception {
        Cipher cipher = decrypting(CipherTexts.PKCS1, null);
        // 4 GiB in all: more than any Java array holds, so a cipher that kept it would fail here.
        byte[] chunk = new byte[1 << 20];
        for (int i = 0; i < 4096; ++i) cipher.update(chunk);
        assertThrows(IllegalBlockSizeException.class, cipher::doFinal);
        cipher.update(new byte[200]);
        assertThrows(IllegalBlockSizeException.class, () -> cipher.doFinal(new byte[57]));
        byte[] pkcs1 = CipherTexts.encrypt(CipherTexts.PKCS1, alice.publicKey(), SECRET);
        assertArrayEquals(SECRET, cipher.doFinal(pkcs1));
    }

    // A ShortBufferException takes nothing: the same call with room enough decrypts.
    @Test
    void shortOutputBufferLeavesTheInputForTheRetry() throws Exception {
        byte[] pkcs1 = CipherTexts.encrypt(CipherTexts.PKCS1, alice.publicKey(), SECRET);
        Cipher cipher = decrypting(CipherTexts.PKCS1, null);
        cipher.update(pkcs1, 0, 10);
        assertThrows(ShortBufferException.class,
                () -> cipher.doFinal(pkcs1, 10, pkcs1.length - 10, new byte[SECRET.length - 1], 0));
        byte[] output = new byte[SECRET.length + 3];
        assertEquals(SECRET.length, cipher.doFinal(pkcs1, 10, pkcs1.length - 10, output, 3));
        assertArrayEquals(SECRET, Arrays.copyOfRange(output, 3, output.length));
    }

    @Test
    void unwrapsASecretKey() throws Exception {
        byte[] aesKey = new byte[32];
        Arrays.fill(aesKey, (byte) 0x5a);
        byte[] wrapped = CipherTexts.encrypt(CipherTexts.PKCS1, alice.publicKey(), aesKey);
        Cipher cipher = Cipher.getInstance(CipherTexts.PKCS1);
        cipher.init(Cipher.UNWRAP_MODE, key);
        Key unwrapped = cipher.unwrap(wrapped, "AES", Cipher.SECRET_KEY);
        assertEquals("AES", unwrapped.getAlgorithm());
        assertArrayEquals(aesKey, unwrapped.getEncoded());
    }

    @Test
    void publicKeyOperationsAreTheJdks() throws Exception {
        Cipher cipher = Cipher.getInstance(CipherTexts.PKCS1, "QDIE");
        cipher.init(Cipher.ENCRYPT_MODE, alice.publicKey());
        byte[] cipherText = cipher.doFinal(SECRET);
        Cipher jdk = Cipher.getInstance(CipherTexts.PKCS1);
        jdk.init(Cipher.DECRYPT_MODE, alice.privateKey());
        assertArrayEquals(SECRET, jdk.doFinal(cipherText));

        InvalidKeyException refused = assertThrows(InvalidKeyException.class,
                () -> Cipher.getInstance(CipherTexts.PKCS1, "QDIE").init(Cipher.ENCRYPT_MODE, key));
        assertTrue(refused.getMessage().contains("decrypts and unwraps only"), refused::getMessage);
    }

    @Test
    void cspKeyTakesOnlyTheDefaultOaepParameters() throws Exception {
        OAEPParameterSpec sha256 = new OAEPParameterSpec("SHA-256", "MGF1",
                MGF1ParameterSpec.SHA256, PSource.PSpecified.DEFAULT);
        OAEPParameterSpec labelled = new OAEPParameterSpec("SHA-1", "MGF1",
                MGF1ParameterSpec.SHA1, new PSource.PSpecified(new byte[] {1}));
        for (OAEPParameterSpec refused : new OAEPParameterSpec[] {sha256, labelled}) {
            Cipher cipher = Cipher.getInstance("RSA/ECB/OAEPPadding", "QDIE");
            InvalidAlgorithmParameterException csp = assertThrows(
                    InvalidAlgorithmParameterException.class,
                    () -> cipher.init(Cipher.DECRYPT_MODE, key, refused));
            assertTrue(csp.getMessage().contains("is a CSP's, which removes OAEP with SHA-1, MGF1"
                    + " over SHA-1 and no label only"), csp::getMessage);
        }
    }

    @Test
    void failuresSayWhatFailedWithTheStatusTheStepAndTheWindowsError() throws Exception {
        byte[] garbage = new byte[256];
        Arrays.fill(garbage, (byte) 0x17);
        BadPaddingException badPadding = assertThrows(BadPaddingException.class,
                () -> decrypting(CipherTexts.PKCS1, null).doFinal(garbage));
        assertTrue(badPadding.getMessage().endsWith("does not decrypt with the key and the padding"
                + " asked at CryptDecrypt (status 22, Windows error 0x80090005: bad data)"),
                badPadding::getMessage);

        assertThrows(IllegalBlockSizeException.class,
                () -> decrypting(CipherTexts.PKCS1, null).doFinal(new byte[257]));

        // A signature-only container has no key-exchange key to decrypt with.
        Identity signer = TestProfile.newIdentity("CN=Signer", "--key-spec", "signature");
        Cipher cipher = Cipher.getInstance(CipherTexts.PKCS1);
        cipher.init(Cipher.DECRYPT_MODE, QdieKeys.privateKey(signer, null));
        byte[] cipherText = CipherTexts.encrypt(CipherTexts.PKCS1, signer.publicKey(), SECRET);
        ProviderException noExchangeKey = assertThrows(ProviderException.class,
                () -> cipher.doFinal(cipherText));
        assertTrue(noExchangeKey.getMessage().endsWith("has no key-exchange key at"
                + " CryptGetUserKey (status 23, Windows error 0x8009000d: no such key in the"
                + " container)"), noExchangeKey::getMessage);
    }

    // Sixteen threads decrypting what has no valid padding, decrypting with a key that has no
    // exchange key and signing, at once: each failure is that call's, whatever the others do.
    @Test
    void concurrentCallsEachGetTheirOwnOutcome() throws Exception {
        Identity signer = TestProfile.newIdentity("CN=Concurrent Signer", "--key-spec", "signature");
        PrivateKey signerKey = QdieKeys.privateKey(signer, null);
        byte[] garbage = new byte[256];
        Arrays.fill(garbage, (byte) 0x17);
        byte[] forSigner = CipherTexts.encrypt(CipherTexts.PKCS1, signer.publicKey(), SECRET);
        ExecutorService pool = Executors.newFixedThreadPool(16);
        try {
            List<Future<?>> calls = new ArrayList<>();
            for (int thread = 0; thread < 16; ++thread) {
                int kind = thread % 3;
                calls.add(pool.submit(() -> {
                    for (int i = 0; i < 60; ++i) {
                        if (kind == 0) {
                            BadPaddingException refused = assertThrows(BadPaddingException.class,
                                    () -> decrypting(CipherTexts.PKCS1, null).doFinal(garbage));
                            assertTrue(refused.getMessage().contains("(status 22, Windows error"
                                    + " 0x80090005"), refused::getMessage);
                        } else if (kind == 1) {
                            Cipher cipher = Cipher.getInstance(CipherTexts.PKCS1);
                            cipher.init(Cipher.DECRYPT_MODE, signerKey);
                            ProviderException refused = assertThrows(ProviderException.class,
                                    () -> cipher.doFinal(forSigner));
                            assertTrue(refused.getMessage().contains("(status 23, Windows error"
                                    + " 0x8009000d"), refused::getMessage);
                        } else {
                            Signature signing = Signature.getInstance("SHA256withRSA");
                            signing.initSign(key);
                            signing.update(SECRET);
                            Signature verifier = Signature.getInstance("SHA256withRSA");
                            verifier.initVerify(alice.certificate());
                            verifier.update(SECRET);
                            assertTrue(verifier.verify(signing.sign()));
                        }
                    }
                    return null;
                }));
            }
            for (Future<?> call : calls) call.get();
        } finally {
            pool.shutdown();
        }
    }

    // The PIN given to getKey reaches the key of a CSP and of a key storage provider alike;
    // without it, or with a wrong one, the key refuses, which is the caller's fault, not the
    // ciphertext's: no BadPaddingException.
    @Test
    void pinFromGetKeyUnlocksDecryption() throws Exception {
        Identity csp = TestProfile.newIdentity("CN=Locked", "--pin", "1234");
        Identity cng = TestProfile.newIdentity("CN=Locked Cng", "--pin", "1234", "--provider",
                "Microsoft Software Key Storage Provider");
        for (Identity locked : new Identity[] {csp, cng}) {
            byte[] cipherText = CipherTexts.encrypt(CipherTexts.PKCS1, locked.publicKey(), SECRET);
            Cipher unlocked = Cipher.getInstance(CipherTexts.PKCS1);
            unlocked.init(Cipher.DECRYPT_MODE, QdieKeys.privateKey(locked, "1234"));
            assertArrayEquals(SECRET, unlocked.doFinal(cipherText));

            for (String pin : new String[] {null, "4321"}) {
                Cipher cipher = Cipher.getInstance(CipherTexts.PKCS1);
                cipher.init(Cipher.DECRYPT_MODE, QdieKeys.privateKey(locked, pin));
                ProviderException refused = assertThrows(ProviderException.class,
                        () -> cipher.doFinal(cipherText));
                assertTrue(refused.getMessage().endsWith("(status 22, Windows error 0x8010006f:"
                        + " the container needs its PIN, and none or a wrong one was given to"
                        + " getKey)"), refused::getMessage);
            }
        }
    }
}
