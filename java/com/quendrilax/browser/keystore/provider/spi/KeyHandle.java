package com.quendrilax.browser.keystore.provider.spi;

import java.lang.ref.Cleaner;
import java.util.concurrent.atomic.AtomicInteger;

/**
 * The library's hold on one key of the key store: opened at its first use and kept open, freed
 * by {@link #destroy()} or, once its key object is unreachable, by a {@link Cleaner}, whichever
 * comes first, and never while a call is using it. Every native call with the key goes through
 * {@link #call}.
 */
final class KeyHandle {

    private static final Cleaner CLEANER = Cleaner.create();
    private static final AtomicInteger HELD = new AtomicInteger();

    /** One call of the library with the held key. */
    interface Call<T> {
        T with(long key) throws NativeFailure;
    }

    private final Pointer pointer;
    private final Cleaner.Cleanable cleanable;
    private final String destroyedMessage;

    /**
     * Holds the key the origin names for {@code owner}, which frees it when it becomes
     * unreachable; the PIN's bytes are copied (the caller wipes its own).
     */
    KeyHandle(Object owner, KeyOrigin origin, String keyAlgorithm, byte[] pin,
            String destroyedMessage) {
        this.pointer = new Pointer(origin.newHandle(keyAlgorithm, pin));
        HELD.incrementAndGet();
        this.cleanable = CLEANER.register(owner, pointer);
        this.destroyedMessage = destroyedMessage;
    }

    /**
     * Runs the call with the key, which is not freed before the call returns.
     *
     * @throws IllegalStateException once the key is destroyed
     */
    <T> T call(Call<T> call) throws NativeFailure {
        long key = pointer.enter();
        if (key == 0) throw new IllegalStateException(destroyedMessage);
        try {
            return call.with(key);
        } finally {
            pointer.leave();
        }
    }

    /** Frees the key now, or when the last call using it returns. */
    void destroy() {
        cleanable.clean();
    }

    boolean isDestroyed() {
        return pointer.isClosed();
    }

    /** How many keys the library holds for this class loader's provider now. */
    static int held() {
        return HELD.get();
    }

    /** The native key and the calls using it; it goes when closed and no call uses it. */
    private static final class Pointer implements Runnable {
        private long key;
        private int users;
        private boolean closed;

        Pointer(long key) {
            this.key = key;
        }

        /** The key for one more call, or 0 once closed. */
        synchronized long enter() {
            if (closed) return 0;
            ++users;
            return key;
        }

        synchronized void leave() {
            if (--users == 0 && closed) free();
        }

        synchronized boolean isClosed() {
            return closed;
        }

        /** Closing: by destroy() or by the Cleaner, at most once either way. */
        @Override
        public synchronized void run() {
            closed = true;
            if (users == 0) free();
        }

        private void free() {
            long freed = key;
            key = 0;
            if (freed == 0) return;
            ProviderNatives.freeKeyHandle(freed);
            HELD.decrementAndGet();
        }
    }
}
