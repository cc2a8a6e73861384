package com.quendrilax.browser.keystore.provider;

import java.util.List;
import java.util.concurrent.CopyOnWriteArrayList;
import java.util.function.Consumer;

/** Test listener for the native log: records the lines, and can add one that throws. */
public final class LogLineRecorder {

    private static final List<String> lines = new CopyOnWriteArrayList<>();
    private static final Consumer<String> recorder = lines::add;
    private static final Consumer<String> failing = line -> {
        throw new IllegalStateException("listener rejected: " + line);
    };

    private LogLineRecorder() {}

    public static void startRecording() {
        lines.clear();
        QDBrowserProvider.addLogListener(recorder);
    }

    /** Adds a listener after the recorder that throws on every line. */
    public static void addFailingListener() {
        QDBrowserProvider.addLogListener(failing);
    }

    public static void stop() {
        QDBrowserProvider.removeLogListener(recorder);
        QDBrowserProvider.removeLogListener(failing);
    }

    public static String[] lines() {
        return lines.toArray(new String[0]);
    }
}
