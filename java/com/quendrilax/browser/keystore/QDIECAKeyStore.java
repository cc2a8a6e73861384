package com.quendrilax.browser.keystore;

import com.quendrilax.browser.loader.NativeLibraryLoader;

/**
 * The certificates of the current user's Windows system stores, by store name ("My", "Root",
 * "CA", ...). Listing "MY", spelled so, gives only the certificates that have a key.
 */
public final class QDIECAKeyStore {
    static {
        NativeLibraryLoader.load();
    }

    private QDIECAKeyStore() {}

    /** The encodings of the store's certificates, the most recently added first; never null. */
    public static native byte[][] getCertificatesInIESystemStore(String storeName);

    public static native void addCertificateInIESystemStore(String storeName, byte[] certificate);

    /** Deletes the certificate with this encoding, if the store holds it. */
    public static native void deleteCertificateInIESystemStore(String storeName,
            byte[] certificate);
}
