package com.quendrilax.browser.keystore.provider.spi;

import java.io.ByteArrayInputStream;
import java.security.GeneralSecurityException;
import java.security.ProviderException;
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
 * What one system store held when it was read, and the changes made through it since, as
 * entries with their aliases. The personal store's certificates that have a key are key
 * entries; every other certificate is a certificate entry.
 */
final class StoreContents {

    /** Longer chains than this are cut: a loop of cross-signed certificates must end. */
    private static final int MAX_CHAIN = 10;

    final StoreName storeName;
    private final List<StoreEntry> entries;
    /**
     * The entries by their own alias and by their thumbprint, in lower case: one for a name that
     * names one, several for an alias that certificates share, which then names none of them.
     */
    private final Map<String, List<StoreEntry>> byName = new HashMap<>();
    /**
     * The key entries by their container's name, in lower case, as container names compare: the
     * name keytool's -alias gave a key made or imported through the provider. An alias or a
     * thumbprint that is the same text names its own entry first.
     */
    private final Map<String, List<StoreEntry>> byContainer = new HashMap<>();
    private List<X509Certificate> issuers;

    /** The entries, each certificate once, the first of the same thumbprint kept. */
    StoreContents(StoreName storeName, List<StoreEntry> listed) {
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
            if (entry.container != null)
                byContainer.computeIfAbsent(entry.container.toLowerCase(Locale.ROOT),
                        name -> new ArrayList<>()).add(entry);
        }
    }

    /** The store as the library lists it now; encodings Java cannot read are left out. */
    static StoreContents read(StoreName storeName) throws NativeFailure {
        return new StoreContents(storeName, parse(storeName, storeName.isPersonal()));
    }

    private static List<StoreEntry> parse(StoreName storeName, boolean keysMakeKeyEntries)
            throws NativeFailure {
        StoreListing listing =
                ProviderNatives.listStore(storeName.location.isMachine(), storeName.name);
        List<StoreEntry> parsed = new ArrayList<>();
        // One factory for the store: finding it costs more than reading a certificate.
        CertificateFactory factory = x509Factory();
        for (int i = 0; i < listing.encodings.length; ++i) {
            X509Certificate certificate = certificateOrNull(factory, listing.encodings[i]);
            if (certificate != null)
                parsed.add(new StoreEntry(certificate, listing.encodings[i],
                        keysMakeKeyEntries && listing.hasKey[i], listing.cngKey[i], null,
                        listing.containers[i]));
        }
        return parsed;
    }

    /** These contents with a certificate the store has just taken, as a load would list it. */
    StoreContents withAdded(StoreEntry added) {
        List<StoreEntry> changed = new ArrayList<>(entries);
        changed.add(added);
        return new StoreContents(storeName, changed);
    }

    /** These contents without a certificate the store has just let go. */
    StoreContents without(StoreEntry removed) {
        List<StoreEntry> changed = new ArrayList<>(entries);
        changed.removeIf(entry -> entry.thumbprint.equals(removed.thumbprint));
        return new StoreContents(storeName, changed);
    }

    private static CertificateFactory x509Factory() {
        try {
            return CertificateFactory.getInstance("X.509");
        } catch (CertificateException e) {
            throw new ProviderException("the JDK reads no X.509 certificates", e);
        }
    }

    private static X509Certificate certificateOrNull(CertificateFactory factory, byte[] encoding) {
        try {
            return (X509Certificate) factory.generateCertificate(new ByteArrayInputStream(encoding));
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
        String lowerCase = name.toLowerCase(Locale.ROOT);
        List<StoreEntry> named = byName.getOrDefault(lowerCase, byContainer.get(lowerCase));
        if (named == null) return null;
        if (named.size() == 1) return named.get(0);
        List<String> thumbprints = new ArrayList<>();
        for (StoreEntry entry : named) thumbprints.add(entry.thumbprint);
        throw new AmbiguousAliasException(name, storeName.toString(), thumbprints);
    }

    StoreEntry findCertificate(byte[] encoding) {
        for (StoreEntry entry : entries) {
            if (Arrays.equals(entry.encoding, encoding)) return entry;
        }
        return null;
    }

    /**
     * The certificate and its issuers up to a self-issued one, from the intermediate ("CA") and
     * root ("Root") stores of the store's location, each link checked by its signature.
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
            List<X509Certificate> found = new ArrayList<>();
            for (StoreName store : List.of(storeName.sibling(StoreName.INTERMEDIATE),
                    storeName.sibling(StoreName.ROOT))) {
                try {
                    for (StoreEntry entry : parse(store, false)) found.add(entry.certificate);
                } catch (NativeFailure failure) {
                    throw failure.asProviderException("the issuers of a chain could not be read"
                            + " from \"" + store + "\"");
                }
            }
            issuers = found;
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
