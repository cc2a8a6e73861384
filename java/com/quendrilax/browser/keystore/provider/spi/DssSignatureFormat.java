package com.quendrilax.browser.keystore.provider.spi;

import java.io.ByteArrayOutputStream;
import java.math.BigInteger;
import java.security.SignatureException;
import java.util.Arrays;

/**
 * The library returns a DSS signature as one reversed buffer of CryptoAPI's r and s (each
 * least significant byte first): s, then r, each most significant byte first. These turn it
 * into the two formats Java knows.
 */
final class DssSignatureFormat {

    private static final int HALF = 20;

    private DssSignatureFormat() {}

    /** IEEE P1363: r then s, 20 bytes each. */
    static byte[] toP1363(byte[] library) throws SignatureException {
        checkLength(library);
        byte[] p1363 = new byte[2 * HALF];
        System.arraycopy(library, HALF, p1363, 0, HALF);
        System.arraycopy(library, 0, p1363, HALF, HALF);
        return p1363;
    }

    /** DER: SEQUENCE { INTEGER r, INTEGER s }. */
    static byte[] toDer(byte[] library) throws SignatureException {
        checkLength(library);
        byte[] r = new BigInteger(1, Arrays.copyOfRange(library, HALF, 2 * HALF)).toByteArray();
        byte[] s = new BigInteger(1, Arrays.copyOfRange(library, 0, HALF)).toByteArray();
        ByteArrayOutputStream der = new ByteArrayOutputStream(48);
        der.write(0x30);
        der.write(4 + r.length + s.length); // at most 46: the short form
        writeInteger(der, r);
        writeInteger(der, s);
        return der.toByteArray();
    }

    private static void writeInteger(ByteArrayOutputStream der, byte[] twosComplement) {
        der.write(0x02);
        der.write(twosComplement.length);
        der.writeBytes(twosComplement);
    }

    private static void checkLength(byte[] library) throws SignatureException {
        if (library.length != 2 * HALF)
            throw new SignatureException("the library gave a DSS signature of " + library.length
                    + " bytes, not " + 2 * HALF);
    }
}
