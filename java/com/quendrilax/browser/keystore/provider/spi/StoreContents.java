package com.quendrilax.browser.keystore.provider.spi;

import com.quendrilax.browser.keystore.QDIECAKeyStore;
import java.io.ByteArrayInputStream;
import java.security.GeneralSecurityException;
import java.security.cert.CertificateException;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.HashMap;
import java.util.HashSet;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Set;

/**
 * What one system store held when it was read, as entries with their aliases. The personal
 * store's certificates that have a key (those the library lists as "MY") are key entries; every
 * other certificate is a certificate entry.
 */
final class StoreContents {

    /** Longer chains than this are cut: a loop of cross-signed certificates must end. */
    private static final int MAX_CHAIN = 10;

    final String storeName;
    private final List<StoreEntry> entries;
    /**
     * The entries by their own alias and by their thumbprint, in lower case: one for a name that
     * names one, several for an alias that certificates share, which then names none of them.
     */
    private final Map<String, List<StoreEntry>> byName = new HashMap<>();
    private List<X509Certificate> issuers;

    /** The entries, each certificate once, the first of the same thumbprint kept. */
    StoreContents(String storeName, List<StoreEntry> listed) {
        this.storeName = storeName;
        this.entries = new ArrayList<>();
        Set<String> thumbprints = new HashSet<>();
        for (StoreEntry entry : listed) {
            if (!thumbprints.add(entry.thumbprint)) continue;
            entries.add(entry);
            byName.computeIfAbsent(entry.ownAlias.toLowerCase(Locale.ROOT), name -> new ArrayList<>())
                    .add(entry);
        }
        for (StoreEntry entry : entries) {
            List<StoreEntry> sharing = byName.get(entry.ownAlias.toLowerCase(Locale.ROOT));
            if (sharing.size() > 1) entry.listByThumbprint();
            byName.put(entry.thumbprint, List.of(entry));
        }
    }

    static StoreContents read(String storeName) {
        List<StoreEntry> entries = new ArrayList<>();
        if (StoreName.isPersonal(storeName)) entries.addAll(parse(StoreName.PERSONAL_WITH_KEYS, true));
        entries.addAll(parse(storeName, false));
        return new StoreContents(storeName, entries);
    }

    /** The store's certificates as the library lists them; encodings Java cannot read are left out. */
    private static List<StoreEntry> parse(String listedName, boolean hasKey) {
        List<StoreEntry> parsed = new ArrayList<>();
        for (byte[] encoding : QDIECAKeyStore.getCertificatesInIESystemStore(listedName)) {
            X509Certificate certificate = certificateOrNull(encoding);
            if (certificate != null) parsed.add(new StoreEntry(certificate, encoding, hasKey));
        }
        return parsed;
    }

    private static X509Certificate certificateOrNull(byte[] encoding) {
        try {
            return (X509Certificate) CertificateFactory.getInstance("X.509")
                    .generateCertificate(new ByteArrayInputStream(encoding));
        } catch (CertificateException e) {
            return null;
        }
    }

    List<StoreEntry> entries() {
        return Collections.unmodifiableList(entries);
    }

    /**
     * The entry with this alias or thumbprint, or null.
     *
     * @throws AmbiguousAliasException for an alias that several certificates of the store share
     */
    StoreEntry find(String name) {
        if (name == null) return null;
        List<StoreEntry> named = byName.get(name.toLowerCase(Locale.ROOT));
        if (named == null) return null;
        if (named.size() == 1) return named.get(0);
        List<String> thumbprints = new ArrayList<>();
        for (StoreEntry entry : named) thumbprints.add(entry.thumbprint);
        throw new AmbiguousAliasException(name, storeName, thumbprints);
    }

    StoreEntry findCertificate(byte[] encoding) {
        for (StoreEntry entry : entries) {
            if (Arrays.equals(entry.encoding, encoding)) return entry;
        }
        return null;
    }

    /**
     * The certificate and its issuers up to a self-issued one, from the current user's
     * intermediate ("CA") and root ("Root") stores, each link checked by its signature.
     */
    X509Certificate[] chain(StoreEntry leaf) {
        List<X509Certificate> chain = new ArrayList<>(List.of(leaf.certificate));
        X509Certificate last = leaf.certificate;
        while (chain.size() < MAX_CHAIN
                && !last.getSubjectX500Principal().equals(last.getIssuerX500Principal())) {
            X509Certificate issuer = issuerOf(last);
            if (issuer == null || chain.contains(issuer)) break;
            chain.add(issuer);
            last = issuer;
        }
        return chain.toArray(new X509Certificate[0]);
    }

    private X509Certificate issuerOf(X509Certificate certificate) {
        if (issuers == null) {
            issuers = new ArrayList<>();
            for (String store : List.of(StoreName.INTERMEDIATE, StoreName.ROOT)) {
                for (StoreEntry entry : parse(store, false)) issuers.add(entry.certificate);
            }
        }
        for (X509Certificate candidate : issuers) {
            if (!candidate.getSubjectX500Principal().equals(certificate.getIssuerX500Principal()))
                continue;
            try {
                certificate.verify(candidate.getPublicKey());
                return candidate;
            } catch (GeneralSecurityException e) {
                // Same name, other key: look on.
            }
        }
        return null;
    }
}
