package com.quendrilax.browser.keystore.provider.spi;

import java.net.Socket;
import java.security.GeneralSecurityException;
import java.security.KeyStoreException;
import java.security.cert.CertStore;
import java.security.cert.CertificateException;
import java.security.cert.CollectionCertStoreParameters;
import java.security.cert.PKIXBuilderParameters;
import java.security.cert.TrustAnchor;
import java.security.cert.X509Certificate;
import java.util.HashSet;
import java.util.Set;
import javax.net.ssl.CertPathTrustManagerParameters;
import javax.net.ssl.SSLEngine;
import javax.net.ssl.TrustManagerFactory;
import javax.net.ssl.X509ExtendedTrustManager;

/**
 * Trust as the system stores give it: a chain the peer sends is refused outright when any of its
 * certificates is in "Disallowed"; otherwise the JDK's PKIX trust manager decides (expiry, key
 * usage, extended key usage for the peer's role, basic constraints, and for the socket and engine
 * forms JSSE's endpoint identification and algorithm constraints), with "Root" as its anchors
 * and "CA" as a store of intermediates the peer need not send. Revocation is not checked.
 */
final class StoreTrustManager extends X509ExtendedTrustManager {

    private final TrustStores stores;
    /** The JDK's PKIX trust manager over the stores; null when "Root" held no certificate. */
    private final X509ExtendedTrustManager pkix;

    private StoreTrustManager(TrustStores stores, X509ExtendedTrustManager pkix) {
        this.stores = stores;
        this.pkix = pkix;
    }

    /** Over the stores as they are now. */
    static StoreTrustManager overSystemStores() throws KeyStoreException {
        TrustStores stores = TrustStores.read();
        return new StoreTrustManager(stores, stores.anchors.isEmpty() ? null : pkixOver(stores));
    }

    private static X509ExtendedTrustManager pkixOver(TrustStores stores) throws KeyStoreException {
        Set<TrustAnchor> anchors = new HashSet<>();
        for (X509Certificate root : stores.anchors) anchors.add(new TrustAnchor(root, null));
        try {
            PKIXBuilderParameters parameters = new PKIXBuilderParameters(anchors, null);
            parameters.setRevocationEnabled(false);
            parameters.addCertStore(CertStore.getInstance("Collection",
                    new CollectionCertStoreParameters(stores.intermediates)));
            TrustManagerFactory factory = TrustManagerFactory.getInstance("PKIX");
            factory.init(new CertPathTrustManagerParameters(parameters));
            return (X509ExtendedTrustManager) factory.getTrustManagers()[0];
        } catch (GeneralSecurityException e) {
            throw new KeyStoreException("the JDK's PKIX trust manager could not be made over the"
                    + " system stores: " + e.getMessage(), e);
        }
    }

    @Override
    public void checkClientTrusted(X509Certificate[] chain, String authType)
            throws CertificateException {
        decide(chain, pkix -> pkix.checkClientTrusted(chain, authType));
    }

    @Override
    public void checkClientTrusted(X509Certificate[] chain, String authType, Socket socket)
            throws CertificateException {
        decide(chain, pkix -> pkix.checkClientTrusted(chain, authType, socket));
    }

    @Override
    public void checkClientTrusted(X509Certificate[] chain, String authType, SSLEngine engine)
            throws CertificateException {
        decide(chain, pkix -> pkix.checkClientTrusted(chain, authType, engine));
    }

    @Override
    public void checkServerTrusted(X509Certificate[] chain, String authType)
            throws CertificateException {
        decide(chain, pkix -> pkix.checkServerTrusted(chain, authType));
    }

    @Override
    public void checkServerTrusted(X509Certificate[] chain, String authType, Socket socket)
            throws CertificateException {
        decide(chain, pkix -> pkix.checkServerTrusted(chain, authType, socket));
    }

    @Override
    public void checkServerTrusted(X509Certificate[] chain, String authType, SSLEngine engine)
            throws CertificateException {
        decide(chain, pkix -> pkix.checkServerTrusted(chain, authType, engine));
    }

    /** The roots of "Root" not in "Disallowed". */
    @Override
    public X509Certificate[] getAcceptedIssuers() {
        return stores.anchors.toArray(new X509Certificate[0]);
    }

    /** One of the JDK's PKIX checks, over a chain. */
    private interface PkixCheck {
        void check(X509ExtendedTrustManager pkix) throws CertificateException;
    }

    /**
     * Refuses a chain that holds a certificate of "Disallowed", then hands it to PKIX; a chain
     * PKIX refuses because its issuer is in "Disallowed" (and so left out of the anchors and
     * intermediates) is refused naming it. A null chain goes on to PKIX, which refuses it as the
     * API says.
     */
    private void decide(X509Certificate[] chain, PkixCheck check) throws CertificateException {
        if (chain != null) {
            for (X509Certificate certificate : chain) {
                StoreEntry disallowed = stores.disallowedEntry(certificate);
                if (disallowed != null) throw new CertificateException(neverTrusted(disallowed));
            }
        }
        if (pkix == null)
            throw new CertificateException("nothing is trusted: the \"" + StoreName.ROOT
                    + "\" store held no certificate outside \"" + TrustStores.DISALLOWED
                    + "\" when this trust manager was made");
        try {
            check.check(pkix);
        } catch (CertificateException refused) {
            StoreEntry issuer = chain == null || chain.length == 0 ? null
                    : stores.disallowedIssuerOf(chain);
            if (issuer == null) throw refused;
            throw new CertificateException("the chain is issued through " + neverTrusted(issuer),
                    refused);
        }
    }

    private static String neverTrusted(StoreEntry disallowed) {
        return "\"" + disallowed.alias() + "\" (SHA-1 " + disallowed.thumbprint + ", "
                + disallowed.certificate.getSubjectX500Principal() + "), which is in the \""
                + TrustStores.DISALLOWED + "\" store: never trusted";
    }
}
