package com.quendrilax.browser.keystore.provider.spi;

import java.security.SignatureException;

/** DSA with SHA-1 in the key's CSP, in DER or in IEEE P1363 ({@link DssSignatureFormat}). */
final class DsaSignature extends KeySignature {

    private final boolean p1363;

    DsaSignature(String algorithm, boolean p1363) {
        super(algorithm, KeyFamily.DSA);
        this.p1363 = p1363;
    }

    @Override
    Digest digest() {
        return Digest.SHA1;
    }

    @Override
    byte[] signMessage() throws SignatureException, NativeFailure {
        byte[] hash = messageHash();
        byte[] signature = key.call(held -> ProviderNatives.signHash(held, Digest.SHA1.code, hash));
        return p1363 ? DssSignatureFormat.toP1363(signature) : DssSignatureFormat.toDer(signature);
    }
}
