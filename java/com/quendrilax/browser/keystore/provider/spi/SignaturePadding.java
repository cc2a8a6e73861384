package com.quendrilax.browser.keystore.provider.spi;

/** How a signature through CNG is padded, with the library's number for each. */
enum SignaturePadding {
    /** ECDSA, which pads nothing. */
    NONE(0),
    PKCS1(1),
    PSS(2);

    final int code;

    SignaturePadding(int code) {
        this.code = code;
    }
}
