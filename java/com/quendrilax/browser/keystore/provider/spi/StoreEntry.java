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
 * the first sixteen hexadecimal digits (64 bits) of its SHA-1 thumbprint
 * ("Alice-3f2a9c01d4e5b6a7"). Both come from the certificate alone, so an alias stays the same
 * across loads and changes of the store, and no certificate can be made to take another's alias
 * at less than 2^63 tries.
 */
final class StoreEntry {

    static final int SHORT_THUMBPRINT = 16;

    final X509Certificate certificate;
    final byte[] encoding;
    /** The SHA-1 thumbprint in lower-case hexadecimal, 40 digits. */
    final String thumbprint;
    final boolean hasKey;
    /** The key is a key storage provider's, opened through CNG. */
    final boolean cngKey;
    /** The alias the certificate itself gives; the store may still list it by its thumbprint. */
    final String ownAlias;
    /** The key container a key entry's certificate is bound to, a name it goes by too; or null. */
    final String container;
    private String alias;

    StoreEntry(X509Certificate certificate, byte[] encoding, boolean hasKey) {
        this(certificate, encoding, hasKey, false, null, null);
    }

    /** With an alias of the caller's instead of the certificate's own, when one is given. */
    StoreEntry(X509Certificate certificate, byte[] encoding, boolean hasKey, boolean cngKey,
            String alias) {
        this(certificate, encoding, hasKey, cngKey, alias, null);
    }

    StoreEntry(X509Certificate certificate, byte[] encoding, boolean hasKey, boolean cngKey,
            String alias, String container) {
        this.certificate = certificate;
        this.encoding = encoding;
        this.thumbprint = sha1Hex(encoding);
        this.hasKey = hasKey;
        this.cngKey = hasKey && cngKey;
        this.ownAlias = alias != null ? alias
                : printable(commonName(certificate)) + "-" + thumbprint.substring(0, SHORT_THUMBPRINT);
        this.alias = ownAlias;
        this.container = hasKey ? container : null;
    }

    /** The name the store lists the entry by. */
    String alias() {
        return alias;
    }

    /** For a certificate whose own alias another one of the store has too: none names either. */
    void listByThumbprint() {
        alias = thumbprint;
    }

    /**
     * The name with each control character (U+0000 to U+001F, U+007F to U+009F) written as
     * {@code \xHH}: an alias is printed by keytool and written to logs, where a raw line break
     * would start a line of its own.
     */
    static String printable(String name) {
        StringBuilder printable = new StringBuilder(name.length());
        for (char c : name.toCharArray()) {
            if (Character.isISOControl(c))
                printable.append(String.format("\\x%02x", (int) c));
            else
                printable.append(c);
        }
        return printable.toString();
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
