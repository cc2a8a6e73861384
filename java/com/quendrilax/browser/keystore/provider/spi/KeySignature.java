package com.quendrilax.browser.keystore.provider.spi;

import java.security.AlgorithmParameters;
import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.InvalidParameterException;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.security.PrivateKey;
import java.security.PublicKey;
import java.security.Signature;
import java.security.SignatureException;
import java.security.SignatureSpi;
import java.security.spec.AlgorithmParameterSpec;

/**
 * A signature with a key of the key store: this class holds the key, the message's digest, the
 * checks that the signature is initialised, and verification, which is the JDK's with the public
 * key given; each subclass makes the signature of a hash its own way.
 */
abstract class KeySignature extends SignatureSpi {

    /** The algorithm's name, as the provider lists it. */
    final String algorithm;
    private final KeyFamily family;
    /** The key signing with, or null while not initialised for signing. */
    HandleKey key;
    /** The parameters set, which the JDK's verifier is given too. */
    AlgorithmParameterSpec parameters;
    private MessageDigest digest;
    private Signature verifier;

    KeySignature(String algorithm, KeyFamily family) {
        this.algorithm = algorithm;
        this.family = family;
    }

    /** The digest of the message, or null for a signature that takes its message as it is. */
    abstract Digest digest();

    /** Signs the message taken since the last signature with the key. */
    abstract byte[] signMessage() throws SignatureException, NativeFailure;

    /** Refuses, at initSign, a key of the family this signature cannot use. */
    void checkKey(HandleKey handle) throws InvalidKeyException {}

    /** Starts a new message. */
    void resetMessage() {
        Digest messageDigest = digest();
        digest = messageDigest == null ? null : messageDigest.newMessageDigest();
    }

    void updateMessage(byte[] data, int offset, int length) throws SignatureException {
        digest.update(data, offset, length);
    }

    /** The hash of the message taken, which starts the next. */
    byte[] messageHash() {
        return digest.digest();
    }

    void requireSigning() throws SignatureException {
        if (key == null)
            throw new SignatureException(algorithm + " is not initialized for signing");
    }

    @Override
    protected final void engineInitSign(PrivateKey privateKey) throws InvalidKeyException {
        HandleKey.checkNotDestroyed(privateKey);
        if (!family.accepts(privateKey))
            throw new InvalidKeyException(algorithm + " of the QDIE provider signs with "
                    + family.algorithm() + " keys of its key stores only, not "
                    + (privateKey == null ? "null" : privateKey.getClass().getName()));
        HandleKey handle = (HandleKey) privateKey;
        checkKey(handle);
        key = handle;
        verifier = null;
        resetMessage();
    }

    @Override
    protected final void engineInitVerify(PublicKey publicKey) throws InvalidKeyException {
        verifier = jdkVerifier(publicKey);
        key = null;
    }

    /**
     * The JDK's verifier of the algorithm, with the parameters set. The delayed choice passes
     * over this provider, whose same-named services take no public keys.
     */
    private Signature jdkVerifier(PublicKey publicKey) throws InvalidKeyException {
        try {
            Signature jdk = Signature.getInstance(algorithm);
            if (parameters != null) jdk.setParameter(parameters);
            jdk.initVerify(publicKey);
            return jdk;
        } catch (NoSuchAlgorithmException | InvalidAlgorithmParameterException e) {
            throw new InvalidKeyException("no installed provider verifies " + algorithm
                    + " with this key", e);
        }
    }

    @Override
    protected final void engineUpdate(byte b) throws SignatureException {
        engineUpdate(new byte[] {b}, 0, 1);
    }

    @Override
    protected final void engineUpdate(byte[] data, int offset, int length)
            throws SignatureException {
        if (verifier != null) {
            verifier.update(data, offset, length);
            return;
        }
        requireSigning();
        updateMessage(data, offset, length);
    }

    @Override
    protected final byte[] engineSign() throws SignatureException {
        requireSigning();
        try {
            return signMessage();
        } catch (NativeFailure failure) {
            throw failure.asSignatureException(
                    algorithm + " with the key of \"" + key.alias() + "\" failed");
        } catch (IllegalStateException destroyed) {
            throw new SignatureException(destroyed.getMessage(), destroyed);
        }
    }

    @Override
    protected final boolean engineVerify(byte[] signature) throws SignatureException {
        if (verifier == null)
            throw new SignatureException(algorithm + " is not initialized for verification");
        return verifier.verify(signature);
    }

    /** None, unless a subclass takes some; a verifier takes what the JDK's takes. */
    @Override
    protected void engineSetParameter(AlgorithmParameterSpec params)
            throws InvalidAlgorithmParameterException {
        if (verifier == null && params != null)
            throw new InvalidAlgorithmParameterException(algorithm + " takes no parameters");
        useParameters(params);
    }

    /** Sets the parameters, for the verifier too while verifying. */
    final void useParameters(AlgorithmParameterSpec params)
            throws InvalidAlgorithmParameterException {
        if (verifier != null) verifier.setParameter(params);
        parameters = params;
    }

    @Override
    protected AlgorithmParameters engineGetParameters() {
        return verifier == null ? null : verifier.getParameters();
    }

    @Override
    @Deprecated
    protected final void engineSetParameter(String param, Object value) {
        throw new InvalidParameterException(algorithm + " has no parameter " + param);
    }

    @Override
    @Deprecated
    protected final Object engineGetParameter(String param) {
        throw new InvalidParameterException(algorithm + " has no parameter " + param);
    }
}
