package com.quendrilax.browser.cipher;

import com.quendrilax.browser.loader.NativeLibraryLoader;

/**
 * Decryption with the key-exchange key Windows keeps for one of the current user's
 * certificates. The ciphertext is most significant byte first, as {@code javax.crypto} makes
 * it; PKCS #1 v1.5 padding is tried first, then OAEP with SHA-1. A call that fails returns null;
 * {@code BrowserSignature.getLastError()} tells why.
 */
public final class RSACipher {
    static {
        NativeLibraryLoader.load();
    }

    private RSACipher() {}

    /** Decrypts; the password plays no part in the decryption. */
    public static native byte[] decryptWithPassword(byte[] certificate, byte[] cipherText,
            byte[] password);

    public static native byte[] decrypt(byte[] certificate, byte[] cipherText);
}
