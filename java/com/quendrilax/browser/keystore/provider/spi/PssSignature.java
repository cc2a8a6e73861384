package com.quendrilax.browser.keystore.provider.spi;

import java.security.AlgorithmParameters;
import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.NoSuchAlgorithmException;
import java.security.ProviderException;
import java.security.SecureRandom;
import java.security.SignatureException;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.InvalidParameterSpecException;
import java.security.spec.MGF1ParameterSpec;
import java.security.spec.PSSParameterSpec;
import java.util.Set;

/**
 * RSASSA-PSS (RFC 8017, 8.1) with a key of the key store: through CNG where CNG sees the key;
 * otherwise Java makes the EMSA-PSS encoding ({@link EmsaPss}) and the key's container the
 * private-key operation alone. The parameters are the caller's, as the JDK's own RSASSA-PSS takes
 * them: SHA-256, SHA-384 or SHA-512, MGF1 with the same digest, a salt that fits, trailer 1.
 */
final class PssSignature extends KeySignature {

    static final String ALGORITHM = "RSASSA-PSS";
    private static final Set<Digest> DIGESTS = Set.of(Digest.SHA256, Digest.SHA384, Digest.SHA512);

    private final SecureRandom random = new SecureRandom();
    /** The digest of the parameters set, or null while none are. */
    private Digest digest;

    /** RSASSA-PSS, its parameters given by setParameter. */
    PssSignature() {
        super(ALGORITHM, KeyFamily.RSA);
    }

    /**
     * PSS with a digest named in the algorithm ("SHA256withRSAandMGF1", as BouncyCastle names it):
     * MGF1 with the same digest and a salt as long as the digest, until setParameter says else.
     */
    PssSignature(Digest digest) {
        super(ALGORITHM, KeyFamily.RSA);
        this.digest = digest;
        parameters = new PSSParameterSpec(digest.jdkName, "MGF1",
                new MGF1ParameterSpec(digest.jdkName), digest.length,
                PSSParameterSpec.TRAILER_FIELD_BC);
    }

    @Override
    Digest digest() {
        return digest;
    }

    @Override
    void checkKey(HandleKey handle) throws InvalidKeyException {
        if (parameters == null) return;
        try {
            checkFits((RsaHandleKey) handle, (PSSParameterSpec) parameters);
        } catch (InvalidAlgorithmParameterException e) {
            throw new InvalidKeyException(e.getMessage(), e);
        }
    }

    @Override
    void requireSigning() throws SignatureException {
        super.requireSigning();
        if (parameters == null)
            throw new SignatureException(algorithm + " needs its parameters: setParameter with a"
                    + " PSSParameterSpec");
    }

    @Override
    protected void engineSetParameter(AlgorithmParameterSpec spec)
            throws InvalidAlgorithmParameterException {
        if (!(spec instanceof PSSParameterSpec))
            throw new InvalidAlgorithmParameterException(algorithm + " takes a PSSParameterSpec");
        PSSParameterSpec pss = (PSSParameterSpec) spec;
        Digest hash = Digest.named(pss.getDigestAlgorithm());
        if (!DIGESTS.contains(hash))
            throw new InvalidAlgorithmParameterException(algorithm + " of the QDIE provider hashes"
                    + " with SHA-256, SHA-384 or SHA-512, not " + pss.getDigestAlgorithm());
        if (!pss.getMGFAlgorithm().equalsIgnoreCase("MGF1")
                || !(pss.getMGFParameters() instanceof MGF1ParameterSpec)
                || hash != Digest.named(
                        ((MGF1ParameterSpec) pss.getMGFParameters()).getDigestAlgorithm()))
            throw new InvalidAlgorithmParameterException(algorithm + " of the QDIE provider"
                    + " masks with MGF1 over the message's digest only");
        if (pss.getTrailerField() != PSSParameterSpec.TRAILER_FIELD_BC || pss.getSaltLength() < 0)
            throw new InvalidAlgorithmParameterException(algorithm + " takes trailer 1 and a salt"
                    + " length of 0 or more");
        if (key != null) checkFits((RsaHandleKey) key, pss);
        useParameters(pss);
        digest = hash;
        if (key != null) resetMessage();
    }

    private static void checkFits(RsaHandleKey rsa, PSSParameterSpec pss)
            throws InvalidAlgorithmParameterException {
        int hashLength = Digest.named(pss.getDigestAlgorithm()).length;
        if (EmsaPss.encodedLength(rsa.getModulus().bitLength())
                < hashLength + pss.getSaltLength() + 2)
            throw new InvalidAlgorithmParameterException("a salt of " + pss.getSaltLength()
                    + " bytes does not fit a " + rsa.getModulus().bitLength() + "-bit key with "
                    + pss.getDigestAlgorithm());
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

    /**
     * Through CNG first: a key storage provider's key, or a CSP's seen through CNG. A CSP key CNG
     * cannot see is signed by the raw private-key operation over Java's own encoding; a key that
     * can do neither is refused, with both reasons.
     */
    @Override
    byte[] signMessage() throws SignatureException, NativeFailure {
        byte[] messageHash = messageHash();
        int saltLength = ((PSSParameterSpec) parameters).getSaltLength();
        try {
            return key.call(held -> ProviderNatives.signCng(held, messageHash,
                    SignaturePadding.PSS.code, digest.code, saltLength));
        } catch (NativeFailure failure) {
            if (key.cng() || failure.status != NativeStatus.NO_CNG_KEY) throw failure;
            return signRaw(messageHash, saltLength, failure);
        }
    }

    private byte[] signRaw(byte[] messageHash, int saltLength, NativeFailure cngRefusal)
            throws SignatureException {
        byte[] block = EmsaPss.encode(digest, messageHash, saltLength,
                ((RsaHandleKey) key).getModulus().bitLength(), random);
        try {
            return key.call(held -> ProviderNatives.rawRsa(held, block));
        } catch (NativeFailure failure) {
            String reason = failure.status == NativeStatus.NO_RAW_OPERATION
                    ? ": the key's CSP can do PSS neither through CNG (" + cngRefusal.getMessage()
                            + ") nor by its raw RSA operation (" + failure.getMessage() + ")"
                    : ": " + failure.getMessage();
            SignatureException refusal = new SignatureException(algorithm + " with the key of \""
                    + key.alias() + "\" failed" + reason, failure);
            refusal.addSuppressed(cngRefusal);
            throw refusal;
        }
    }
}
