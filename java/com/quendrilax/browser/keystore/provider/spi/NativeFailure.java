package com.quendrilax.browser.keystore.provider.spi;

/**
 * A call of the provider's natives that failed, as that call alone tells it: the library's status
 * code, the CryptoAPI step that failed and that step's Windows error (0 for none). The library
 * throws it; {@link NativeStatus} turns it into words and into the exception each API names.
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
}
