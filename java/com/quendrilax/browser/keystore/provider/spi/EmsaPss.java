package com.quendrilax.browser.keystore.provider.spi;

import java.security.MessageDigest;
import java.security.SecureRandom;

/** EMSA-PSS-ENCODE of RFC 8017 (9.1.1), with MGF1 over the message's digest. */
final class EmsaPss {

    private EmsaPss() {}

    /**
     * The encoding of a message hash for a modulus of {@code modulusBits}, as long as the modulus
     * (a leading zero where emLen is one byte less), with a fresh salt.
     */
    static byte[] encode(Digest digest, byte[] messageHash, int saltLength, int modulusBits,
            SecureRandom random) {
        int hashLength = messageHash.length;
        int emBits = modulusBits - 1;
        int emLength = encodedLength(modulusBits);
        byte[] salt = new byte[saltLength];
        random.nextBytes(salt);
        MessageDigest hash = digest.newMessageDigest();
        hash.update(new byte[8]);
        hash.update(messageHash);
        hash.update(salt);
        byte[] h = hash.digest();
        byte[] db = new byte[emLength - hashLength - 1];
        db[db.length - saltLength - 1] = 0x01;
        System.arraycopy(salt, 0, db, db.length - saltLength, saltLength);
        byte[] mask = mgf1(digest, h, db.length);
        for (int i = 0; i < db.length; ++i) db[i] ^= mask[i];
        db[0] &= (byte) (0xff >>> (8 * emLength - emBits));
        int modulusLength = (modulusBits + 7) / 8;
        byte[] block = new byte[modulusLength];
        int at = modulusLength - emLength;
        System.arraycopy(db, 0, block, at, db.length);
        System.arraycopy(h, 0, block, at + db.length, hashLength);
        block[modulusLength - 1] = (byte) 0xbc;
        return block;
    }

    /** emLen: the encoding has one bit less than the modulus. */
    static int encodedLength(int modulusBits) {
        return (modulusBits - 1 + 7) / 8;
    }

    private static byte[] mgf1(Digest digest, byte[] seed, int length) {
        MessageDigest hash = digest.newMessageDigest();
        byte[] mask = new byte[length];
        for (int counter = 0, at = 0; at < length; ++counter) {
            hash.update(seed);
            hash.update(new byte[] {(byte) (counter >>> 24), (byte) (counter >>> 16),
                (byte) (counter >>> 8), (byte) counter});
            byte[] chunk = hash.digest();
            int n = Math.min(chunk.length, length - at);
            System.arraycopy(chunk, 0, mask, at, n);
            at += n;
        }
        return mask;
    }
}
