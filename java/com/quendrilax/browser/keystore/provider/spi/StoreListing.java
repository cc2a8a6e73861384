package com.quendrilax.browser.keystore.provider.spi;

/** What the provider's listing native gives: each certificate's encoding, and whether it has a key. */
final class StoreListing {

    final byte[][] encodings;
    final boolean[] hasKey;

    /** Made by the library, the two arrays of one length. */
    StoreListing(byte[][] encodings, boolean[] hasKey) {
        this.encodings = encodings;
        this.hasKey = hasKey;
    }
}
