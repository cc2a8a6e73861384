package com.quendrilax.browser.testing;

import com.quendrilax.browser.keystore.provider.QDBrowserProvider;
import java.security.GeneralSecurityException;
import java.security.KeyStore;
import java.security.PrivateKey;
import java.security.Provider;
import java.security.Security;

/** The QDIE provider installed once per JVM, and the personal store's key of an identity. */
public final class QdieKeys {

    private QdieKeys() {}

    /** Installs the provider after the JDK's own, as an application does; idempotent. */
    public static synchronized Provider install() {
        Provider installed = Security.getProvider(QDBrowserProvider.NAME);
        if (installed != null) return installed;
        Provider provider = new QDBrowserProvider();
        Security.addProvider(provider);
        return provider;
    }

    public static KeyStore personalStore() throws GeneralSecurityException {
        install();
        KeyStore store = KeyStore.getInstance("QDIE-MY");
        try {
            store.load(null, null);
        } catch (java.io.IOException e) {
            throw new IllegalStateException(e);
        }
        return store;
    }

    /** The alias the personal store gives the identity's certificate. */
    public static String alias(Identity identity) throws GeneralSecurityException {
        String alias = personalStore().getCertificateAlias(identity.certificate());
        if (alias == null) throw new IllegalStateException(identity.subject() + " is not in QDIE-MY");
        return alias;
    }

    /** The identity's key as a handle of the personal store, with a PIN or none. */
    public static PrivateKey privateKey(Identity identity, String pin)
            throws GeneralSecurityException {
        KeyStore store = personalStore();
        return (PrivateKey) store.getKey(store.getCertificateAlias(identity.certificate()),
                pin == null ? null : pin.toCharArray());
    }
}
