package com.quendrilax.browser.keystore.provider.spi;

import java.io.IOException;
import java.security.KeyStoreException;
import java.security.ProviderException;
import java.security.SignatureException;
import javax.crypto.BadPaddingException;

/**
 * A call of the provider's natives that failed, as that call alone tells it: the library's status
 * code, the CryptoAPI step that failed and that step's Windows error (0 for none). The library
 * throws it; {@link NativeStatus} puts it in words, and the methods below are the one place it
 * becomes the exception each API names, {@code what} saying what failed.
 */
final class NativeFailure extends Exception {

    private static final long serialVersionUID = 1L;

    final int status;
    /** The CryptoAPI function that failed, or null. */
    final String step;
    final int windowsError;

    /** The smart card's answers to a missing or wrong PIN (SCARD_W_WRONG_CHV, ..._NOT_AUTHENTICATED). */
    private static final int WRONG_PIN = 0x8010006B;
    private static final int PIN_NOT_GIVEN = 0x8010006F;

    /** Made by the library. */
    NativeFailure(int status, String step, int windowsError) {
        super(NativeStatus.describe(status, step, windowsError));
        this.status = status;
        this.step = step;
        this.windowsError = windowsError;
    }

    /** Whether the key refused for want of its PIN, or a wrong one: the caller's, not the data's. */
    boolean needsPin() {
        return windowsError == WRONG_PIN || windowsError == PIN_NOT_GIVEN;
    }

    SignatureException asSignatureException(String what) {
        return new SignatureException(what + ": " + getMessage(), this);
    }

    /**
     * A ciphertext that does not decrypt with the key and the padding is the caller's
     * {@link BadPaddingException}, returned to be thrown; anything else, a missing or wrong PIN
     * among them, is the key's, and is thrown here as a {@link ProviderException}.
     */
    BadPaddingException asCipherFailure(String what) {
        String message = what + ": " + getMessage();
        if (status != NativeStatus.DECRYPTION_FAILED || needsPin())
            throw new ProviderException(message, this);
        BadPaddingException badPadding = new BadPaddingException(message);
        badPadding.initCause(this);
        return badPadding;
    }

    IOException asIOException(String what) {
        return new IOException(what + ": " + getMessage(), this);
    }

    KeyStoreException asKeyStoreException(String what) {
        return new KeyStoreException(what + ": " + getMessage(), this);
    }

    ProviderException asProviderException(String what) {
        return new ProviderException(what + ": " + getMessage(), this);
    }
}
