package com.quendrilax.browser.keystore.provider.spi;

import java.security.GeneralSecurityException;
import java.security.KeyStoreException;
import java.security.cert.X509Certificate;
import java.util.ArrayList;
import java.util.List;

/**
 * What the trust decision reads of the current user's system stores, once: the anchors of
 * "Root", the intermediates of "CA", and the certificates of "Disallowed", which are left out of
 * the other two so that no path the validator builds can pass through one.
 */
final class TrustStores {

    static final String DISALLOWED = "Disallowed";
    /** Intermediates walked at most: a loop of cross-signed certificates must end. */
    private static final int MAX_WALK = 10;

    final List<X509Certificate> anchors;
    final List<X509Certificate> intermediates;
    final StoreContents disallowed;

    private TrustStores(List<X509Certificate> anchors, List<X509Certificate> intermediates,
            StoreContents disallowed) {
        this.anchors = anchors;
        this.intermediates = intermediates;
        this.disallowed = disallowed;
    }

    /**
     * The three stores as they are now.
     *
     * @throws KeyStoreException for a store that cannot be read: a "Disallowed" store read as
     *     empty would trust what it holds
     */
    static TrustStores read() throws KeyStoreException {
        StoreContents disallowed = read(DISALLOWED);
        return new TrustStores(allowed(read(StoreName.ROOT), disallowed),
                allowed(read(StoreName.INTERMEDIATE), disallowed), disallowed);
    }

    /** The entry of "Disallowed" holding this certificate, or null. */
    StoreEntry disallowedEntry(X509Certificate certificate) {
        return disallowed.findCertificate(StoreEntry.encodingOf(certificate));
    }

    /**
     * The certificate of "Disallowed" that issued the top of this chain, directly or through
     * intermediates of "CA", or null: what a refused chain would have been trusted through, had
     * "Disallowed" not held it.
     */
    StoreEntry disallowedIssuerOf(X509Certificate[] chain) {
        X509Certificate top = chain[chain.length - 1];
        for (int step = 0; step < MAX_WALK; ++step) {
            for (StoreEntry entry : disallowed.entries()) {
                if (issued(entry.certificate, top)) return entry;
            }
            X509Certificate next = null;
            for (X509Certificate intermediate : intermediates) {
                if (intermediate != top && issued(intermediate, top)) next = intermediate;
            }
            if (next == null) return null;
            top = next;
        }
        return null;
    }

    private static boolean issued(X509Certificate issuer, X509Certificate certificate) {
        if (!issuer.getSubjectX500Principal().equals(certificate.getIssuerX500Principal()))
            return false;
        try {
            certificate.verify(issuer.getPublicKey());
            return true;
        } catch (GeneralSecurityException e) {
            return false;
        }
    }

    /** A store of the current user, whose roots are the machine's too. */
    private static StoreContents read(String name) throws KeyStoreException {
        StoreName storeName = StoreName.in(StoreLocation.CURRENT_USER, name);
        try {
            return StoreContents.read(storeName);
        } catch (NativeFailure failure) {
            throw failure.asKeyStoreException("the system store \"" + storeName
                    + "\" could not be read to decide trust");
        }
    }

    private static List<X509Certificate> allowed(StoreContents store, StoreContents disallowed) {
        List<X509Certificate> allowed = new ArrayList<>();
        for (StoreEntry entry : store.entries()) {
            if (disallowed.findCertificate(entry.encoding) == null) allowed.add(entry.certificate);
        }
        return List.copyOf(allowed);
    }
}
