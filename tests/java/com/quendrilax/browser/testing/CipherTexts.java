package com.quendrilax.browser.testing;

import java.security.GeneralSecurityException;
import java.security.PublicKey;
import java.security.SecureRandom;
import java.util.ArrayList;
import java.util.List;
import java.util.Random;
import javax.crypto.BadPaddingException;
import javax.crypto.Cipher;

/** Ciphertexts made by javax.crypto with a certificate's public key. */
public final class CipherTexts {

    public static final String PKCS1 = "RSA/ECB/PKCS1Padding";
    public static final String OAEP = "RSA/ECB/OAEPWithSHA-1AndMGF1Padding";

    private CipherTexts() {}

    public static byte[] encrypt(String transformation, PublicKey key, byte[] plainText)
            throws GeneralSecurityException {
        Cipher cipher = Cipher.getInstance(transformation);
        cipher.init(Cipher.ENCRYPT_MODE, key);
        return cipher.doFinal(plainText);
    }

    /**
     * OAEP ciphertexts that PKCS #1 v1.5 unpadding rejects, so decryption has to take its OAEP
     * retry. About one OAEP block in 256 also unpads as PKCS #1 v1.5 (into garbage); padding
     * seeds are tried in order and each ciphertext checked with the private key, so the choice
     * is deterministic.
     */
    public static List<byte[]> oaepRejectedAsPkcs1(Identity identity, byte[] plainText, int count)
            throws GeneralSecurityException {
        Cipher pkcs1 = Cipher.getInstance(PKCS1);
        pkcs1.init(Cipher.DECRYPT_MODE, identity.privateKey());
        List<byte[]> found = new ArrayList<>();
        for (long seed = 1; found.size() < count && seed <= 2L * count + 16; ++seed) {
            Cipher oaep = Cipher.getInstance(OAEP);
            oaep.init(Cipher.ENCRYPT_MODE, identity.publicKey(), new SeededRandom(seed));
            byte[] cipherText = oaep.doFinal(plainText);
            try {
                pkcs1.doFinal(cipherText);
            } catch (BadPaddingException rejected) {
                found.add(cipherText);
            }
        }
        if (found.size() < count)
            throw new IllegalStateException("too many OAEP ciphertexts unpadded as PKCS #1 v1.5");
        return found;
    }

    /** The same bytes for the same seed, so an OAEP padding seed can be chosen. */
    private static final class SeededRandom extends SecureRandom {
        private static final long serialVersionUID = 1L;
        private final Random source;

        SeededRandom(long seed) {
            source = new Random(seed);
        }

        @Override
        public void nextBytes(byte[] bytes) {
            source.nextBytes(bytes);
        }
    }
}
