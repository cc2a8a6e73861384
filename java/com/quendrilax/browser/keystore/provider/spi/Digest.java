package com.quendrilax.browser.keystore.provider.spi;

import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.security.ProviderException;
import java.util.Locale;

/**
 * The digests the provider signs and decrypts with, each with the number the library knows it by
 * (which the library turns into CryptoAPI's or CNG's own).
 */
enum Digest {
    MD5("MD5", 16, 1),
    SHA1("SHA-1", 20, 2),
    SHA224("SHA-224", 28, 3),
    SHA256("SHA-256", 32, 4),
    SHA384("SHA-384", 48, 5),
    SHA512("SHA-512", 64, 6),
    /** MD5 and SHA-1 side by side, as TLS 1.0 and 1.1 sign them: no digest of the JDK's. */
    MD5_SHA1(null, 36, 7);

    /** The JDK's standard name. */
    final String jdkName;
    final int length;
    /** The library's number for the digest. */
    final int code;

    Digest(String jdkName, int length, int code) {
        this.jdkName = jdkName;
        this.length = length;
        this.code = code;
    }

    MessageDigest newMessageDigest() {
        try {
            return MessageDigest.getInstance(jdkName);
        } catch (NoSuchAlgorithmException e) {
            throw new ProviderException("the JDK has no " + jdkName, e);
        }
    }

    /** The digest a name gives ("SHA-256", "SHA256", "sha-256"), or null for one not here. */
    static Digest named(String name) {
        String upper = name.toUpperCase(Locale.ROOT);
        String standard = upper.matches("SHA[0-9]+") ? "SHA-" + upper.substring(3) : upper;
        for (Digest digest : values()) {
            if (standard.equals(digest.jdkName)) return digest;
        }
        return null;
    }

    @Override
    public String toString() {
        return jdkName == null ? "MD5 and SHA-1" : jdkName;
    }
}
