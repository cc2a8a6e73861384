package com.quendrilax.browser.keystore.provider;

import java.util.List;
import java.util.Objects;
import java.util.concurrent.CopyOnWriteArrayList;
import java.util.function.Consumer;

/**
 * Receives the diagnostic log of the native QDIEKeystore library. The library calls
 * {@link #logJNI(String)} once for every line it writes to its log file, on the thread of the
 * native call; the application sees those lines by registering listeners.
 */
public class QDBrowserProvider {

    private static final List<Consumer<String>> logListeners = new CopyOnWriteArrayList<>();

    /** Registers a listener for the native log lines; it is called on the native call's thread. */
    public static void addLogListener(Consumer<String> listener) {
        logListeners.add(Objects.requireNonNull(listener, "listener"));
    }

    /** Removes a listener registered before; does nothing for one that is not registered. */
    public static void removeLogListener(Consumer<String> listener) {
        logListeners.remove(listener);
    }

    /**
     * Called by the native library with one log message. Hands it to every registered listener
     * in registration order; an exception thrown by a listener ends the delivery and propagates
     * (the native side discards it).
     */
    public static void logJNI(String line) {
        for (Consumer<String> listener : logListeners) {
            listener.accept(line);
        }
    }
}
