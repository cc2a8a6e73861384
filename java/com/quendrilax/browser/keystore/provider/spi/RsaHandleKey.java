package com.quendrilax.browser.keystore.provider.spi;

import java.math.BigInteger;
import java.security.UnrecoverableKeyException;
import java.security.interfaces.RSAKey;
import java.security.interfaces.RSAPublicKey;

/** An RSA key of the key store: its modulus is the certificate's; its private part stays there. */
final class RsaHandleKey extends HandleKey implements RSAKey {

    private static final long serialVersionUID = 1L;
    private final BigInteger modulus;

    RsaHandleKey(KeyOrigin origin, String alias, RSAPublicKey publicKey, char[] password,
            boolean cng) throws UnrecoverableKeyException {
        super(origin, alias, KeyFamily.RSA, publicKey, password, cng);
        this.modulus = publicKey.getModulus();
    }

    @Override
    public BigInteger getModulus() {
        return modulus;
    }

    int modulusBytes() {
        return (modulus.bitLength() + 7) / 8;
    }
}
