package com.quendrilax.browser.keystore.provider.signature;

import com.quendrilax.browser.loader.NativeLibraryLoader;

/**
 * Signing with the private key Windows keeps for one of the current user's certificates.
 *
 * <p>The certificate is given by its encoding and looked up in the user's personal store; the
 * signature comes back most significant byte first, as {@code java.security} reads it. A call
 * that fails returns null; {@link #getLastError()} then tells why and, for a failure inside the
 * provider, {@link #getError()} gives the Windows error.
 */
public final class BrowserSignature {
    static {
        NativeLibraryLoader.load();
    }

    private BrowserSignature() {}

    /**
     * Signs data, or a hash value computed beforehand, with an optional PIN for the container.
     *
     * @param digestAlgorithm the CryptoAPI hash algorithm identifier (CALG_SHA1 is 0x8004,
     *     CALG_SHA_256 0x800c, ...)
     * @param keyAlgorithm "RSA" or "DSA": moves certificates of a legacy Microsoft provider to
     *     the newer provider of that algorithm
     * @param password the container's PIN, or null or empty for none
     * @param dataIsHash whether {@code data} already is the hash value
     */
    public static native byte[] signDataWithPassword(int digestAlgorithm, String keyAlgorithm,
            byte[] certificate, byte[] data, byte[] password, boolean dataIsHash);

    /** Signs data, without a PIN. */
    public static native byte[] sign(int digestAlgorithm, String keyAlgorithm, byte[] certificate,
            byte[] data);

    /** The same entry as {@link #sign}: no PIN reaches the provider through it. */
    public static native byte[] signWithPassword(int digestAlgorithm, String keyAlgorithm,
            byte[] certificate, byte[] data);

    /** The Windows error of the last signing that failed inside the provider. */
    public static native int getError();

    /** The status code of the last operation that recorded one; 0 after a success. */
    public static native int getLastError();
}
