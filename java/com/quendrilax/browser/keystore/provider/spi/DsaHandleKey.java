package com.quendrilax.browser.keystore.provider.spi;

import java.security.UnrecoverableKeyException;
import java.security.interfaces.DSAKey;
import java.security.interfaces.DSAParams;
import java.security.interfaces.DSAPublicKey;

/** A DSA key of the key store, with the domain parameters of its certificate. */
final class DsaHandleKey extends HandleKey implements DSAKey {

    private static final long serialVersionUID = 1L;
    private final transient DSAParams params;

    DsaHandleKey(KeyOrigin origin, String alias, DSAPublicKey publicKey, char[] password)
            throws UnrecoverableKeyException {
        super(origin, alias, KeyFamily.DSA, publicKey, password, false);
        this.params = publicKey.getParams();
    }

    @Override
    public DSAParams getParams() {
        return params;
    }
}
