package com.quendrilax.browser.keystore.provider;

import com.quendrilax.browser.keystore.provider.spi.ProviderServices;
import java.io.IOException;
import java.io.InputStream;
import java.io.UncheckedIOException;
import java.lang.System.Logger.Level;
import java.security.KeyStore;
import java.security.Provider;
import java.util.List;
import java.util.Objects;
import java.util.Properties;
import java.util.concurrent.CopyOnWriteArrayList;
import java.util.function.Consumer;

/**
 * The {@code QDIE} security provider: the current user's Windows certificate stores as
 * {@code KeyStore}s, their private keys as handles that sign ({@code Signature}) and decrypt
 * ({@code Cipher}) inside the store, through the native QDIEKeystore library.
 *
 * <pre>{@code
 * Security.addProvider(new QDBrowserProvider());
 * KeyStore personal = KeyStore.getInstance("QDIE-MY");
 * personal.load(null, null);
 * PrivateKey key = (PrivateKey) personal.getKey(alias, pin);   // pin may be null
 * Signature signer = Signature.getInstance("SHA256withRSA");
 * signer.initSign(key);
 * }</pre>
 *
 * <p>Key store types: {@code QDIE-MY} (the personal store: a key entry for each certificate
 * with a key, a certificate entry for the rest), {@code QDIE-ROOT}, {@code QDIE-CA}, and
 * {@code QDIE} for any other system store, named by {@link #systemStore(String)} at load or by
 * {@link #configure(String)}.
 *
 * <p>Trust manager factory {@code QDIE}: trust as the stores "Root", "CA" and "Disallowed" give
 * it, through the JDK's PKIX validation; {@code TrustManagerFactory.getInstance("QDIE")}, or the
 * security property {@code ssl.TrustManagerFactory.algorithm=QDIE} for the default SSL context.
 *
 * <p>A failure throws the exception its API names, with a message that says in words what
 * failed, with the library's status code, the step that failed and its Windows error: each comes
 * with the failed call itself, whatever other threads do meanwhile.
 *
 * <p>The class also receives the library's diagnostic log: {@link #logJNI(String)} is called
 * once for every line the library writes, on the thread of the native call (for a call of the
 * provider's own, while a listener is registered or the logger below logs {@code DEBUG}, as the
 * call asks once at its start). Each line goes to every registered listener and, once a provider
 * has been made (as installing it does), first to the {@code System.Logger} of this class at
 * {@code DEBUG}.
 */
public class QDBrowserProvider extends Provider {

    private static final long serialVersionUID = 1L;
    public static final String NAME = "QDIE";
    private static final String VERSION = readVersion();
    private static final String INFO = "Keys and certificates of the current user's Windows system"
            + " stores, through the QDIEKeystore library";

    private static final List<Consumer<String>> logListeners = new CopyOnWriteArrayList<>();
    // Set by the first provider made: finding a System.Logger starts the JDK's logging, which
    // takes longer than a signing, and an application calling the natives alone never asked
    // for it.
    private static volatile System.Logger nativeLog;

    // The build writes the project's version into a resource beside this class.
    private static String readVersion() {
        Properties version = new Properties();
        try (InputStream in = QDBrowserProvider.class.getResourceAsStream("version.properties")) {
            version.load(Objects.requireNonNull(in, "version.properties is not beside the provider"));
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
        return version.getProperty("version");
    }

    /** The provider over the personal, root and intermediate stores, with no store configured. */
    public QDBrowserProvider() {
        this(null);
    }

    private QDBrowserProvider(String configuredStore) {
        super(NAME, VERSION, configuredStore == null ? INFO : INFO + "; store " + configuredStore);
        if (nativeLog == null) nativeLog = System.getLogger(QDBrowserProvider.class.getName());
        for (Service service : ProviderServices.of(this, configuredStore)) putService(service);
    }

    /**
     * A provider whose {@code QDIE} key store type opens the system store of this name
     * ("AddressBook", "TrustedPeople", ...), as {@code keytool -addprovider QDIE -providerArg
     * NAME} asks for it.
     *
     * @throws IllegalArgumentException for a name the library cannot open, such as a store of
     *     the local machine
     */
    @Override
    public Provider configure(String storeName) {
        return new QDBrowserProvider(Objects.requireNonNull(storeName, "storeName"));
    }

    /** Names the system store a {@code QDIE} key store loads: {@code keyStore.load(systemStore("Trust"))}. */
    public static KeyStore.LoadStoreParameter systemStore(String name) {
        return new SystemStoreParameter(name);
    }

    /** A {@link KeyStore.LoadStoreParameter} naming a system store of the current user. */
    public static final class SystemStoreParameter implements KeyStore.LoadStoreParameter {
        private final String storeName;

        SystemStoreParameter(String storeName) {
            this.storeName = Objects.requireNonNull(storeName, "storeName");
        }

        public String storeName() {
            return storeName;
        }

        /** None: the stores of the current user open without a password. */
        @Override
        public KeyStore.ProtectionParameter getProtectionParameter() {
            return null;
        }
    }

    /** Registers a listener for the native log lines; it is called on the native call's thread. */
    public static void addLogListener(Consumer<String> listener) {
        logListeners.add(Objects.requireNonNull(listener, "listener"));
    }

    /** Removes a listener registered before; does nothing for one that is not registered. */
    public static void removeLogListener(Consumer<String> listener) {
        logListeners.remove(listener);
    }

    /**
     * Called by the native library with one log message. Logs it at {@code DEBUG} once a
     * provider has been made, then hands it to every registered listener in registration order;
     * an exception thrown by a listener ends the delivery and propagates (the native side
     * discards it).
     */
    /**
     * Whether a line of the library's log has anywhere to go: the library asks once for each
     * call of the provider's natives, and makes no line for Java when none does.
     */
    private static boolean takesLogLines() {
        System.Logger log = nativeLog;
        return !logListeners.isEmpty() || (log != null && log.isLoggable(Level.DEBUG));
    }

    public static void logJNI(String line) {
        System.Logger log = nativeLog;
        if (log != null && log.isLoggable(Level.DEBUG)) log.log(Level.DEBUG, line);
        for (Consumer<String> listener : logListeners) {
            listener.accept(line);
        }
    }
}
