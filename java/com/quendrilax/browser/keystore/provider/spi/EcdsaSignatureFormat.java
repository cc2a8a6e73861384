package com.quendrilax.browser.keystore.provider.spi;

import java.io.ByteArrayOutputStream;
import java.math.BigInteger;
import java.security.SignatureException;
import java.util.Arrays;

/** CNG writes an ECDSA signature as r then s, each as long as the curve's order: IEEE P1363. */
final class EcdsaSignatureFormat {

    private EcdsaSignatureFormat() {}

    static void checkLength(byte[] p1363, int fieldBytes) throws SignatureException {
        if (p1363.length != 2 * fieldBytes)
            throw new SignatureException("the library gave an ECDSA signature of " + p1363.length
                    + " bytes, not " + 2 * fieldBytes);
    }

    /** DER: SEQUENCE { INTEGER r, INTEGER s }, in the long form of length P-521 needs. */
    static byte[] toDer(byte[] p1363, int fieldBytes) throws SignatureException {
        checkLength(p1363, fieldBytes);
        ByteArrayOutputStream integers = new ByteArrayOutputStream(2 * fieldBytes + 8);
        for (int half = 0; half < 2; ++half) {
            byte[] value = new BigInteger(1,
                    Arrays.copyOfRange(p1363, half * fieldBytes, (half + 1) * fieldBytes)).toByteArray();
            integers.write(0x02);
            writeLength(integers, value.length);
            integers.writeBytes(value);
        }
        ByteArrayOutputStream der = new ByteArrayOutputStream(integers.size() + 4);
        der.write(0x30);
        writeLength(der, integers.size());
        der.writeBytes(integers.toByteArray());
        return der.toByteArray();
    }

    private static void writeLength(ByteArrayOutputStream der, int length) {
        if (length >= 0x80) der.write(0x81); // at most 2 * (2 + 67) + 3: one byte of length
        der.write(length);
    }
}
