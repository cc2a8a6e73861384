package com.quendrilax.browser.keystore.provider.spi;

import com.quendrilax.browser.keystore.provider.signature.BrowserSignature;
import java.util.Map;

/**
 * The library's status words in words. They are process-wide: what they say belongs to the
 * last native call of any thread, so a message is exact only when no other call ran between
 * the failed one and the reading.
 */
final class NativeStatus {

    static final int DECRYPTION_FAILED = 22;
    private static final int SIGNATURE_FAILED = 11;
    private static final int SIGNATURE_SIZE_UNKNOWN = 13;

    private static final Map<Integer, String> OUTCOMES = Map.ofEntries(
            Map.entry(0, "the status word says success: another thread's call overwrote it"),
            Map.entry(3, "the hash object could not be destroyed"),
            Map.entry(4, "the key's provider cannot make a hash of this algorithm"),
            Map.entry(5, "the provider context could not be released"),
            Map.entry(6, "no key container could be opened for the certificate"),
            Map.entry(7, "the certificate store could not be opened"),
            Map.entry(8, "the certificate is no longer in the personal store"),
            Map.entry(9, "the certificate store could not be closed"),
            Map.entry(10, "the certificate's key container could not be found or opened"),
            Map.entry(SIGNATURE_FAILED, "the key container refused to sign"),
            Map.entry(SIGNATURE_SIZE_UNKNOWN, "the key container has no key that signs"),
            Map.entry(14, "the certificate names no key container"),
            Map.entry(15, "the hash value could not be computed or set"),
            Map.entry(DECRYPTION_FAILED,
                    "the ciphertext decrypts with neither PKCS #1 v1.5 nor OAEP padding"),
            Map.entry(23, "the key container has no key-exchange key"));

    private static final Map<Integer, String> WINDOWS_ERRORS = Map.ofEntries(
            Map.entry(0x80090003, "bad key"),
            Map.entry(0x80090005, "bad data"),
            Map.entry(0x80090006, "the signature does not verify against the certificate"),
            Map.entry(0x80090008, "algorithm not supported by the key's provider"),
            Map.entry(0x8009000D, "no such key in the container"),
            Map.entry(0x80090016, "the key container does not exist"),
            Map.entry(0x80090019, "the key's provider is not installed"),
            Map.entry(0x8010006B, "wrong PIN"),
            Map.entry(0x8010006F,
                    "the container needs its PIN, and none or a wrong one was given to getKey"));

    private NativeStatus() {}

    /** Why the signing that just returned null failed, with the status and the Windows error. */
    static String signingFailure() {
        int status = BrowserSignature.getLastError();
        if (status != SIGNATURE_FAILED && status != SIGNATURE_SIZE_UNKNOWN) return describe(status);
        int error = BrowserSignature.getError();
        String meaning = WINDOWS_ERRORS.get(error);
        return OUTCOMES.get(status) + " (status " + status + ", Windows error 0x"
                + Integer.toHexString(error) + (meaning == null ? "" : ": " + meaning) + ")";
    }

    /** The status word now. */
    static int lastStatus() {
        return BrowserSignature.getLastError();
    }

    static String describe(int status) {
        String outcome = OUTCOMES.getOrDefault(status, "unknown outcome");
        return outcome + " (status " + status + ")";
    }
}
