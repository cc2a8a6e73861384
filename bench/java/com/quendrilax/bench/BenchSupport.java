package com.quendrilax.bench;

/**
 * The benchmark's own natives: profile, store filling, identity import, OpenSSL alone, and the
 * floor (what the library's behaviour requires, done with OpenSSL and nothing more).
 */
final class BenchSupport {
    static {
        System.loadLibrary("QdieBenchSupport");
    }

    private BenchSupport() {}

    /** Points the library and the key store at a profile folder. */
    static native void useProfile(String folder);

    /** Adds that many throwaway certificates to a store, in one transaction. */
    static native void fillStore(String store, int count);

    /** Puts a PKCS#12 identity in "My", bound to a container of its own. */
    static native void importIdentity(byte[] pkcs12, String password);

    /** The same, its key in the named provider ("Microsoft Software Key Storage Provider"). */
    static native void importIdentityInProvider(byte[] pkcs12, String password, String provider);

    /** A PKCS #8 private key parsed by OpenSSL, for the timed calls; freed with freeKey. */
    static native long loadKey(byte[] pkcs8);

    static native void freeKey(long key);

    /**
     * Nanoseconds for that many signings of the data by OpenSSL alone with the digest as OpenSSL
     * names it ("SHA256", "SHA384"): ECDSA with an EC key; with an RSA key PKCS #1 v1.5, or
     * RSASSA-PSS with MGF1 over the same digest and a salt as long as it.
     */
    static native long opensslSign(long key, String digest, byte[] data, boolean pss,
            int iterations);

    /** Nanoseconds for that many decryptions of the ciphertext by OpenSSL alone. */
    static native long opensslDecrypt(long key, byte[] cipherText, boolean oaep, int iterations);

    /** The certificates of "My" held in memory, in its order, for the floor's walk. */
    static native long loadFloorStore();

    static native void freeFloorStore(long store);

    /**
     * The floor of a signing: the walk to the certificate, that many log lines (each the log
     * file's path composed and the file opened, and when it opens a write, a close and a call of
     * logJNI), an OpenSSL SHA-256 signature and its verification. Null when the walk does not
     * find the certificate.
     */
    static native byte[] floorSign(long key, long store, byte[] certificate, byte[] data,
            int lines);

    /** The floor of a decryption: the walk, the lines, one private-key operation, both unpaddings. */
    static native byte[] floorDecrypt(long key, long store, byte[] certificate, byte[] cipherText,
            int lines);
}
