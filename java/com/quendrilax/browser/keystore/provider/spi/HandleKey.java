package com.quendrilax.browser.keystore.provider.spi;

import java.io.NotSerializableException;
import java.io.ObjectStreamException;
import java.nio.ByteBuffer;
import java.nio.CharBuffer;
import java.nio.charset.StandardCharsets;
import java.security.InvalidKeyException;
import java.security.PrivateKey;
import java.security.UnrecoverableKeyException;
import java.util.Arrays;
import javax.security.auth.Destroyable;

/**
 * A private key that stays in the key store: the handle names the certificate the library looks
 * up in the personal store, and carries the PIN its container is opened with. It has no
 * encoding, and it is not serializable.
 */
abstract class HandleKey implements PrivateKey, Destroyable {

    private static final long serialVersionUID = 1L;
    private final String alias;
    private final byte[] certificate;
    private final boolean cng;
    private byte[] pin;
    private boolean destroyed;

    HandleKey(String alias, byte[] certificate, char[] password, boolean cng)
            throws UnrecoverableKeyException {
        this.alias = alias;
        this.certificate = certificate.clone();
        this.cng = cng;
        this.pin = pinOf(alias, password);
    }

    /** The password as the PIN's bytes (UTF-8); none for a null or empty password. */
    private static byte[] pinOf(String alias, char[] password) throws UnrecoverableKeyException {
        if (password == null || password.length == 0) return null;
        // The library reads a PIN up to its first zero byte: what follows would be ignored.
        for (char c : password) {
            if (c == '\0')
                throw new UnrecoverableKeyException("the PIN given for \"" + alias + "\" holds"
                        + " the character U+0000, which no PIN can hold");
        }
        ByteBuffer encoded = StandardCharsets.UTF_8.encode(CharBuffer.wrap(password));
        byte[] pin = new byte[encoded.remaining()];
        encoded.get(pin);
        Arrays.fill(encoded.array(), (byte) 0);
        return pin;
    }

    /**
     * Whether the key is a key storage provider's (its certificate's binding has provider type
     * 0), which only CNG opens.
     */
    boolean cng() {
        return cng;
    }

    /** The key algorithm name the library takes: "RSA", "DSA" or "EC". */
    abstract KeyFamily family();

    @Override
    public String getAlgorithm() {
        return family().algorithm();
    }

    /** None: the key never leaves the key store. */
    @Override
    public String getFormat() {
        return null;
    }

    /** None: the key never leaves the key store. */
    @Override
    public byte[] getEncoded() {
        return null;
    }

    String alias() {
        return alias;
    }

    byte[] certificate() {
        return certificate.clone();
    }

    /** A copy of the PIN for one native call, or null for none. */
    synchronized byte[] pin() {
        return pin == null ? null : pin.clone();
    }

    /** Forgets the PIN; the handle cannot be used afterwards. */
    @Override
    public synchronized void destroy() {
        if (pin != null) Arrays.fill(pin, (byte) 0);
        pin = null;
        destroyed = true;
    }

    @Override
    public synchronized boolean isDestroyed() {
        return destroyed;
    }

    /** Refuses a handle whose PIN has been forgotten. */
    static void checkNotDestroyed(Object key) throws InvalidKeyException {
        if (key instanceof HandleKey && ((HandleKey) key).isDestroyed())
            throw new InvalidKeyException("the key of \"" + ((HandleKey) key).alias
                    + "\" was destroyed");
    }

    @Override
    public String toString() {
        return "QDIE " + getAlgorithm() + " private key of \"" + alias + "\" (in the key store)";
    }

    protected final Object writeReplace() throws ObjectStreamException {
        throw new NotSerializableException("a QDIE key is a handle into this user's key store");
    }
}
