package com.quendrilax.browser.testing;

/** The CryptoAPI hash algorithms the tests sign with, and their java.security names. */
public enum Digest {
    MD5(0x8003, "MD5", "MD5withRSA"),
    SHA1(0x8004, "SHA-1", "SHA1withRSA"),
    SHA256(0x800c, "SHA-256", "SHA256withRSA"),
    SHA384(0x800d, "SHA-384", "SHA384withRSA"),
    SHA512(0x800e, "SHA-512", "SHA512withRSA");

    /** The ALG_ID the natives take. */
    public final int algorithmId;
    public final String messageDigest;
    public final String rsaSignature;

    Digest(int algorithmId, String messageDigest, String rsaSignature) {
        this.algorithmId = algorithmId;
        this.messageDigest = messageDigest;
        this.rsaSignature = rsaSignature;
    }
}
