package com.quendrilax.browser.keystore.provider.spi;

import java.util.Map;

/** The library's status codes and the Windows errors it meets, in words. */
final class NativeStatus {

    static final int DECRYPTION_FAILED = 22;
    static final int NO_RAW_OPERATION = 26;
    static final int NO_CNG_KEY = 27;

    private static final Map<Integer, String> OUTCOMES = Map.ofEntries(
            Map.entry(0, "success"),
            Map.entry(3, "the hash object could not be destroyed"),
            Map.entry(4, "the key's provider cannot make a hash of this algorithm"),
            Map.entry(5, "the provider context could not be released"),
            Map.entry(6, "no key container could be opened for the certificate"),
            Map.entry(7, "the certificate store could not be opened"),
            Map.entry(8, "the certificate is no longer in the personal store"),
            Map.entry(9, "the certificate store could not be closed"),
            Map.entry(10, "the certificate's key container could not be found or opened"),
            Map.entry(11, "the key container refused to sign"),
            Map.entry(13, "the key container has no key that signs"),
            Map.entry(14, "the certificate names no key container"),
            Map.entry(15, "the hash value could not be computed or set"),
            Map.entry(22, "the ciphertext does not decrypt with the key and the padding asked"),
            Map.entry(23, "the key container has no key-exchange key"),
            Map.entry(24, "the store did not take the certificate"),
            Map.entry(25, "the store did not let the certificate go"),
            Map.entry(26, "the key's provider does not do the raw RSA operation a padding of the"
                    + " provider's own (RSASSA-PSS) needs"),
            Map.entry(27, "CNG cannot use the key for this: it sees no key storage provider's"
                    + " key behind the CSP's, or the key's algorithm does not make this signature"),
            Map.entry(28, "the key could not be imported into a new key container"),
            Map.entry(29, "no key could be generated in a new key container"),
            Map.entry(30, "the certificate could not be bound to its key's container"),
            Map.entry(31, "the key container could not be deleted"));

    private static final Map<Integer, String> WINDOWS_ERRORS = Map.ofEntries(
            Map.entry(0x8, "not enough memory"),
            Map.entry(0x5, "access denied"),
            Map.entry(0x80070005, "access denied"),
            Map.entry(0x80090003, "bad key"),
            Map.entry(0x80090005, "bad data"),
            Map.entry(0x80090006, "the signature does not verify against the certificate"),
            Map.entry(0x80090008, "algorithm not supported by the key's provider"),
            Map.entry(0x80090009, "the key's provider refuses the flags"),
            Map.entry(0x8009000D, "no such key in the container"),
            Map.entry(0x80090016, "the key container does not exist"),
            Map.entry(0x8009000F, "a key container of that name exists"),
            Map.entry(0x8009001A, "the key container is damaged"),
            Map.entry(0x80090019, "the key's provider is not installed"),
            Map.entry(0x80092004, "not found"),
            Map.entry(0x8009200B, "the certificate names no key, or none CryptoAPI can open"),
            Map.entry(0x80090015, "the key is not the certificate's"),
            Map.entry(0x80090017, "the key's provider type is not a CSP's (a CNG key)"),
            Map.entry(0x80090026, "invalid CNG handle"),
            Map.entry(0x80090027, "CNG refuses the parameters"),
            Map.entry(0x80090029, "not supported by the key's provider"),
            Map.entry(0x570, "the key store file is damaged or is no key store"),
            Map.entry(0x80092003, "the key store file cannot be read: not a regular file, or"
                    + " not the user's to read"),
            Map.entry(0x8010006B, "wrong PIN"),
            Map.entry(0x8010006F,
                    "the container needs its PIN, and none or a wrong one was given to getKey"));

    private NativeStatus() {}

    /**
     * What failed, in words: "the key container refused to sign at CryptSignHashA (status 11,
     * Windows error 0x8010006f: ...)", the step and the error left out where there is none.
     */
    static String describe(int status, String step, int windowsError) {
        StringBuilder text = new StringBuilder(OUTCOMES.getOrDefault(status, "unknown outcome"));
        if (step != null && windowsError != 0) text.append(" at ").append(step);
        text.append(" (status ").append(status);
        if (windowsError != 0) {
            text.append(", Windows error 0x").append(Integer.toHexString(windowsError));
            String meaning = WINDOWS_ERRORS.get(windowsError);
            if (meaning != null) text.append(": ").append(meaning);
        }
        return text.append(')').toString();
    }
}
