package com.quendrilax.browser.keystore.provider.spi;

import java.util.List;

/**
 * The signature algorithms of the provider but RSASSA-PSS: each with its aliases, the digest Java
 * computes and the kind of signature the key makes of it. The last ones are refused with the
 * reason: the library cannot make those signatures.
 */
enum SigningAlgorithm {
    MD5_RSA("MD5withRSA", List.of("1.2.840.113549.1.1.4"), Digest.MD5, Kind.PKCS1),
    SHA1_RSA("SHA1withRSA", List.of("1.2.840.113549.1.1.5", "1.3.14.3.2.29"), Digest.SHA1,
            Kind.PKCS1),
    SHA256_RSA("SHA256withRSA", List.of("1.2.840.113549.1.1.11"), Digest.SHA256, Kind.PKCS1),
    SHA384_RSA("SHA384withRSA", List.of("1.2.840.113549.1.1.12"), Digest.SHA384, Kind.PKCS1),
    SHA512_RSA("SHA512withRSA", List.of("1.2.840.113549.1.1.13"), Digest.SHA512, Kind.PKCS1),
    /** A DER DigestInfo of one of the digests above, or the 36-byte MD5 and SHA-1 of TLS 1.0. */
    NONE_RSA("NONEwithRSA", List.of(), null, Kind.PKCS1),
    SHA1_DSA("SHA1withDSA", List.of("1.2.840.10040.4.3", "DSA", "SHA/DSA", "DSS"), Digest.SHA1,
            Kind.DSA_DER),
    SHA1_DSA_P1363("SHA1withDSAinP1363Format", List.of(), Digest.SHA1, Kind.DSA_P1363),
    SHA1_ECDSA("SHA1withECDSA", List.of("1.2.840.10045.4.1", "ECDSA"), Digest.SHA1,
            Kind.ECDSA_DER),
    /** ECDSA signs the hash as it is, so CNG takes SHA-224, which CryptoAPI has no number for. */
    SHA224_ECDSA("SHA224withECDSA", List.of("1.2.840.10045.4.3.1"), Digest.SHA224, Kind.ECDSA_DER),
    SHA256_ECDSA("SHA256withECDSA", List.of("1.2.840.10045.4.3.2"), Digest.SHA256, Kind.ECDSA_DER),
    SHA384_ECDSA("SHA384withECDSA", List.of("1.2.840.10045.4.3.3"), Digest.SHA384, Kind.ECDSA_DER),
    SHA512_ECDSA("SHA512withECDSA", List.of("1.2.840.10045.4.3.4"), Digest.SHA512, Kind.ECDSA_DER),
    SHA1_ECDSA_P1363("SHA1withECDSAinP1363Format", List.of(), Digest.SHA1, Kind.ECDSA_P1363),
    SHA224_ECDSA_P1363("SHA224withECDSAinP1363Format", List.of(), Digest.SHA224,
            Kind.ECDSA_P1363),
    SHA256_ECDSA_P1363("SHA256withECDSAinP1363Format", List.of(), Digest.SHA256,
            Kind.ECDSA_P1363),
    SHA384_ECDSA_P1363("SHA384withECDSAinP1363Format", List.of(), Digest.SHA384,
            Kind.ECDSA_P1363),
    SHA512_ECDSA_P1363("SHA512withECDSAinP1363Format", List.of(), Digest.SHA512,
            Kind.ECDSA_P1363),

    SHA224_RSA("SHA224withRSA", List.of("1.2.840.113549.1.1.14"), KeyFamily.RSA,
            "SHA224withRSA: CryptoAPI has no SHA-224; use SHA256withRSA"),
    SHA224_DSA("SHA224withDSA", List.of("2.16.840.1.101.3.4.3.1"), KeyFamily.DSA,
            "SHA224withDSA: the DSS providers of CryptoAPI sign SHA-1 hashes only"),
    SHA256_DSA("SHA256withDSA", List.of("2.16.840.1.101.3.4.3.2"), KeyFamily.DSA,
            "SHA256withDSA: the DSS providers of CryptoAPI sign SHA-1 hashes only");

    /** The kinds of signature the key makes, and the format each hands out. */
    enum Kind { PKCS1, DSA_DER, DSA_P1363, ECDSA_DER, ECDSA_P1363, REFUSED }

    final String jcaName;
    final List<String> aliases;
    final KeyFamily family;
    private final Digest digest;
    private final Kind kind;
    /** Why the library cannot sign with this algorithm, or null when it can. */
    private final String refusal;

    SigningAlgorithm(String jcaName, List<String> aliases, Digest digest, Kind kind) {
        this.jcaName = jcaName;
        this.aliases = aliases;
        this.digest = digest;
        this.kind = kind;
        this.family = kind == Kind.PKCS1 ? KeyFamily.RSA
                : kind == Kind.DSA_DER || kind == Kind.DSA_P1363 ? KeyFamily.DSA : KeyFamily.EC;
        this.refusal = null;
    }

    SigningAlgorithm(String jcaName, List<String> aliases, KeyFamily family, String refusal) {
        this.jcaName = jcaName;
        this.aliases = aliases;
        this.digest = null;
        this.kind = Kind.REFUSED;
        this.family = family;
        this.refusal = refusal;
    }

    /** A new signature service of the algorithm. */
    KeySignature newSignature() {
        switch (kind) {
            case PKCS1:
                return new Pkcs1Signature(jcaName, digest);
            case DSA_DER:
            case DSA_P1363:
                return new DsaSignature(jcaName, kind == Kind.DSA_P1363);
            case ECDSA_DER:
            case ECDSA_P1363:
                return new EcdsaSignature(jcaName, digest, kind == Kind.ECDSA_P1363);
            default:
                return new RefusedSignature(jcaName, family, refusal);
        }
    }

    /** The class of the service, as the provider lists it. */
    Class<? extends KeySignature> serviceClass() {
        switch (kind) {
            case PKCS1:
                return Pkcs1Signature.class;
            case DSA_DER:
            case DSA_P1363:
                return DsaSignature.class;
            case ECDSA_DER:
            case ECDSA_P1363:
                return EcdsaSignature.class;
            default:
                return RefusedSignature.class;
        }
    }
}
