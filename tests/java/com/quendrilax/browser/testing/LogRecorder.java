package com.quendrilax.browser.testing;

import com.quendrilax.browser.keystore.provider.QDBrowserProvider;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.CopyOnWriteArrayList;
import java.util.function.Consumer;

/** Records the messages the library hands to logJNI while it is open. */
public final class LogRecorder implements AutoCloseable {

    private final List<String> messages = new CopyOnWriteArrayList<>();
    private final Consumer<String> listener = messages::add;

    private LogRecorder() {
        QDBrowserProvider.addLogListener(listener);
    }

    public static LogRecorder start() {
        return new LogRecorder();
    }

    /** The messages received so far, in order. */
    public List<String> messages() {
        return new ArrayList<>(messages);
    }

    @Override
    public void close() {
        QDBrowserProvider.removeLogListener(listener);
    }
}
