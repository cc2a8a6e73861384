package com.quendrilax.browser.keystore.provider.spi;

import java.security.SignatureException;
import java.util.Arrays;

/**
 * What NONEwithRSA signs: a DER DigestInfo (with NULL parameters, as CryptoAPI writes it) of a
 * digest the library hashes with, signed as that hash so that the signature is the one the
 * digest's own algorithm gives; or the 36-byte MD5 and SHA-1 value of TLS 1.0 and 1.1.
 */
final class RawRsaInput {

    /** The longest input accepted: SHA-512's DigestInfo. */
    static final int MAX_LENGTH = 83;

    private static final Prefix[] PREFIXES = {
        new Prefix(Digest.MD5, 0x30, 0x20, 0x30, 0x0c, 0x06, 0x08, 0x2a, 0x86, 0x48, 0x86, 0xf7,
                0x0d, 0x02, 0x05, 0x05, 0x00, 0x04, 0x10),
        new Prefix(Digest.SHA1, 0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e, 0x03, 0x02, 0x1a,
                0x05, 0x00, 0x04, 0x14),
        new Prefix(Digest.SHA256, 0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65,
                0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20),
        new Prefix(Digest.SHA384, 0x30, 0x41, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65,
                0x03, 0x04, 0x02, 0x02, 0x05, 0x00, 0x04, 0x30),
        new Prefix(Digest.SHA512, 0x30, 0x51, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65,
                0x03, 0x04, 0x02, 0x03, 0x05, 0x00, 0x04, 0x40),
    };

    final Digest digest;
    final byte[] hash;

    private RawRsaInput(Digest digest, byte[] hash) {
        this.digest = digest;
        this.hash = hash;
    }

    static RawRsaInput decode(byte[] input) throws SignatureException {
        if (input.length == Digest.MD5_SHA1.length) return new RawRsaInput(Digest.MD5_SHA1, input);
        for (Prefix prefix : PREFIXES) {
            if (input.length == prefix.bytes.length + prefix.digest.length
                    && Arrays.equals(input, 0, prefix.bytes.length, prefix.bytes, 0,
                            prefix.bytes.length))
                return new RawRsaInput(prefix.digest,
                        Arrays.copyOfRange(input, prefix.bytes.length, input.length));
        }
        throw new SignatureException("NONEwithRSA signs a DER DigestInfo of MD5, SHA-1, SHA-256,"
                + " SHA-384 or SHA-512 (with NULL parameters) or a 36-byte MD5 and SHA-1 value;"
                + " these " + input.length + " bytes are neither");
    }

    private static final class Prefix {
        final Digest digest;
        final byte[] bytes;

        Prefix(Digest digest, int... bytes) {
            this.digest = digest;
            this.bytes = new byte[bytes.length];
            for (int i = 0; i < bytes.length; ++i) this.bytes[i] = (byte) bytes[i];
        }
    }
}
