package com.quendrilax.browser.keystore.provider.spi;

import java.nio.charset.StandardCharsets;

/**
 * What the provider's listing native gives: each certificate's encoding, whether it has a key,
 * whether that key is a key storage provider's, which only CNG opens, and the name of the
 * container its key-provider property names (null for a certificate without a key).
 */
final class StoreListing {

    final byte[][] encodings;
    final boolean[] hasKey;
    final boolean[] cngKey;
    final String[] containers;

    /**
     * Made by the library, the four arrays of one length; each container's name in UTF-16, low
     * byte first.
     */
    StoreListing(byte[][] encodings, boolean[] hasKey, boolean[] cngKey, byte[][] containers) {
        this.encodings = encodings;
        this.hasKey = hasKey;
        this.cngKey = cngKey;
        this.containers = new String[containers.length];
        for (int i = 0; i < containers.length; ++i) {
            if (containers[i] != null)
                this.containers[i] = new String(containers[i], StandardCharsets.UTF_16LE);
        }
    }
}
