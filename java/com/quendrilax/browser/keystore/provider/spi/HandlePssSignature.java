package com.quendrilax.browser.keystore.provider.spi;

import java.security.AlgorithmParameters;
import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.InvalidParameterException;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.security.PrivateKey;
import java.security.ProviderException;
import java.security.PublicKey;
import java.security.SecureRandom;
import java.security.Signature;
import java.security.SignatureException;
import java.security.SignatureSpi;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.InvalidParameterSpecException;
import java.security.spec.MGF1ParameterSpec;
import java.security.spec.PSSParameterSpec;
import java.util.Set;

/**
 * RSASSA-PSS (RFC 8017, 8.1) with a key of the key store: through CNG where CNG sees the key;
 * otherwise Java computes the digest and the EMSA-PSS encoding, and the key's container the
 * private-key operation alone. The parameters are the caller's, as
 * the JDK's own RSASSA-PSS takes them: SHA-256, SHA-384 or SHA-512, MGF1 with the same digest,
 * a salt that fits, trailer 1.
 */
final class HandlePssSignature extends SignatureSpi {

    static final String ALGORITHM = "RSASSA-PSS";
    private static final Set<String> DIGESTS = Set.of("SHA-256", "SHA-384", "SHA-512");

    private final SecureRandom random = new SecureRandom();
    private RsaHandleKey key;
    private PSSParameterSpec parameters;

    /** RSASSA-PSS, its parameters given by setParameter. */
    HandlePssSignature() {}

    /**
     * PSS with a digest named in the algorithm ("SHA256withRSAandMGF1", as BouncyCastle names it):
     * MGF1 with the same digest and a salt as long as the digest, until setParameter says else.
     */
    HandlePssSignature(String digest) {
        parameters = new PSSParameterSpec(digest, "MGF1", new MGF1ParameterSpec(digest),
                digestLength(digest), PSSParameterSpec.TRAILER_FIELD_BC);
    }
    private MessageDigest digest;
    private Signature verifier;

    @Override
    protected void engineInitSign(PrivateKey privateKey) throws InvalidKeyException {
        HandleKey.checkNotDestroyed(privateKey);
        if (!KeyFamily.RSA.accepts(privateKey))
            throw new InvalidKeyException(ALGORITHM + " of the QDIE provider signs with RSA keys"
                    + " of its key stores only, not "
                    + (privateKey == null ? "null" : privateKey.getClass().getName()));
        RsaHandleKey rsa = (RsaHandleKey) privateKey;
        if (parameters != null) {
            try {
                checkFits(rsa, parameters);
            } catch (InvalidAlgorithmParameterException e) {
                throw new InvalidKeyException(e.getMessage(), e);
            }
        }
        key = rsa;
        verifier = null;
        resetDigest();
    }

    @Override
    protected void engineInitVerify(PublicKey publicKey) throws InvalidKeyException {
        verifier = HandleSignature.jdkVerifier(ALGORITHM, parameters, publicKey);
        key = null;
    }

    @Override
    protected void engineSetParameter(AlgorithmParameterSpec spec)
            throws InvalidAlgorithmParameterException {
        if (!(spec instanceof PSSParameterSpec))
            throw new InvalidAlgorithmParameterException(ALGORITHM + " takes a PSSParameterSpec");
        PSSParameterSpec pss = (PSSParameterSpec) spec;
        String hash = canonical(pss.getDigestAlgorithm());
        if (hash == null || !DIGESTS.contains(hash))
            throw new InvalidAlgorithmParameterException(ALGORITHM + " of the QDIE provider hashes"
                    + " with SHA-256, SHA-384 or SHA-512, not " + pss.getDigestAlgorithm());
        if (!pss.getMGFAlgorithm().equalsIgnoreCase("MGF1")
                || !(pss.getMGFParameters() instanceof MGF1ParameterSpec)
                || !hash.equals(canonical(
                        ((MGF1ParameterSpec) pss.getMGFParameters()).getDigestAlgorithm())))
            throw new InvalidAlgorithmParameterException(ALGORITHM + " of the QDIE provider"
                    + " masks with MGF1 over the message's digest only");
        if (pss.getTrailerField() != PSSParameterSpec.TRAILER_FIELD_BC || pss.getSaltLength() < 0)
            throw new InvalidAlgorithmParameterException(ALGORITHM + " takes trailer 1 and a salt"
                    + " length of 0 or more");
        if (key != null) checkFits(key, pss);
        if (verifier != null) verifier.setParameter(pss);
        parameters = pss;
        if (key != null) resetDigest();
    }

    private static void checkFits(RsaHandleKey rsa, PSSParameterSpec pss)
            throws InvalidAlgorithmParameterException {
        int hashLength = digestLength(canonical(pss.getDigestAlgorithm()));
        if (encodedLength(rsa) < hashLength + pss.getSaltLength() + 2)
            throw new InvalidAlgorithmParameterException("a salt of " + pss.getSaltLength()
                    + " bytes does not fit a " + rsa.getModulus().bitLength() + "-bit key with "
                    + pss.getDigestAlgorithm());
    }

    /** The JDK's own name of a digest ("SHA256" is "SHA-256"), or null for none it knows. */
    private static String canonical(String digest) {
        try {
            return MessageDigest.getInstance(digest).getAlgorithm();
        } catch (NoSuchAlgorithmException e) {
            return null;
        }
    }

    private static int digestLength(String digest) {
        try {
            return MessageDigest.getInstance(digest).getDigestLength();
        } catch (NoSuchAlgorithmException e) {
            throw new ProviderException("the JDK has no " + digest, e);
        }
    }

    private void resetDigest() {
        if (parameters == null) {
            digest = null;
            return;
        }
        try {
            digest = MessageDigest.getInstance(canonical(parameters.getDigestAlgorithm()));
        } catch (NoSuchAlgorithmException e) {
            throw new ProviderException("the JDK has no " + parameters.getDigestAlgorithm(), e);
        }
    }

    @Override
    protected AlgorithmParameters engineGetParameters() {
        if (parameters == null) return null;
        try {
            AlgorithmParameters encoded = AlgorithmParameters.getInstance(ALGORITHM);
            encoded.init(parameters);
            return encoded;
        } catch (NoSuchAlgorithmException | InvalidParameterSpecException e) {
            throw new ProviderException("the JDK cannot encode " + ALGORITHM + " parameters", e);
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
            return;
        }
        requireSigning();
        digest.update(data, offset, length);
    }

    private void requireSigning() throws SignatureException {
        if (key == null) throw new SignatureException(ALGORITHM + " is not initialized for signing");
        if (parameters == null)
            throw new SignatureException(ALGORITHM + " needs its parameters: setParameter with a"
                    + " PSSParameterSpec");
    }

    /** emLen of RFC 8017: the encoding has one bit less than the modulus. */
    private static int encodedLength(RsaHandleKey rsa) {
        return (rsa.getModulus().bitLength() - 1 + 7) / 8;
    }

    /**
     * Through CNG first: a key storage provider's key, or a CSP's seen through CNG. A CSP key CNG
     * cannot see is signed by the raw private-key operation over Java's own encoding; a key that
     * can do neither is refused, with both reasons.
     */
    @Override
    protected byte[] engineSign() throws SignatureException {
        requireSigning();
        byte[] messageHash = digest.digest();
        try {
            try {
                return key.call(held -> ProviderNatives.signCng(held, messageHash,
                        ProviderNatives.CNG_PSS, algorithmId(), parameters.getSaltLength()));
            } catch (NativeFailure failure) {
                if (key.cng() || failure.status != NativeStatus.NO_CNG_KEY)
                    throw new SignatureException(ALGORITHM + " with the key of \"" + key.alias()
                            + "\" failed: " + failure.getMessage(), failure);
                return signRaw(messageHash, failure);
            }
        } catch (IllegalStateException destroyed) {
            throw new SignatureException(destroyed.getMessage(), destroyed);
        }
    }

    private byte[] signRaw(byte[] messageHash, NativeFailure cngRefusal)
            throws SignatureException {
        byte[] block = encode(messageHash);
        try {
            return key.call(held -> ProviderNatives.rawRsa(held, block));
        } catch (NativeFailure failure) {
            String reason = failure.status == NativeStatus.NO_RAW_OPERATION
                    ? ": the key's CSP can do PSS neither through CNG (" + cngRefusal.getMessage()
                            + ") nor by its raw RSA operation (" + failure.getMessage() + ")"
                    : ": " + failure.getMessage();
            SignatureException refusal = new SignatureException(ALGORITHM + " with the key of \""
                    + key.alias() + "\" failed" + reason, failure);
            refusal.addSuppressed(cngRefusal);
            throw refusal;
        }
    }

    /** The CryptoAPI algorithm of the message's digest. */
    private int algorithmId() {
        switch (digest.getAlgorithm()) {
            case "SHA-256":
                return 0x800c;
            case "SHA-384":
                return 0x800d;
            default:
                return 0x800e;
        }
    }

    /** EMSA-PSS-ENCODE, as long as the modulus (a leading zero where emLen is one byte less). */
    private byte[] encode(byte[] messageHash) throws SignatureException {
        int hashLength = messageHash.length;
        int saltLength = parameters.getSaltLength();
        int emLength = encodedLength(key);
        int emBits = key.getModulus().bitLength() - 1;
        byte[] salt = new byte[saltLength];
        random.nextBytes(salt);
        MessageDigest hash = freshDigest();
        hash.update(new byte[8]);
        hash.update(messageHash);
        hash.update(salt);
        byte[] h = hash.digest();
        byte[] db = new byte[emLength - hashLength - 1];
        db[db.length - saltLength - 1] = 0x01;
        System.arraycopy(salt, 0, db, db.length - saltLength, saltLength);
        byte[] mask = mgf1(h, db.length);
        for (int i = 0; i < db.length; ++i) db[i] ^= mask[i];
        db[0] &= (byte) (0xff >>> (8 * emLength - emBits));
        int modulusLength = (key.getModulus().bitLength() + 7) / 8;
        byte[] block = new byte[modulusLength];
        int at = modulusLength - emLength;
        System.arraycopy(db, 0, block, at, db.length);
        System.arraycopy(h, 0, block, at + db.length, hashLength);
        block[modulusLength - 1] = (byte) 0xbc;
        return block;
    }

    private byte[] mgf1(byte[] seed, int length) {
        MessageDigest hash = freshDigest();
        byte[] mask = new byte[length];
        for (int counter = 0, at = 0; at < length; ++counter) {
            hash.update(seed);
            hash.update(new byte[] {(byte) (counter >>> 24), (byte) (counter >>> 16),
                (byte) (counter >>> 8), (byte) counter});
            byte[] chunk = hash.digest();
            int n = Math.min(chunk.length, length - at);
            System.arraycopy(chunk, 0, mask, at, n);
            at += n;
        }
        return mask;
    }

    private MessageDigest freshDigest() {
        try {
            return MessageDigest.getInstance(digest.getAlgorithm());
        } catch (NoSuchAlgorithmException e) {
            throw new ProviderException("the JDK has no " + digest.getAlgorithm(), e);
        }
    }

    @Override
    protected boolean engineVerify(byte[] signature) throws SignatureException {
        if (verifier == null)
            throw new SignatureException(ALGORITHM + " is not initialized for verification");
        return verifier.verify(signature);
    }

    @Override
    @Deprecated
    protected void engineSetParameter(String param, Object value) {
        throw new InvalidParameterException(ALGORITHM + " has no parameter " + param);
    }

    @Override
    @Deprecated
    protected Object engineGetParameter(String param) {
        throw new InvalidParameterException(ALGORITHM + " has no parameter " + param);
    }
}
