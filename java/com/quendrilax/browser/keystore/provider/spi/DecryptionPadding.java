package com.quendrilax.browser.keystore.provider.spi;

import java.security.InvalidAlgorithmParameterException;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.MGF1ParameterSpec;
import java.util.Locale;
import java.util.Set;
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

    static final DecryptionPadding PKCS1 = new DecryptionPadding(null, null, null, new byte[0]);

    /** The digests CNG's OAEP takes. */
    private static final Set<Digest> CNG_DIGESTS =
            Set.of(Digest.SHA1, Digest.SHA256, Digest.SHA384, Digest.SHA512);

    /** OAEP's digest and MGF1's, null for PKCS #1 v1.5 or for a digest the JDK names alone. */
    private final Digest digest;
    private final Digest mgf1Digest;
    /** The digests' names as given, for what is said of them. */
    private final String digestNames;
    private final byte[] label;

    private DecryptionPadding(Digest digest, Digest mgf1Digest, String digestNames, byte[] label) {
        this.digest = digest;
        this.mgf1Digest = mgf1Digest;
        this.digestNames = digestNames;
        this.label = label;
    }

    private static DecryptionPadding oaep(String digestName, String mgf1Name, byte[] label) {
        return new DecryptionPadding(Digest.named(digestName), Digest.named(mgf1Name),
                "OAEP with " + nameOf(digestName) + ", MGF1 over " + nameOf(mgf1Name), label);
    }

    private static String nameOf(String digestName) {
        Digest named = Digest.named(digestName);
        return named == null ? digestName.toUpperCase(Locale.ROOT) : named.jdkName;
    }

    /** The padding a transformation names, with the JDK's default parameters. */
    static DecryptionPadding named(String padding) throws NoSuchPaddingException {
        String upper = padding.toUpperCase(Locale.ROOT);
        if (upper.equals("PKCS1PADDING")) return PKCS1;
        if (upper.equals("OAEPPADDING")) return oaep("SHA-1", "SHA-1", new byte[0]);
        if (upper.startsWith("OAEPWITH") && upper.endsWith("ANDMGF1PADDING")) {
            String named = upper.substring(8, upper.length() - 14);
            if (CNG_DIGESTS.contains(Digest.named(named))) return oaep(named, "SHA-1", new byte[0]);
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
        return oaep(oaep.getDigestAlgorithm(),
                ((MGF1ParameterSpec) oaep.getMGFParameters()).getDigestAlgorithm(),
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
            if (digest == Digest.SHA1 && mgf1Digest == Digest.SHA1 && label.length == 0) return;
            throw new InvalidAlgorithmParameterException("the key of \"" + key.alias() + "\" is a"
                    + " CSP's, which removes OAEP with SHA-1, MGF1 over SHA-1 and no label only"
                    + " (RSA/ECB/OAEPPadding without parameters); asked: " + this);
        }
        if (CNG_DIGESTS.contains(digest) && digest == mgf1Digest) return;
        String hint = CNG_DIGESTS.contains(digest)
                ? "; for " + digest + " throughout, init with new OAEPParameterSpec(\"" + digest
                        + "\", \"MGF1\", new MGF1ParameterSpec(\"" + digest
                        + "\"), PSource.PSpecified.DEFAULT)"
                : "";
        throw new InvalidAlgorithmParameterException("the key of \"" + key.alias() + "\" is a key"
                + " storage provider's, and CNG's OAEP takes one digest for OAEP and MGF1 (SHA-1,"
                + " SHA-256, SHA-384 or SHA-512); asked: " + this + hint);
    }

    boolean oaep() {
        return digestNames != null;
    }

    /** OAEP's digest, and MGF1's, as CNG takes it: one for both (checked by checkKey). */
    Digest digest() {
        return digest;
    }

    /** OAEP's label, null for none. */
    byte[] label() {
        return label.length == 0 ? null : label.clone();
    }

    @Override
    public String toString() {
        if (!oaep()) return "PKCS #1 v1.5";
        return digestNames + " and "
                + (label.length == 0 ? "no label" : "a label of " + label.length + " bytes");
    }
}
