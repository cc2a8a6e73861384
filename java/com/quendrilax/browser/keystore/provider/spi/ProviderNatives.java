package com.quendrilax.browser.keystore.provider.spi;

import com.quendrilax.browser.loader.NativeLibraryLoader;

/**
 * The natives of the QDIE provider, in the QDIEProvider library: each returns its result or
 * throws the {@link NativeFailure} of that call, so that nothing is read back from anything
 * another thread may have changed. Every step is logged to the library's log.
 */
final class ProviderNatives {

    static {
        NativeLibraryLoader.loadProvider();
    }

    private ProviderNatives() {}

    /**
     * Signs a hash of the CryptoAPI algorithm {@code hashAlgorithm} with the key of the personal
     * store's certificate, its container opened with the PIN when one is given: the signature
     * most significant byte first, checked against the certificate.
     */
    static native byte[] signHash(int hashAlgorithm, String keyAlgorithm, byte[] certificate,
            byte[] hash, byte[] pin) throws NativeFailure;

    /**
     * Decrypts one RSA block (most significant byte first) with the key-exchange key of the
     * personal store's certificate, removing PKCS #1 v1.5 padding, or with {@code oaep} OAEP
     * padding (SHA-1, MGF1 over SHA-1, no label), and never the other; the PIN, when one is given,
     * goes to the key-exchange key.
     */
    static native byte[] decrypt(byte[] certificate, byte[] cipherText, boolean oaep, byte[] pin)
            throws NativeFailure;

    /**
     * The private-key operation alone on one block (most significant byte first, as long as the
     * modulus), with the key-exchange key of the personal store's certificate: for a padding the
     * caller makes itself (RSASSA-PSS). Status 26 when the key's provider refuses it.
     */
    static native byte[] rawRsa(byte[] certificate, byte[] block, byte[] pin) throws NativeFailure;

    /** CNG's schemes, by its own numbers: ECDSA signs without one. */
    static final int CNG_NO_PADDING = 0;
    static final int CNG_PKCS1 = 2;
    static final int CNG_OAEP = 4;
    static final int CNG_PSS = 8;

    /**
     * Signs a hash through CNG with the key of the personal store's certificate: a key storage
     * provider's key, or a CSP's seen through CNG (its PIN, when one is given, set first).
     * {@code scheme} is {@link #CNG_PKCS1} or {@link #CNG_PSS} (with {@code saltLength}) for RSA,
     * {@link #CNG_NO_PADDING} for ECDSA; {@code hashAlgorithm} the CryptoAPI algorithm of the
     * hash. The signature as CNG writes it: RSA most significant byte first, ECDSA r then s.
     * Checked against the certificate before it is returned; status 27 when CNG cannot use the
     * key for it.
     */
    static native byte[] signCng(byte[] certificate, byte[] hash, int scheme, int hashAlgorithm,
            int saltLength, byte[] pin) throws NativeFailure;

    /**
     * Decrypts one RSA block (most significant byte first) through CNG with {@link #CNG_PKCS1}
     * or {@link #CNG_OAEP}, whose digest and MGF1's are {@code hashAlgorithm}'s, with the label
     * (none when null or empty).
     */
    static native byte[] decryptCng(byte[] certificate, byte[] cipherText, int scheme,
            int hashAlgorithm, byte[] label, byte[] pin) throws NativeFailure;

    /**
     * Every certificate of a system store of the current user, with whether it has a key and
     * whether the key is a key storage provider's.
     */
    static native StoreListing listStore(String storeName) throws NativeFailure;

    /** Adds the certificate to the system store (one already there is kept as it is). */
    static native void addCertificate(String storeName, byte[] encoding) throws NativeFailure;

    /** Deletes the certificate from the system store: false when the store does not hold it. */
    static native boolean deleteCertificate(String storeName, byte[] encoding) throws NativeFailure;
}
