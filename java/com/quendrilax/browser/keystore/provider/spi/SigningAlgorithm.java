package com.quendrilax.browser.keystore.provider.spi;

import java.util.List;

/**
 * The signature algorithms of the provider: the digest Java computes, the CryptoAPI algorithm
 * the library signs that hash as, and how its output becomes the algorithm's format. The last
 * ones are refused with the reason: the library cannot make those signatures.
 */
enum SigningAlgorithm {
    MD5_RSA("MD5withRSA", List.of("1.2.840.113549.1.1.4"), "MD5", 0x8003, KeyFamily.RSA, Output.RSA),
    SHA1_RSA("SHA1withRSA", List.of("1.2.840.113549.1.1.5", "1.3.14.3.2.29"), "SHA-1", 0x8004,
            KeyFamily.RSA, Output.RSA),
    SHA256_RSA("SHA256withRSA", List.of("1.2.840.113549.1.1.11"), "SHA-256", 0x800c,
            KeyFamily.RSA, Output.RSA),
    SHA384_RSA("SHA384withRSA", List.of("1.2.840.113549.1.1.12"), "SHA-384", 0x800d,
            KeyFamily.RSA, Output.RSA),
    SHA512_RSA("SHA512withRSA", List.of("1.2.840.113549.1.1.13"), "SHA-512", 0x800e,
            KeyFamily.RSA, Output.RSA),
    /** A DER DigestInfo of one of the digests above, or the 36-byte MD5 and SHA-1 of TLS 1.0. */
    NONE_RSA("NONEwithRSA", List.of(), null, 0, KeyFamily.RSA, Output.RSA),
    SHA1_DSA("SHA1withDSA", List.of("1.2.840.10040.4.3", "DSA", "SHA/DSA", "DSS"), "SHA-1",
            0x8004, KeyFamily.DSA, Output.DSA_DER),
    SHA1_DSA_P1363("SHA1withDSAinP1363Format", List.of(), "SHA-1", 0x8004, KeyFamily.DSA,
            Output.DSA_P1363),
    SHA1_ECDSA("SHA1withECDSA", List.of("1.2.840.10045.4.1", "ECDSA"), "SHA-1", 0x8004,
            KeyFamily.EC, Output.ECDSA_DER),
    /** ECDSA signs the hash as it is, so CNG takes SHA-224, which CryptoAPI has no number for. */
    SHA224_ECDSA("SHA224withECDSA", List.of("1.2.840.10045.4.3.1"), "SHA-224", 0, KeyFamily.EC,
            Output.ECDSA_DER),
    SHA256_ECDSA("SHA256withECDSA", List.of("1.2.840.10045.4.3.2"), "SHA-256", 0x800c,
            KeyFamily.EC, Output.ECDSA_DER),
    SHA384_ECDSA("SHA384withECDSA", List.of("1.2.840.10045.4.3.3"), "SHA-384", 0x800d,
            KeyFamily.EC, Output.ECDSA_DER),
    SHA512_ECDSA("SHA512withECDSA", List.of("1.2.840.10045.4.3.4"), "SHA-512", 0x800e,
            KeyFamily.EC, Output.ECDSA_DER),
    SHA1_ECDSA_P1363("SHA1withECDSAinP1363Format", List.of(), "SHA-1", 0x8004, KeyFamily.EC,
            Output.ECDSA_P1363),
    SHA224_ECDSA_P1363("SHA224withECDSAinP1363Format", List.of(), "SHA-224", 0, KeyFamily.EC,
            Output.ECDSA_P1363),
    SHA256_ECDSA_P1363("SHA256withECDSAinP1363Format", List.of(), "SHA-256", 0x800c,
            KeyFamily.EC, Output.ECDSA_P1363),
    SHA384_ECDSA_P1363("SHA384withECDSAinP1363Format", List.of(), "SHA-384", 0x800d,
            KeyFamily.EC, Output.ECDSA_P1363),
    SHA512_ECDSA_P1363("SHA512withECDSAinP1363Format", List.of(), "SHA-512", 0x800e,
            KeyFamily.EC, Output.ECDSA_P1363),

    SHA224_RSA("SHA224withRSA", List.of("1.2.840.113549.1.1.14"), KeyFamily.RSA,
            "SHA224withRSA: CryptoAPI has no SHA-224; use SHA256withRSA"),
    SHA224_DSA("SHA224withDSA", List.of("2.16.840.1.101.3.4.3.1"), KeyFamily.DSA,
            "SHA224withDSA: the DSS providers of CryptoAPI sign SHA-1 hashes only"),
    SHA256_DSA("SHA256withDSA", List.of("2.16.840.1.101.3.4.3.2"), KeyFamily.DSA,
            "SHA256withDSA: the DSS providers of CryptoAPI sign SHA-1 hashes only");

    /** How the library's signature becomes the algorithm's. */
    enum Output { RSA, DSA_DER, DSA_P1363, ECDSA_DER, ECDSA_P1363 }

    final String jcaName;
    final List<String> aliases;
    final String digest;
    final int algorithmId;
    final KeyFamily family;
    final Output output;
    /** Why the library cannot sign with this algorithm, or null when it can. */
    final String refusal;

    SigningAlgorithm(String jcaName, List<String> aliases, String digest, int algorithmId,
            KeyFamily family, Output output) {
        this.jcaName = jcaName;
        this.aliases = aliases;
        this.digest = digest;
        this.algorithmId = algorithmId;
        this.family = family;
        this.output = output;
        this.refusal = null;
    }

    SigningAlgorithm(String jcaName, List<String> aliases, KeyFamily family, String refusal) {
        this.jcaName = jcaName;
        this.aliases = aliases;
        this.digest = null;
        this.algorithmId = 0;
        this.family = family;
        this.output = Output.RSA;
        this.refusal = refusal;
    }
}
