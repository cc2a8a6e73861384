/**
 * The QDIEKeystore library's Java side: the classes whose natives the library implements, and
 * the QDIE security provider over them.
 */
module com.quendrilax.browser {
    requires java.naming; // the common name in an alias
    exports com.quendrilax.browser.cipher;
    exports com.quendrilax.browser.keystore;
    exports com.quendrilax.browser.keystore.provider;
    exports com.quendrilax.browser.keystore.provider.signature;

    provides java.security.Provider
            with com.quendrilax.browser.keystore.provider.QDBrowserProvider;
}
