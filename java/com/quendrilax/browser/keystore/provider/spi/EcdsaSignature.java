package com.quendrilax.browser.keystore.provider.spi;

import java.security.SignatureException;

/**
 * ECDSA through CNG with a key storage provider's key, in DER or in IEEE P1363, as CNG writes
 * it ({@link EcdsaSignatureFormat}).
 */
final class EcdsaSignature extends KeySignature {

    private final Digest digest;
    private final boolean p1363;

    EcdsaSignature(String algorithm, Digest digest, boolean p1363) {
        super(algorithm, KeyFamily.EC);
        this.digest = digest;
        this.p1363 = p1363;
    }

    @Override
    Digest digest() {
        return digest;
    }

    @Override
    byte[] signMessage() throws SignatureException, NativeFailure {
        byte[] hash = messageHash();
        byte[] signature = key.call(held -> ProviderNatives.signCng(held, hash,
                SignaturePadding.NONE.code, digest.code, 0));
        int fieldBytes = ((EcHandleKey) key).fieldBytes();
        if (!p1363) return EcdsaSignatureFormat.toDer(signature, fieldBytes);
        EcdsaSignatureFormat.checkLength(signature, fieldBytes);
        return signature;
    }
}
