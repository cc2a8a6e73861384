package com.quendrilax.browser.keystore.provider.spi;

import java.security.AlgorithmParameters;
import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.Key;
import java.security.KeyFactory;
import java.security.NoSuchAlgorithmException;
import java.security.ProviderException;
import java.security.SecureRandom;
import java.security.interfaces.RSAKey;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.InvalidKeySpecException;
import java.security.spec.InvalidParameterSpecException;
import java.security.spec.PKCS8EncodedKeySpec;
import java.security.spec.X509EncodedKeySpec;
import java.util.Arrays;
import java.util.Locale;
import javax.crypto.BadPaddingException;
import javax.crypto.Cipher;
import javax.crypto.CipherSpi;
import javax.crypto.IllegalBlockSizeException;
import javax.crypto.NoSuchPaddingException;
import javax.crypto.ShortBufferException;
import javax.crypto.spec.OAEPParameterSpec;
import javax.crypto.spec.SecretKeySpec;

/**
 * RSA decryption and unwrapping with a key of the key store, its container opened with the PIN
 * given to {@code getKey}. The key's provider removes the padding set here and no other
 * ({@link DecryptionPadding}): a CSP PKCS #1 v1.5 or OAEP with SHA-1, a key storage provider's
 * key through CNG PKCS #1 v1.5 or OAEP with one digest for OAEP and MGF1 and any label. What the
 * key cannot remove is refused at init. Encryption and wrapping with a public key are the JDK's.
 */
final class HandleCipher extends CipherSpi {

    static final String PKCS1 = "PKCS1Padding";
    static final String OAEP = "OAEPPadding";
    /** The class of the TLS premaster secret's parameters, which java.base does not export. */
    private static final String TLS_PREMASTER_SPEC =
            "sun.security.internal.spec.TlsRsaPremasterSecretParameterSpec";

    private String padding;
    /** What the padding's name says, and what init made of it with its parameters. */
    private DecryptionPadding named;
    private DecryptionPadding removed;
    private String mode = "ECB";
    private RsaHandleKey key;
    private Cipher jdk;
    /** The ciphertext given so far, at most the key's size: one RSA block. */
    private byte[] input = new byte[0];
    private int inputLength;
    /** More was given than one block holds: the next doFinal refuses it, and nothing is kept. */
    private boolean inputTooLong;

    HandleCipher(String padding) {
        this.padding = padding;
        try {
            this.named = DecryptionPadding.named(padding);
        } catch (NoSuchPaddingException e) {
            throw new IllegalArgumentException(e.getMessage(), e);
        }
    }

    @Override
    protected void engineSetMode(String mode) throws NoSuchAlgorithmException {
        String upper = mode.toUpperCase(Locale.ROOT);
        if (!upper.equals("ECB") && !upper.equals("NONE"))
            throw new NoSuchAlgorithmException("RSA has no mode " + mode + ": ECB or NONE");
        this.mode = mode;
    }

    @Override
    protected void engineSetPadding(String padding) throws NoSuchPaddingException {
        named = DecryptionPadding.named(padding);
        this.padding = padding;
    }

    @Override
    protected void engineInit(int opmode, Key key, SecureRandom random) throws InvalidKeyException {
        try {
            engineInit(opmode, key, (AlgorithmParameterSpec) null, random);
        } catch (InvalidAlgorithmParameterException e) {
            throw new InvalidKeyException(e.getMessage(), e);
        }
    }

    @Override
    protected void engineInit(int opmode, Key key, AlgorithmParameters params, SecureRandom random)
            throws InvalidKeyException, InvalidAlgorithmParameterException {
        AlgorithmParameterSpec oaep = null;
        if (params != null) {
            try {
                oaep = params.getParameterSpec(OAEPParameterSpec.class);
            } catch (InvalidParameterSpecException e) {
                throw new InvalidAlgorithmParameterException("RSA takes OAEP parameters only", e);
            }
        }
        engineInit(opmode, key, oaep, random);
    }

    @Override
    protected void engineInit(int opmode, Key key, AlgorithmParameterSpec params,
            SecureRandom random) throws InvalidKeyException, InvalidAlgorithmParameterException {
        resetInput();
        if (!(key instanceof HandleKey)) {
            this.key = null;
            jdk = jdkCipher();
            jdk.init(opmode, key, params, random);
            return;
        }
        HandleKey.checkNotDestroyed(key);
        if (!KeyFamily.RSA.accepts(key))
            throw new InvalidKeyException(key + " does not decrypt: RSA keys do");
        if (opmode != Cipher.DECRYPT_MODE && opmode != Cipher.UNWRAP_MODE)
            throw new InvalidKeyException("a key of the key store decrypts and unwraps only;"
                    + " encrypt and wrap with its certificate's public key");
        if (params != null && params.getClass().getName().equals(TLS_PREMASTER_SPEC))
            // The JDK's TLS falls back from this exception to DECRYPT_MODE, where it makes the
            // premaster secret itself and answers a bad one without telling the client.
            throw new InvalidKeyException("the key store unwraps no TLS premaster secret itself:"
                    + " decrypt it in DECRYPT_MODE");
        RsaHandleKey rsa = (RsaHandleKey) key;
        DecryptionPadding asked = named.with(params);
        asked.checkKey(rsa);
        removed = asked;
        this.key = rsa;
        jdk = null;
        input = new byte[this.key.modulusBytes()];
    }

    private void resetInput() {
        Arrays.fill(input, (byte) 0);
        inputLength = 0;
        inputTooLong = false;
    }

    /** Takes ciphertext bytes as SunJCE does: what goes beyond one block is refused at doFinal. */
    private void buffer(byte[] data, int offset, int length) {
        if (inputTooLong || length == 0) return;
        if (length > input.length - inputLength) {
            resetInput();
            inputTooLong = true;
            return;
        }
        System.arraycopy(data, offset, input, inputLength, length);
        inputLength += length;
    }

    /** The ciphertext given before and in this call, without taking it. */
    private byte[] cipherTextWith(byte[] data, int offset, int length)
            throws IllegalBlockSizeException {
        int added = data == null ? 0 : length;
        if (inputTooLong || added > input.length - inputLength)
            throw new IllegalBlockSizeException("RSA decrypts one block: the ciphertext is longer"
                    + " than the key's " + input.length + " bytes");
        byte[] cipherText = Arrays.copyOf(input, inputLength + added);
        if (added > 0) System.arraycopy(data, offset, cipherText, inputLength, added);
        return cipherText;
    }

    private Cipher jdkCipher() throws InvalidKeyException {
        try {
            // The delayed choice passes over this provider, which takes no public keys.
            return Cipher.getInstance("RSA/" + mode + "/" + padding);
        } catch (NoSuchAlgorithmException | NoSuchPaddingException e) {
            throw new InvalidKeyException("no installed provider does RSA/" + mode + "/" + padding, e);
        }
    }

    @Override
    protected byte[] engineUpdate(byte[] data, int offset, int length) {
        if (jdk != null) return jdk.update(data, offset, length);
        buffer(data, offset, length);
        return new byte[0];
    }

    @Override
    protected int engineUpdate(byte[] data, int offset, int length, byte[] output, int outputOffset)
            throws ShortBufferException {
        if (jdk != null) return jdk.update(data, offset, length, output, outputOffset);
        buffer(data, offset, length);
        return 0;
    }

    @Override
    protected byte[] engineDoFinal(byte[] data, int offset, int length)
            throws IllegalBlockSizeException, BadPaddingException {
        if (jdk != null) return jdk.doFinal(data, offset, length);
        try {
            return decrypt(cipherTextWith(data, offset, length));
        } finally {
            resetInput();
        }
    }

    /**
     * Into the caller's buffer. Output too small for the plaintext leaves the cipher as the call
     * found it, so that the same call with a larger buffer decrypts: the JCE's contract.
     */
    @Override
    protected int engineDoFinal(byte[] data, int offset, int length, byte[] output,
            int outputOffset) throws ShortBufferException, IllegalBlockSizeException,
            BadPaddingException {
        if (jdk != null) return jdk.doFinal(data, offset, length, output, outputOffset);
        if (output.length - outputOffset >= input.length)
            return copyOut(engineDoFinal(data, offset, length), output, outputOffset);
        byte[] plainText;
        try {
            plainText = decrypt(cipherTextWith(data, offset, length));
        } catch (IllegalBlockSizeException | BadPaddingException | RuntimeException e) {
            resetInput();
            throw e;
        }
        if (output.length - outputOffset < plainText.length) {
            Arrays.fill(plainText, (byte) 0);
            throw new ShortBufferException(plainText.length + " bytes of output need room, "
                    + (output.length - outputOffset) + " were given");
        }
        resetInput();
        return copyOut(plainText, output, outputOffset);
    }

    private static int copyOut(byte[] plainText, byte[] output, int outputOffset)
            throws ShortBufferException {
        try {
            if (output.length - outputOffset < plainText.length)
                throw new ShortBufferException(plainText.length + " bytes of output need room");
            System.arraycopy(plainText, 0, output, outputOffset, plainText.length);
            return plainText.length;
        } finally {
            Arrays.fill(plainText, (byte) 0);
        }
    }

    private byte[] decrypt(byte[] cipherText) throws IllegalBlockSizeException,
            BadPaddingException {
        if (key == null) throw new IllegalStateException("the cipher is not initialized");
        int size = key.modulusBytes();
        if (cipherText.length > size)
            throw new IllegalBlockSizeException("a ciphertext of " + cipherText.length
                    + " bytes is longer than the key's " + size);
        // A shorter ciphertext is the same number without its leading zero bytes.
        byte[] block = new byte[size];
        System.arraycopy(cipherText, 0, block, size - cipherText.length, cipherText.length);
        try {
            // A key destroyed after init does nothing more: IllegalStateException.
            return key.call(held -> key.cng()
                    ? ProviderNatives.decryptCng(held, block, removed.oaep(),
                            removed.oaep() ? removed.digest().code : 0, removed.label())
                    : ProviderNatives.decrypt(held, block, removed.oaep()));
        } catch (NativeFailure failure) {
            throw failure.asCipherFailure("decryption with the key of \"" + key.alias() + "\" and "
                    + removed + " failed");
        }
    }

    @Override
    protected byte[] engineWrap(Key key) throws IllegalBlockSizeException, InvalidKeyException {
        if (jdk == null) throw new IllegalStateException("wrapping takes a public key");
        return jdk.wrap(key);
    }

    @Override
    protected Key engineUnwrap(byte[] wrapped, String algorithm, int type)
            throws InvalidKeyException, NoSuchAlgorithmException {
        if (jdk != null) return jdk.unwrap(wrapped, algorithm, type);
        byte[] encoded;
        try {
            encoded = decrypt(wrapped);
        } catch (IllegalBlockSizeException | BadPaddingException | ProviderException
                | IllegalStateException e) {
            throw new InvalidKeyException(e.getMessage(), e);
        }
        try {
            switch (type) {
                case Cipher.SECRET_KEY:
                    return new SecretKeySpec(encoded, algorithm);
                case Cipher.PUBLIC_KEY:
                    return KeyFactory.getInstance(algorithm).generatePublic(
                            new X509EncodedKeySpec(encoded));
                case Cipher.PRIVATE_KEY:
                    return KeyFactory.getInstance(algorithm).generatePrivate(
                            new PKCS8EncodedKeySpec(encoded));
                default:
                    throw new InvalidKeyException("unknown key type " + type);
            }
        } catch (InvalidKeySpecException e) {
            throw new InvalidKeyException("the unwrapped bytes are no " + algorithm + " key", e);
        } finally {
            Arrays.fill(encoded, (byte) 0);
        }
    }

    @Override
    protected int engineGetBlockSize() {
        return 0;
    }

    @Override
    protected int engineGetOutputSize(int inputLength) {
        if (jdk != null) return jdk.getOutputSize(inputLength);
        return key == null ? 0 : key.modulusBytes();
    }

    @Override
    protected byte[] engineGetIV() {
        return null;
    }

    @Override
    protected AlgorithmParameters engineGetParameters() {
        return jdk == null ? null : jdk.getParameters();
    }

    @Override
    protected int engineGetKeySize(Key key) throws InvalidKeyException {
        if (key instanceof RSAKey) return ((RSAKey) key).getModulus().bitLength();
        throw new InvalidKeyException("not an RSA key: " + key);
    }
}
