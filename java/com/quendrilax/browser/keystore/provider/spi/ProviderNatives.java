package com.quendrilax.browser.keystore.provider.spi;

import com.quendrilax.browser.loader.NativeLibraryLoader;

/**
 * The natives of the QDIE provider, in the QDIEProvider library: each returns its result or
 * throws the {@link NativeFailure} of that call, so that nothing is read back from anything
 * another thread may have changed. A key is opened at its first use, checked then against its
 * certificate, and held until freed. Every step is logged to the library's log.
 */
final class ProviderNatives {

    static {
        NativeLibraryLoader.loadProvider();
    }

    private ProviderNatives() {}

    /**
     * Holds the key of the certificate of the personal store (the machine's or the current
     * user's) for the calls below, to be opened at its first use with the PIN when one is given
     * ({@code keyAlgorithm} "RSA", "DSA" or "EC"): a key handle, freed by {@link #freeKeyHandle}
     * once and only when no call is using it.
     */
    static native long newKeyHandle(boolean localMachine, byte[] certificate, String keyAlgorithm,
            byte[] pin);

    /**
     * Holds the key of a container of the location (a CSP's, or the key storage provider's when
     * {@code keyStorageProvider}), which must have this public key (a SubjectPublicKeyInfo), as
     * {@link #newKeyHandle} holds a certificate's.
     */
    static native long newContainerKeyHandle(boolean localMachine, String container,
            boolean keyStorageProvider, byte[] publicKeyInfo, String keyAlgorithm, byte[] pin);

    static native void freeKeyHandle(long key);

    /**
     * Imports a key into a new container of the location, not exportable, the PIN protecting it
     * when one is given, adds the certificate to the location's "My" bound to it and each issuer
     * to its "CA" unless "CA" or "Root" holds it: all or nothing. An RSA key's components are
     * its modulus, public and private exponents, primes, prime exponents and coefficient
     * ({@code curveBits} 0), into the key storage provider when {@code keyStorageProvider}, else
     * the Enhanced RSA and AES CSP; an EC key's the public point's x and y and the private value,
     * each of the curve's length, into the key storage provider. Fails with NTE_EXISTS, changing
     * nothing, when the container exists.
     */
    static native void installKeyEntry(boolean localMachine, String container,
            boolean keyStorageProvider, int curveBits, byte[][] components, byte[] pin,
            byte[] certificate, byte[][] issuers) throws NativeFailure;

    /**
     * Generates a key inside a new container of the location, not exportable (RSA of {@code
     * bits}, or EC on the curve of {@code bits} in the key storage provider): its
     * SubjectPublicKeyInfo.
     */
    static native byte[] generateKey(boolean localMachine, String container,
            boolean keyStorageProvider, boolean ec, int bits, byte[] pin) throws NativeFailure;

    /**
     * Binds the certificate to the held key's container in its location's "My", each issuer
     * added to "CA" unless "CA" or "Root" holds it; a key held for another certificate then has
     * that certificate deleted from "My": a certificate reply replaces the entry. All or nothing
     * up to the deletion.
     */
    static native void bindCertificate(long key, byte[] certificate, byte[][] issuers)
            throws NativeFailure;

    /**
     * Deletes the certificate from the location's "My", then its key container unless another
     * certificate of "My" is bound to it.
     */
    static native void deleteKeyEntry(boolean localMachine, byte[] certificate)
            throws NativeFailure;

    /**
     * Signs the hash of the digest ({@link Digest#code}) with the key in its CSP (a legacy CSP's
     * moved to the newer one of the key algorithm): the signature most significant byte first.
     */
    static native byte[] signHash(long key, int digest, byte[] hash) throws NativeFailure;

    /**
     * Decrypts one RSA block (most significant byte first) with the key-exchange key, removing
     * PKCS #1 v1.5 padding, or with {@code oaep} OAEP padding (SHA-1, MGF1 over SHA-1, no label),
     * and never the other.
     */
    static native byte[] decrypt(long key, byte[] cipherText, boolean oaep) throws NativeFailure;

    /**
     * The private-key operation alone on one block (most significant byte first, as long as the
     * modulus), with the key-exchange key: for a padding the caller makes itself (RSASSA-PSS).
     * Status 26 when the key's provider refuses it.
     */
    static native byte[] rawRsa(long key, byte[] block) throws NativeFailure;

    /**
     * Signs the hash of the digest through CNG: a key storage provider's key, or a CSP's seen
     * through CNG, padded as {@link SignaturePadding#code} says (PSS with {@code saltLength}).
     * The signature as CNG writes it: RSA most significant byte first, ECDSA r then s. Status 27
     * when CNG cannot use the key for it.
     */
    static native byte[] signCng(long key, byte[] hash, int padding, int digest, int saltLength)
            throws NativeFailure;

    /**
     * Decrypts one RSA block (most significant byte first) through CNG, removing PKCS #1 v1.5
     * padding, or with {@code oaep} OAEP with the digest for both OAEP and MGF1 and the label
     * (none when null or empty).
     */
    static native byte[] decryptCng(long key, byte[] cipherText, boolean oaep, int digest,
            byte[] label) throws NativeFailure;

    /**
     * Every certificate of a system store of the machine or the current user, with whether it
     * has a key and whether the key is a key storage provider's. A store the user may read but
     * not change lists all the same.
     */
    static native StoreListing listStore(boolean localMachine, String storeName)
            throws NativeFailure;

    /** Adds the certificate to the system store (one already there is kept as it is). */
    static native void addCertificate(boolean localMachine, String storeName, byte[] encoding)
            throws NativeFailure;

    /** Deletes the certificate from the system store: false when the store does not hold it. */
    static native boolean deleteCertificate(boolean localMachine, String storeName,
            byte[] encoding) throws NativeFailure;
}
