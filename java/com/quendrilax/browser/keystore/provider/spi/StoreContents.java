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
    /** Each entry by its alias and by its thumbprint, in lower case; the first of a name wins. */
    private final Map<String, StoreEntry> byName = new HashMap<>();
    private List<X509Certificate> issuers;

    private StoreContents(String storeName, List<StoreEntry> entries) {
        this.storeName = storeName;
        this.entries = entries;
        for (StoreEntry entry : entries) {
            byName.putIfAbsent(entry.alias().toLowerCase(Locale.ROOT), entry);
            byName.putIfAbsent(entry.thumbprint, entry);
        }
    }

    static StoreContents read(String storeName) {
        List<StoreEntry> entries = new ArrayList<>();
        Set<String> withKey = new HashSet<>();
        if (StoreName.isPersonal(storeName)) {
            for (StoreEntry entry : parse(StoreName.PERSONAL_WITH_KEYS, true)) {
                entries.add(entry);
                withKey.add(entry.thumbprint);
            }
        }
        for (StoreEntry entry : parse(storeName, false)) {
            if (!withKey.contains(entry.thumbprint)) entries.add(entry);
        }
        Set<String> aliases = new HashSet<>();
        for (StoreEntry entry : entries) {
            if (!aliases.add(entry.alias().toLowerCase(Locale.ROOT)))
                entry.useThumbprintAsAlias();
        }
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

    /** The entry with this alias or thumbprint, or null. */
    StoreEntry find(String name) {
        return name == null ? null : byName.get(name.toLowerCase(Locale.ROOT));
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
