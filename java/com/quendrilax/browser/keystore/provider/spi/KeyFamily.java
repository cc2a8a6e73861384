package com.quendrilax.browser.keystore.provider.spi;

import java.security.PublicKey;
import java.security.UnrecoverableKeyException;
import java.security.interfaces.DSAPublicKey;
import java.security.interfaces.ECPublicKey;
import java.security.interfaces.RSAPublicKey;

/** The kinds of key the library signs with, and the handle class of each. */
enum KeyFamily {
    RSA("RSA", RsaHandleKey.class),
    DSA("DSA", DsaHandleKey.class),
    EC("EC", EcHandleKey.class);

    private final String algorithm;
    private final Class<? extends HandleKey> handleClass;

    KeyFamily(String algorithm, Class<? extends HandleKey> handleClass) {
        this.algorithm = algorithm;
        this.handleClass = handleClass;
    }

    /** The key algorithm name, as java.security and the library's signing both spell it. */
    String algorithm() {
        return algorithm;
    }

    String handleClassName() {
        return handleClass.getName();
    }

    /**
     * Whether a service of this family takes {@code key}: handles of this family only. A
     * destroyed one is taken too, so that the JDK's choice of provider leads to its refusal in
     * words rather than to "no installed provider".
     */
    boolean accepts(Object key) {
        return handleClass.isInstance(key);
    }

    /** The handle for a key entry, by the algorithm of its certificate's public key. */
    static HandleKey handleFor(KeyOrigin origin, String alias, PublicKey publicKey,
            char[] password, boolean cng) throws UnrecoverableKeyException {
        if (publicKey instanceof RSAPublicKey)
            return new RsaHandleKey(origin, alias, (RSAPublicKey) publicKey, password, cng);
        if (publicKey instanceof ECPublicKey && cng)
            return new EcHandleKey(origin, alias, (ECPublicKey) publicKey, password);
        if (publicKey instanceof DSAPublicKey && !cng)
            return new DsaHandleKey(origin, alias, (DSAPublicKey) publicKey, password);
        throw new UnrecoverableKeyException("\"" + alias + "\" has a " + publicKey.getAlgorithm()
                + " key " + (cng ? "in a key storage provider" : "in a CSP") + ": the library signs"
                + " with RSA and DSA keys of CSPs and RSA and EC keys of key storage providers");
    }
}
