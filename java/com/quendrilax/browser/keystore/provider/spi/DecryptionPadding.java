package com.quendrilax.browser.keystore.provider.spi;

import java.security.InvalidAlgorithmParameterException;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.MGF1ParameterSpec;
import java.util.Locale;
import java.util.Map;
import javax.crypto.NoSuchPaddingException;
import javax.crypto.spec.OAEPParameterSpec;
import javax.crypto.spec.PSource;

/**
 * The one padding an RSA cipher of the key store removes: PKCS #1 v1.5, or OAEP with its digest,
 * MGF1's digest and label, read as SunJCE reads them. {@code OAEPWith<digest>AndMGF1Padding}
 * is that digest with MGF1 over SHA-1 and no label, the JDK's defaults; an
 * {@link OAEPParameterSpec} says anything else.
 */
final class DecryptionPadding {

    static final DecryptionPadding PKCS1 = new DecryptionPadding(null, null, new byte[0]);

    /** The digests CNG's OAEP takes, by their CryptoAPI numbers. */
    private static final Map<String, Integer> CNG_DIGESTS = Map.of(
            "SHA-1", 0x8004, "SHA-256", 0x800c, "SHA-384", 0x800d, "SHA-512", 0x800e);
    private static final String SHA1 = "SHA-1";

    private final String digest;
    private final String mgf1Digest;
    private final byte[] label;

    private DecryptionPadding(String digest, String mgf1Digest, byte[] label) {
        this.digest = digest;
        this.mgf1Digest = mgf1Digest;
        this.label = label;
    }

    /** The padding a transformation names, with the JDK's default parameters. */
    static DecryptionPadding named(String padding) throws NoSuchPaddingException {
        String upper = padding.toUpperCase(Locale.ROOT);
        if (upper.equals("PKCS1PADDING")) return PKCS1;
        if (upper.equals("OAEPPADDING")) return new DecryptionPadding(SHA1, SHA1, new byte[0]);
        if (upper.startsWith("OAEPWITH") && upper.endsWith("ANDMGF1PADDING")) {
            String named = canonical(upper.substring(8, upper.length() - 14));
            if (CNG_DIGESTS.containsKey(named))
                return new DecryptionPadding(named, SHA1, new byte[0]);
        }
        throw new NoSuchPaddingException("the key store decrypts PKCS1Padding, OAEPPadding and"
                + " OAEPWith<digest>AndMGF1Padding for SHA-1, SHA-256, SHA-384 and SHA-512, not "
                + padding);
    }

    /**
     * This padding with the parameters given at init: none keeps the name's; OAEP takes an
     * {@link OAEPParameterSpec}, which replaces them whole, as SunJCE does.
     */
    DecryptionPadding with(AlgorithmParameterSpec params)
            throws InvalidAlgorithmParameterException {
        if (params == null) return this;
        if (!oaep())
            throw new InvalidAlgorithmParameterException("PKCS1Padding takes no parameters, not "
                    + params.getClass().getName());
        if (!(params instanceof OAEPParameterSpec))
            throw new InvalidAlgorithmParameterException("OAEP takes an OAEPParameterSpec, not "
                    + params.getClass().getName());
        OAEPParameterSpec oaep = (OAEPParameterSpec) params;
        if (!oaep.getMGFAlgorithm().equalsIgnoreCase("MGF1")
                || !(oaep.getMGFParameters() instanceof MGF1ParameterSpec))
            throw new InvalidAlgorithmParameterException("OAEP's mask generation is MGF1, not "
                    + oaep.getMGFAlgorithm());
        if (!(oaep.getPSource() instanceof PSource.PSpecified))
            throw new InvalidAlgorithmParameterException("OAEP's label source is PSpecified");
        return new DecryptionPadding(canonical(oaep.getDigestAlgorithm()),
                canonical(((MGF1ParameterSpec) oaep.getMGFParameters()).getDigestAlgorithm()),
                ((PSource.PSpecified) oaep.getPSource()).getValue());
    }

    /**
     * Refuses, before anything is decrypted, what the key's provider cannot remove: a CSP does
     * OAEP with SHA-1, MGF1 over SHA-1 and no label only; CNG takes one digest for both OAEP and
     * MGF1, and a label.
     */
    void checkKey(RsaHandleKey key) throws InvalidAlgorithmParameterException {
        if (!oaep()) return;
        if (!key.cng()) {
            if (digest.equals(SHA1) && mgf1Digest.equals(SHA1) && label.length == 0) return;
            throw new InvalidAlgorithmParameterException("the key of \"" + key.alias() + "\" is a"
                    + " CSP's, which removes OAEP with SHA-1, MGF1 over SHA-1 and no label only"
                    + " (RSA/ECB/OAEPPadding without parameters); asked: " + this);
        }
        if (CNG_DIGESTS.containsKey(digest) && digest.equals(mgf1Digest)) return;
        String hint = CNG_DIGESTS.containsKey(digest)
                ? "; for " + digest + " throughout, init with new OAEPParameterSpec(\"" + digest
                        + "\", \"MGF1\", new MGF1ParameterSpec(\"" + digest
                        + "\"), PSource.PSpecified.DEFAULT)"
                : "";
        throw new InvalidAlgorithmParameterException("the key of \"" + key.alias() + "\" is a key"
                + " storage provider's, and CNG's OAEP takes one digest for OAEP and MGF1 (SHA-1,"
                + " SHA-256, SHA-384 or SHA-512); asked: " + this + hint);
    }

    boolean oaep() {
        return digest != null;
    }

    /** OAEP's digest (and MGF1's) as CNG takes it, by its CryptoAPI number. */
    int cngDigest() {
        return oaep() ? CNG_DIGESTS.get(digest) : 0;
    }

    /** OAEP's label, null for none. */
    byte[] label() {
        return label.length == 0 ? null : label.clone();
    }

    /** "SHA256" and "sha-256" as "SHA-256", the JDK's standard names. */
    private static String canonical(String digest) {
        String upper = digest.toUpperCase(Locale.ROOT);
        return upper.matches("SHA[0-9]+") ? "SHA-" + upper.substring(3) : upper;
    }

    @Override
    public String toString() {
        if (!oaep()) return "PKCS #1 v1.5";
        return "OAEP with " + digest + ", MGF1 over " + mgf1Digest + " and "
                + (label.length == 0 ? "no label" : "a label of " + label.length + " bytes");
    }
}
