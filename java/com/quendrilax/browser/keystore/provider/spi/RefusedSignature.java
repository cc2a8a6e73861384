package com.quendrilax.browser.keystore.provider.spi;

import java.security.InvalidKeyException;
import java.security.ProviderException;

/**
 * An algorithm CryptoAPI cannot sign with a key of its family, listed so that the JDK's choice
 * leads to the reason rather than to "no installed provider": refused at initSign, and verified
 * by the JDK as any other.
 */
final class RefusedSignature extends KeySignature {

    private final String reason;

    RefusedSignature(String algorithm, KeyFamily family, String reason) {
        super(algorithm, family);
        this.reason = reason;
    }

    @Override
    void checkKey(HandleKey handle) throws InvalidKeyException {
        throw new InvalidKeyException(reason);
    }

    @Override
    Digest digest() {
        return null;
    }

    @Override
    byte[] signMessage() {
        throw new ProviderException(reason);
    }
}
