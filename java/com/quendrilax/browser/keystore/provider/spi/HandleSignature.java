package com.quendrilax.browser.keystore.provider.spi;

import java.io.ByteArrayOutputStream;
import java.security.AlgorithmParameters;
import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.InvalidParameterException;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.security.PrivateKey;
import java.security.ProviderException;
import java.security.PublicKey;
import java.security.Signature;
import java.security.SignatureException;
import java.security.SignatureSpi;
import java.security.spec.AlgorithmParameterSpec;

/**
 * Signs with a key of the key store: Java computes the digest, the library signs that hash in
 * the key's container. Verification is the JDK's, with the public key it is given.
 */
final class HandleSignature extends SignatureSpi {

    private final SigningAlgorithm algorithm;
    private HandleKey key;
    private MessageDigest digest;
    private ByteArrayOutputStream rawInput;
    private Signature verifier;
    private AlgorithmParameterSpec parameters;

    HandleSignature(SigningAlgorithm algorithm) {
        this.algorithm = algorithm;
    }

    @Override
    protected void engineInitSign(PrivateKey privateKey) throws InvalidKeyException {
        HandleKey.checkNotDestroyed(privateKey);
        if (!algorithm.family.accepts(privateKey))
            throw new InvalidKeyException(algorithm.jcaName + " of the QDIE provider signs with "
                    + algorithm.family.algorithm() + " keys of its key stores only, not "
                    + (privateKey == null ? "null" : privateKey.getClass().getName()));
        if (algorithm.refusal != null) throw new InvalidKeyException(algorithm.refusal);
        key = (HandleKey) privateKey;
        verifier = null;
        if (algorithm.digest == null) {
            rawInput = new ByteArrayOutputStream(RawRsaInput.MAX_LENGTH);
        } else {
            try {
                digest = MessageDigest.getInstance(algorithm.digest);
            } catch (NoSuchAlgorithmException e) {
                throw new ProviderException("the JDK has no " + algorithm.digest, e);
            }
        }
    }

    @Override
    protected void engineInitVerify(PublicKey publicKey) throws InvalidKeyException {
        verifier = jdkVerifier(algorithm.jcaName, parameters, publicKey);
        key = null;
    }

    /** RSA keys of a key storage provider and every EC key are CNG's; the library checks its signatures. */
    private boolean throughCng(HandleKey handle) {
        return handle.cng() || algorithm.family == KeyFamily.EC;
    }

    /**
     * The JDK's verifier of the algorithm: verification is the JDK's, with the public key given.
     * The delayed choice passes over this provider, whose same-named services take no public keys.
     */
    static Signature jdkVerifier(String algorithm, AlgorithmParameterSpec parameters,
            PublicKey publicKey) throws InvalidKeyException {
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
    protected void engineUpdate(byte b) throws SignatureException {
        engineUpdate(new byte[] {b}, 0, 1);
    }

    @Override
    protected void engineUpdate(byte[] data, int offset, int length) throws SignatureException {
        if (verifier != null) {
            verifier.update(data, offset, length);
        } else if (key == null) {
            throw new SignatureException(algorithm.jcaName + " is not initialized");
        } else if (digest != null) {
            digest.update(data, offset, length);
        } else {
            if (rawInput.size() + length > RawRsaInput.MAX_LENGTH) {
                // Refused input is gone: none of it may end up in front of the next signing's.
                rawInput.reset();
                throw new SignatureException("NONEwithRSA takes at most "
                        + RawRsaInput.MAX_LENGTH + " bytes: a DigestInfo or an MD5 and SHA-1 value");
            }
            rawInput.write(data, offset, length);
        }
    }

    @Override
    protected byte[] engineSign() throws SignatureException {
        if (key == null) throw new SignatureException(algorithm.jcaName + " is not initialized for signing");
        int algorithmId = algorithm.algorithmId;
        byte[] hash;
        if (digest != null) {
            hash = digest.digest();
        } else {
            byte[] raw = rawInput.toByteArray();
            // Emptied before decoding: input it refuses must not be signed with the next.
            rawInput.reset();
            RawRsaInput input = RawRsaInput.decode(raw);
            algorithmId = input.algorithmId;
            hash = input.hash;
        }
        final int hashAlgorithm = algorithmId;
        final byte[] hashValue = hash;
        byte[] signature;
        try {
            signature = key.call(held -> throughCng(key)
                    ? ProviderNatives.signCng(held, hashValue,
                            algorithm.family == KeyFamily.EC ? ProviderNatives.CNG_NO_PADDING
                                                             : ProviderNatives.CNG_PKCS1,
                            hashAlgorithm, 0)
                    : ProviderNatives.signHash(held, hashAlgorithm, hashValue));
        } catch (NativeFailure failure) {
            throw new SignatureException(algorithm.jcaName + " with the key of \"" + key.alias()
                    + "\" failed: " + failure.getMessage(), failure);
        } catch (IllegalStateException destroyed) {
            throw new SignatureException(destroyed.getMessage(), destroyed);
        }
        return formatted(signature);
    }

    private byte[] formatted(byte[] signature) throws SignatureException {
        switch (algorithm.output) {
            case DSA_DER:
                return DssSignature.toDer(signature);
            case DSA_P1363:
                return DssSignature.toP1363(signature);
            case ECDSA_DER:
                return EcdsaSignature.toDer(signature, ((EcHandleKey) key).fieldBytes());
            case ECDSA_P1363:
                EcdsaSignature.checkLength(signature, ((EcHandleKey) key).fieldBytes());
                return signature;
            default:
                return signature;
        }
    }


    @Override
    protected boolean engineVerify(byte[] signature) throws SignatureException {
        if (verifier == null) throw new SignatureException(algorithm.jcaName + " is not initialized for verification");
        return verifier.verify(signature);
    }

    @Override
    protected void engineSetParameter(AlgorithmParameterSpec params)
            throws InvalidAlgorithmParameterException {
        if (verifier != null) {
            verifier.setParameter(params);
        } else if (params != null) {
            throw new InvalidAlgorithmParameterException(algorithm.jcaName + " takes no parameters");
        }
        parameters = params;
    }

    @Override
    protected AlgorithmParameters engineGetParameters() {
        return verifier == null ? null : verifier.getParameters();
    }

    @Override
    @Deprecated
    protected void engineSetParameter(String param, Object value) {
        throw new InvalidParameterException(algorithm.jcaName + " has no parameter " + param);
    }

    @Override
    @Deprecated
    protected Object engineGetParameter(String param) {
        throw new InvalidParameterException(algorithm.jcaName + " has no parameter " + param);
    }
}
