package com.quendrilax.browser.keystore.provider.spi;

import java.security.InvalidAlgorithmParameterException;
import java.security.KeyStore;
import java.security.KeyStoreException;
import javax.net.ssl.ManagerFactoryParameters;
import javax.net.ssl.TrustManager;
import javax.net.ssl.TrustManagerFactorySpi;

/**
 * The trust manager factory {@code QDIE}: a {@link StoreTrustManager} over the current user's
 * "Root", "CA" and "Disallowed" stores as they are when the factory is initialised; a factory
 * initialised later sees the stores as they are then.
 */
final class StoreTrustManagerFactory extends TrustManagerFactorySpi {

    static final String ALGORITHM = "QDIE";

    private StoreTrustManager trustManager;

    /**
     * Reads the stores. The key store given changes nothing, whatever its type: the system
     * stores decide, and the JDK hands every factory of the default algorithm its default trust
     * store ({@code cacerts}), which this factory must take without trusting it.
     */
    @Override
    protected void engineInit(KeyStore ignored) throws KeyStoreException {
        trustManager = StoreTrustManager.overSystemStores();
    }

    @Override
    protected void engineInit(ManagerFactoryParameters parameters)
            throws InvalidAlgorithmParameterException {
        throw new InvalidAlgorithmParameterException("the trust manager factory " + ALGORITHM
                + " takes no parameters (" + (parameters == null ? "null"
                        : parameters.getClass().getName()) + " given): it reads the system"
                + " stores; initialise it with init((KeyStore) null)");
    }

    @Override
    protected TrustManager[] engineGetTrustManagers() {
        if (trustManager == null)
            throw new IllegalStateException("the trust manager factory " + ALGORITHM
                    + " is not initialised: call init((KeyStore) null) first");
        return new TrustManager[] {trustManager};
    }
}
