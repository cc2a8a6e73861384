package com.quendrilax.bench;

import java.io.ByteArrayInputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.KeyStore;
import java.security.PrivateKey;
import java.security.cert.X509Certificate;

/**
 * A key with its certificate, read from a PKCS#12 file (password "bench"), and the same key
 * parsed by OpenSSL for its timed calls (freed with BenchSupport.freeKey).
 */
record Pkcs12Identity(byte[] pkcs12, X509Certificate certificate, PrivateKey software,
        long openssl) {
    static final String PASSWORD = "bench";

    static Pkcs12Identity read(Path file) throws Exception {
        byte[] pkcs12 = Files.readAllBytes(file);
        KeyStore store = KeyStore.getInstance("PKCS12");
        store.load(new ByteArrayInputStream(pkcs12), PASSWORD.toCharArray());
        String alias = store.aliases().nextElement();
        PrivateKey key = (PrivateKey) store.getKey(alias, PASSWORD.toCharArray());
        return new Pkcs12Identity(pkcs12, (X509Certificate) store.getCertificate(alias), key,
                BenchSupport.loadKey(key.getEncoded()));
    }
}
