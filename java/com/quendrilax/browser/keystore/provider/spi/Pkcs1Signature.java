package com.quendrilax.browser.keystore.provider.spi;

import java.io.ByteArrayOutputStream;
import java.security.SignatureException;

/**
 * RSA PKCS #1 v1.5: the hash signed in the key's CSP, or through CNG for a key storage
 * provider's key. Without a digest (NONEwithRSA) the message is a DigestInfo, or TLS 1.0's MD5
 * and SHA-1, signed as that hash ({@link RawRsaInput}).
 */
final class Pkcs1Signature extends KeySignature {

    private final Digest digest;
    private ByteArrayOutputStream rawInput;

    Pkcs1Signature(String algorithm, Digest digest) {
        super(algorithm, KeyFamily.RSA);
        this.digest = digest;
    }

    @Override
    Digest digest() {
        return digest;
    }

    @Override
    void resetMessage() {
        super.resetMessage();
        if (digest == null) rawInput = new ByteArrayOutputStream(RawRsaInput.MAX_LENGTH);
    }

    @Override
    void updateMessage(byte[] data, int offset, int length) throws SignatureException {
        if (digest != null) {
            super.updateMessage(data, offset, length);
            return;
        }
        if (rawInput.size() + length > RawRsaInput.MAX_LENGTH) {
            // Refused input is gone: none of it may end up in front of the next signing's.
            rawInput.reset();
            throw new SignatureException("NONEwithRSA takes at most " + RawRsaInput.MAX_LENGTH
                    + " bytes: a DigestInfo or an MD5 and SHA-1 value");
        }
        rawInput.write(data, offset, length);
    }

    @Override
    byte[] signMessage() throws SignatureException, NativeFailure {
        Digest signed = digest;
        byte[] hash;
        if (digest != null) {
            hash = messageHash();
        } else {
            byte[] raw = rawInput.toByteArray();
            // Emptied before decoding: input it refuses must not be signed with the next.
            rawInput.reset();
            RawRsaInput input = RawRsaInput.decode(raw);
            signed = input.digest;
            hash = input.hash;
        }
        Digest hashDigest = signed;
        return key.call(held -> key.cng()
                ? ProviderNatives.signCng(held, hash, SignaturePadding.PKCS1.code, hashDigest.code, 0)
                : ProviderNatives.signHash(held, hashDigest.code, hash));
    }
}
