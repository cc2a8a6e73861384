package com.quendrilax.browser.testing;

import java.io.ByteArrayInputStream;
import java.security.GeneralSecurityException;
import java.security.KeyFactory;
import java.security.PrivateKey;
import java.security.PublicKey;
import java.security.cert.CertificateException;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.security.spec.PKCS8EncodedKeySpec;
import java.util.Base64;

/** A certificate of the personal store and, when the test made the key itself, its private key. */
public final class Identity {

    private final X509Certificate certificate;
    private final PrivateKey privateKey;

    private Identity(X509Certificate certificate, PrivateKey privateKey) {
        this.certificate = certificate;
        this.privateKey = privateKey;
    }

    /** From a DER or PEM certificate, and a PKCS #8 PEM key or null. */
    static Identity fromEncoding(byte[] certificate, String privateKeyPem) {
        try {
            CertificateFactory factory = CertificateFactory.getInstance("X.509");
            X509Certificate parsed = (X509Certificate) factory.generateCertificate(
                    new ByteArrayInputStream(certificate));
            return new Identity(parsed, privateKeyPem == null ? null
                    : parsePrivateKey(privateKeyPem, parsed.getPublicKey().getAlgorithm()));
        } catch (GeneralSecurityException e) {
            throw new IllegalArgumentException("unreadable identity", e);
        }
    }

    private static PrivateKey parsePrivateKey(String pem, String algorithm)
            throws GeneralSecurityException {
        String body = pem.replaceAll("-----[A-Z ]+-----", "").replaceAll("\\s", "");
        return KeyFactory.getInstance(algorithm)
                .generatePrivate(new PKCS8EncodedKeySpec(Base64.getDecoder().decode(body)));
    }

    /** The certificate's encoding, a fresh copy each time as the natives get it. */
    public byte[] encoding() {
        try {
            return certificate.getEncoded();
        } catch (CertificateException e) {
            throw new IllegalStateException(e);
        }
    }

    public X509Certificate certificate() {
        return certificate;
    }

    public PublicKey publicKey() {
        return certificate.getPublicKey();
    }

    public PrivateKey privateKey() {
        if (privateKey == null) throw new IllegalStateException("the key stayed in the key store");
        return privateKey;
    }

    public String subject() {
        return certificate.getSubjectX500Principal().getName();
    }
}
