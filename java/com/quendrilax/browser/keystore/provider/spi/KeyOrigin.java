package com.quendrilax.browser.keystore.provider.spi;

/**
 * Where the library finds a handle's key: the key of a certificate of a personal store, or a
 * container made through the provider, which a generated key has before any certificate.
 */
final class KeyOrigin {

    final StoreLocation location;
    /** The certificate whose key this is, or null for a container named alone. */
    private final byte[] certificate;
    private final String container;
    private final boolean keyStorageProvider;
    private final byte[] publicKeyInfo;

    private KeyOrigin(StoreLocation location, byte[] certificate, String container,
            boolean keyStorageProvider, byte[] publicKeyInfo) {
        this.location = location;
        this.certificate = certificate;
        this.container = container;
        this.keyStorageProvider = keyStorageProvider;
        this.publicKeyInfo = publicKeyInfo;
    }

    /** The key of the certificate of the location's "My". */
    static KeyOrigin ofCertificate(StoreLocation location, byte[] certificate) {
        return new KeyOrigin(location, certificate, null, false, null);
    }

    /**
     * The key of a container of the location, of a CSP or of the key storage provider, that must
     * have this public key (its SubjectPublicKeyInfo).
     */
    static KeyOrigin ofContainer(StoreLocation location, String container,
            boolean keyStorageProvider, byte[] publicKeyInfo) {
        return new KeyOrigin(location, null, container, keyStorageProvider, publicKeyInfo);
    }

    /** A native handle of the key, to be opened at its first use with the PIN. */
    long newHandle(String keyAlgorithm, byte[] pin) {
        if (certificate != null)
            return ProviderNatives.newKeyHandle(location.isMachine(), certificate, keyAlgorithm,
                    pin);
        return ProviderNatives.newContainerKeyHandle(location.isMachine(), container,
                keyStorageProvider, publicKeyInfo, keyAlgorithm, pin);
    }
}
