package com.quendrilax.browser.keystore.provider.spi;

import java.io.NotSerializableException;
import java.io.ObjectStreamException;
import java.nio.ByteBuffer;
import java.nio.CharBuffer;
import java.nio.charset.StandardCharsets;
import java.security.InvalidKeyException;
import java.security.PrivateKey;
import java.security.PublicKey;
import java.security.UnrecoverableKeyException;
import java.util.Arrays;
import javax.security.auth.Destroyable;

/**
 * A private key that stays in the key store: the library holds the key of the certificate open
 * from its first use until {@link #destroy()} or until this object is collected, opened with the
 * PIN given to {@code getKey}. It has no encoding, and it is not serializable.
 */
abstract class HandleKey implements PrivateKey, Destroyable {

    private static final long serialVersionUID = 1L;
    private final String alias;
    private final KeyFamily family;
    private final boolean cng;
    private final transient KeyOrigin origin;
    private final transient PublicKey publicKey;
    private final transient KeyHandle handle;

    HandleKey(KeyOrigin origin, String alias, KeyFamily family, PublicKey publicKey,
            char[] password, boolean cng) throws UnrecoverableKeyException {
        this.alias = alias;
        this.family = family;
        this.cng = cng;
        this.origin = origin;
        this.publicKey = publicKey;
        byte[] pin = pinOf(alias, password);
        try {
            this.handle = new KeyHandle(this, origin, family.algorithm(), pin,
                    "the key of \"" + alias + "\" was destroyed");
        } finally {
            if (pin != null) Arrays.fill(pin, (byte) 0);
        }
    }

    /** The password as the PIN's bytes (UTF-8); none for a null or empty password. */
    static byte[] pinOf(String alias, char[] password) throws UnrecoverableKeyException {
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
    KeyFamily family() {
        return family;
    }

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

    /** The location of the key store the key is in. */
    StoreLocation location() {
        return origin.location;
    }

    /** The public key that goes with it: its certificate's, or the one made with it. */
    PublicKey publicKey() {
        return publicKey;
    }

    /**
     * Runs one native call with the held key.
     *
     * @throws IllegalStateException once the key is destroyed
     */
    <T> T call(KeyHandle.Call<T> call) throws NativeFailure {
        return handle.call(call);
    }

    /** Lets the key go: the library releases it now, or when the call using it returns. */
    @Override
    public void destroy() {
        handle.destroy();
    }

    @Override
    public boolean isDestroyed() {
        return handle.isDestroyed();
    }

    /** Refuses a destroyed handle. */
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
