package com.quendrilax.browser.keystore.provider.spi;

/**
 * What the provider's listing native gives: each certificate's encoding, whether it has a key,
 * and whether that key is a key storage provider's, which only CNG opens.
 */
final class StoreListing {

    final byte[][] encodings;
    final boolean[] hasKey;
    final boolean[] cngKey;

    /** Made by the library, the three arrays of one length. */
    StoreListing(byte[][] encodings, boolean[] hasKey, boolean[] cngKey) {
        this.encodings = encodings;
        this.hasKey = hasKey;
        this.cngKey = cngKey;
    }
}
