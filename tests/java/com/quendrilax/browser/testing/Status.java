package com.quendrilax.browser.testing;

import com.quendrilax.browser.keystore.provider.signature.BrowserSignature;

/** The status codes the tests meet, and a way to put a known one in the status word. */
public final class Status {

    public static final int SUCCESS = 0;
    public static final int NO_KEY_CONTAINER = 6;
    public static final int STORE_NOT_OPENED = 7;
    public static final int CERTIFICATE_NOT_FOUND = 8;
    public static final int KEY_PROV_INFO_UNREADABLE = 10;
    public static final int SIGNATURE_FAILED = 11;
    public static final int HASH_NOT_READY = 15;
    public static final int DECRYPTION_FAILED = 22;
    public static final int NO_EXCHANGE_KEY = 23;

    private Status() {}

    /** Leaves CERTIFICATE_NOT_FOUND in the status word: a signing with a certificate no store holds. */
    public static void recordCertificateNotFound() {
        byte[] unknown = {0x30, 0x03, 0x02, 0x01, 0x01};
        if (BrowserSignature.sign(Digest.SHA1.algorithmId, "RSA", unknown, new byte[1]) != null
                || BrowserSignature.getLastError() != CERTIFICATE_NOT_FOUND)
            throw new IllegalStateException("an unknown certificate was not reported as such");
    }
}
