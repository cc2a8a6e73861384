package com.quendrilax.browser.keystore.provider.spi;

import java.security.UnrecoverableKeyException;
import java.security.interfaces.ECKey;
import java.security.interfaces.ECPublicKey;
import java.security.spec.ECParameterSpec;

/** An EC key of a key storage provider, with the curve of its certificate. */
final class EcHandleKey extends HandleKey implements ECKey {

    private static final long serialVersionUID = 1L;

    private final transient ECParameterSpec params;

    EcHandleKey(KeyOrigin origin, String alias, ECPublicKey publicKey, char[] password)
            throws UnrecoverableKeyException {
        super(origin, alias, KeyFamily.EC, publicKey, password, true);
        this.params = publicKey.getParams();
    }

    @Override
    public ECParameterSpec getParams() {
        return params;
    }

    /** The length of r and of s in a signature: the curve order's. */
    int fieldBytes() {
        return (params.getOrder().bitLength() + 7) / 8;
    }
}
