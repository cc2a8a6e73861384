package com.quendrilax.browser.interop;

import static org.junit.jupiter.api.Assertions.assertNotNull;

import com.quendrilax.browser.testing.Identity;
import com.quendrilax.browser.testing.QdieKeys;
import java.net.Socket;
import java.security.KeyStore;
import java.security.Principal;
import java.security.PrivateKey;
import java.security.cert.X509Certificate;
import java.util.Arrays;
import javax.net.ssl.KeyManager;
import javax.net.ssl.KeyManagerFactory;
import javax.net.ssl.SSLEngine;
import javax.net.ssl.X509ExtendedKeyManager;

/**
 * The PKIX key manager over QDIE-MY, offering one identity alone, as client and as server: the
 * store holds several, and a peer that names no authorities leaves the choice among them open.
 */
final class OneIdentityKeyManager extends X509ExtendedKeyManager {

    private final X509ExtendedKeyManager all;
    private final String keyType;
    private final String alias;

    private OneIdentityKeyManager(X509ExtendedKeyManager all, String keyType, String alias) {
        this.all = all;
        this.keyType = keyType;
        this.alias = alias;
    }

    static KeyManager[] offering(Identity identity) throws Exception {
        return offering(identity, QdieKeys.personalStore());
    }

    /** The identity among the keys of {@code store}. */
    static KeyManager[] offering(Identity identity, KeyStore store) throws Exception {
        KeyManagerFactory factory = KeyManagerFactory.getInstance("PKIX");
        factory.init(store, null);
        X509ExtendedKeyManager all = (X509ExtendedKeyManager) factory.getKeyManagers()[0];
        String keyType = identity.publicKey().getAlgorithm();
        String chosen = null;
        for (String candidate : all.getClientAliases(keyType, null)) {
            if (all.getCertificateChain(candidate)[0].equals(identity.certificate())) chosen = candidate;
        }
        assertNotNull(chosen, identity::subject);
        return new KeyManager[] {new OneIdentityKeyManager(all, keyType, chosen)};
    }

    private String[] ifOfType(String type) {
        return type.equals(keyType) ? new String[] {alias} : null;
    }

    @Override
    public String[] getClientAliases(String type, Principal[] issuers) {
        return ifOfType(type);
    }

    @Override
    public String chooseClientAlias(String[] types, Principal[] issuers, Socket socket) {
        return Arrays.asList(types).contains(keyType) ? alias : null;
    }

    @Override
    public String[] getServerAliases(String type, Principal[] issuers) {
        return ifOfType(type);
    }

    @Override
    public String chooseServerAlias(String type, Principal[] issuers, Socket socket) {
        return type.equals(keyType) ? alias : null;
    }

    @Override
    public String chooseEngineServerAlias(String type, Principal[] issuers, SSLEngine engine) {
        return chooseServerAlias(type, issuers, null);
    }

    @Override
    public X509Certificate[] getCertificateChain(String name) {
        return all.getCertificateChain(name);
    }

    @Override
    public PrivateKey getPrivateKey(String name) {
        return all.getPrivateKey(name);
    }
}
