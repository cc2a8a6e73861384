package com.quendrilax.browser.keystore.provider.spi;

import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.security.cert.CertificateEncodingException;
import java.security.cert.X509Certificate;
import java.util.HexFormat;
import javax.naming.InvalidNameException;
import javax.naming.ldap.LdapName;
import javax.naming.ldap.Rdn;

/**
 * One certificate of a system store with the alias it goes by: the subject's common name and
 * the first eight hexadecimal digits of its SHA-1 thumbprint ("Alice-3f2a9c01"). Both come from
 * the certificate alone, so an alias stays the same across loads and changes of the store.
 */
final class StoreEntry {

    private static final int SHORT_THUMBPRINT = 8;

    final X509Certificate certificate;
    final byte[] encoding;
    /** The SHA-1 thumbprint in lower-case hexadecimal, 40 digits. */
    final String thumbprint;
    final boolean hasKey;
    private String alias;

    StoreEntry(X509Certificate certificate, byte[] encoding, boolean hasKey) {
        this.certificate = certificate;
        this.encoding = encoding;
        this.thumbprint = sha1Hex(encoding);
        this.hasKey = hasKey;
        this.alias = commonName(certificate) + "-" + thumbprint.substring(0, SHORT_THUMBPRINT);
    }

    String alias() {
        return alias;
    }

    /** For the rare certificate whose short alias another one has: the whole thumbprint. */
    void useThumbprintAsAlias() {
        alias = thumbprint;
    }

    static byte[] encodingOf(X509Certificate certificate) {
        try {
            return certificate.getEncoded();
        } catch (CertificateEncodingException e) {
            throw new IllegalArgumentException("the certificate has no encoding", e);
        }
    }

    private static String sha1Hex(byte[] encoding) {
        try {
            return HexFormat.of().formatHex(MessageDigest.getInstance("SHA-1").digest(encoding));
        } catch (NoSuchAlgorithmException e) {
            throw new IllegalStateException("every JDK has SHA-1", e);
        }
    }

    private static String commonName(X509Certificate certificate) {
        try {
            LdapName subject = new LdapName(certificate.getSubjectX500Principal().getName());
            // The most specific CN: the last one in the name's order, the first in RFC 2253's.
            for (int i = subject.size() - 1; i >= 0; --i) {
                Rdn rdn = subject.getRdn(i);
                if (rdn.getType().equalsIgnoreCase("CN")) return rdn.getValue().toString().trim();
            }
        } catch (InvalidNameException e) {
            // An unparsable subject gets the generic name below.
        }
        return "certificate";
    }
}
