package com.quendrilax.browser.keystore.provider.spi;

import java.security.Provider;
import java.util.List;
import java.util.Map;
import java.util.function.Supplier;

/**
 * A service of the provider that makes its implementation directly, so that nothing is looked
 * up by reflection, and that takes only the keys of its own key stores.
 */
final class QDIEService extends Provider.Service {

    private final Supplier<Object> factory;
    /**
     * The keys a signature or cipher takes; null for a service that takes none (a key store, the
     * trust manager factory).
     */
    private final KeyFamily keys;
    /** Public keys it verifies with too, for a name no provider of the JDK has; or null. */
    private final Class<?> publicKeys;

    QDIEService(Provider provider, String type, String algorithm, Class<?> implementation,
            List<String> aliases, Map<String, String> attributes, KeyFamily keys,
            Supplier<Object> factory) {
        this(provider, type, algorithm, implementation, aliases, attributes, keys, null, factory);
    }

    QDIEService(Provider provider, String type, String algorithm, Class<?> implementation,
            List<String> aliases, Map<String, String> attributes, KeyFamily keys,
            Class<?> publicKeys, Supplier<Object> factory) {
        super(provider, type, algorithm, implementation.getName(), aliases, attributes);
        this.keys = keys;
        this.publicKeys = publicKeys;
        this.factory = factory;
    }

    @Override
    public Object newInstance(Object constructorParameter) {
        return factory.get();
    }

    /**
     * Only handles of the key stores: public keys and keys of other providers go to the JDK's
     * providers, and no other provider is offered these handles. A name the JDK has not takes
     * the public keys it verifies with as well, handing them to the JDK's algorithm.
     */
    @Override
    public boolean supportsParameter(Object parameter) {
        if (keys == null) return super.supportsParameter(parameter);
        return keys.accepts(parameter) || (publicKeys != null && publicKeys.isInstance(parameter));
    }
}
