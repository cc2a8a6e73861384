package com.quendrilax.bench;

import com.quendrilax.browser.keystore.provider.signature.BrowserSignature;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;

/**
 * In a fresh JVM: the time of the first signing, which loads the library and opens the key store,
 * against a signing once all is loaded. Argument: the certificate's DER, in the profile's "My".
 */
public final class FirstCall {
    private static final int CALG_SHA_256 = 0x800c;

    public static void main(String[] arguments) throws Exception {
        byte[] certificate = Files.readAllBytes(Path.of(arguments[0]));
        byte[] data = new byte[1024];
        long start = System.nanoTime();
        byte[] first = BrowserSignature.sign(CALG_SHA_256, "RSA", certificate, data);
        long firstNanos = System.nanoTime() - start;
        if (first == null) throw new IllegalStateException("status " + BrowserSignature.getLastError());
        long[] steady = new long[15];
        for (int i = 0; i < steady.length; ++i) {
            long begin = System.nanoTime();
            BrowserSignature.sign(CALG_SHA_256, "RSA", certificate, data);
            steady[i] = System.nanoTime() - begin;
        }
        Arrays.sort(steady);
        System.out.printf("%.2f %.2f%n", firstNanos / 1e6, steady[steady.length / 2] / 1e6);
    }
}
