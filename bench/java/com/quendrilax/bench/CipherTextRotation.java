package com.quendrilax.bench;

import java.security.GeneralSecurityException;
import java.security.PublicKey;
import javax.crypto.Cipher;

/**
 * One plaintext encrypted several times (both paddings are randomised), handed out in turn: the
 * software CryptoAPI keeps a key's last raw result, which the same ciphertext again would hit
 * instead of the private-key operation. Each contender takes its own rotation.
 */
final class CipherTextRotation {
    private static final int COUNT = 16;

    private final byte[][] cipherTexts;
    private int next;

    private CipherTextRotation(byte[][] cipherTexts) {
        this.cipherTexts = cipherTexts;
    }

    static CipherTextRotation of(String transformation, PublicKey key, byte[] plainText)
            throws GeneralSecurityException {
        Cipher encrypt = Cipher.getInstance(transformation, "SunJCE");
        encrypt.init(Cipher.ENCRYPT_MODE, key);
        byte[][] cipherTexts = new byte[COUNT][];
        for (int i = 0; i < COUNT; ++i) cipherTexts[i] = encrypt.doFinal(plainText);
        return new CipherTextRotation(cipherTexts);
    }

    /** A rotation of its own over the same ciphertexts, for another contender. */
    CipherTextRotation copy() {
        return new CipherTextRotation(cipherTexts);
    }

    byte[] next() {
        byte[] cipherText = cipherTexts[next];
        next = (next + 1) % COUNT;
        return cipherText;
    }
}
