package com.quendrilax.browser.testing;

import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.cert.CertificateException;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.util.concurrent.ThreadLocalRandom;

/**
 * A certificate openssl made in the profile's scratch folder, with its EC P-256 key: a root of
 * the test's own, the authorities it issues and the leaves they issue, for chains that end in
 * a root of the user's stores.
 */
public final class IssuedCertificate {

    private final X509Certificate certificate;
    private final Path pemFile;
    private final Path keyFile;

    private IssuedCertificate(Path pemFile, Path keyFile) throws IOException {
        this.pemFile = pemFile;
        this.keyFile = keyFile;
        try {
            certificate = (X509Certificate) CertificateFactory.getInstance("X.509")
                    .generateCertificate(new ByteArrayInputStream(Files.readAllBytes(pemFile)));
        } catch (CertificateException e) {
            throw new IOException("openssl made an unreadable certificate", e);
        }
    }

    /** A self-signed certificate authority, valid for two days. */
    public static IssuedCertificate root(String commonName) throws IOException {
        Path key = TestProfile.scratchFile("root", ".key");
        Path pem = TestProfile.scratchFile("root", ".pem");
        TestProfile.run("openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                "ec_paramgen_curve:P-256", "-nodes", "-subj", "/CN=" + commonName, "-days", "2",
                "-addext", "basicConstraints=critical,CA:TRUE",
                "-addext", "keyUsage=critical,keyCertSign,cRLSign",
                "-keyout", key.toString(), "-out", pem.toString());
        return new IssuedCertificate(pem, key);
    }

    /** A certificate authority this one issues, valid for two days. */
    public IssuedCertificate issueAuthority(String commonName) throws IOException {
        return issue(commonName, 2, "basicConstraints=critical,CA:TRUE\n"
                + "keyUsage=critical,keyCertSign,cRLSign\n");
    }

    /**
     * A leaf for 127.0.0.1 and localhost that this authority issues, with this extended key
     * usage ("serverAuth", "clientAuth"), valid for {@code days} from now: -1 makes it expired.
     */
    public IssuedCertificate issueLeaf(String commonName, String extendedKeyUsage, int days)
            throws IOException {
        return issueLeaf(commonName, extendedKeyUsage, days, "IP:127.0.0.1,DNS:localhost");
    }

    /** A leaf for the names given (a subjectAltName value). */
    public IssuedCertificate issueLeaf(String commonName, String extendedKeyUsage, int days,
            String subjectAltName) throws IOException {
        return issue(commonName, days, "basicConstraints=critical,CA:FALSE\n"
                + "keyUsage=critical,digitalSignature\n"
                + "extendedKeyUsage=" + extendedKeyUsage + "\n"
                + "subjectAltName=" + subjectAltName + "\n");
    }

    private IssuedCertificate issue(String commonName, int days, String extensions)
            throws IOException {
        Path key = TestProfile.scratchFile("issued", ".key");
        Path request = TestProfile.scratchFile("issued", ".csr");
        Path extensionFile = TestProfile.scratchFile("issued", ".ext");
        Path pem = TestProfile.scratchFile("issued", ".pem");
        Files.writeString(extensionFile, extensions);
        TestProfile.run("openssl", "req", "-new", "-newkey", "ec", "-pkeyopt",
                "ec_paramgen_curve:P-256", "-nodes", "-subj", "/CN=" + commonName,
                "-keyout", key.toString(), "-out", request.toString());
        TestProfile.run("openssl", "x509", "-req", "-in", request.toString(),
                "-CA", pemFile.toString(), "-CAkey", keyFile.toString(),
                "-set_serial", Long.toString(ThreadLocalRandom.current().nextLong(1, Long.MAX_VALUE)),
                "-days", Integer.toString(days), "-extfile", extensionFile.toString(),
                "-out", pem.toString());
        return new IssuedCertificate(pem, key);
    }

    /** Adds the certificate to the current user's system store of this name, as a user would. */
    public void addTo(String store) throws IOException {
        Path der = TestProfile.scratchFile("certificate", ".der");
        try {
            Files.write(der, certificate.getEncoded());
        } catch (CertificateException e) {
            throw new IllegalStateException(e);
        }
        TestProfile.runTool("add", "--store", store, der.toString());
    }

    public X509Certificate certificate() {
        return certificate;
    }

    public Path pemFile() {
        return pemFile;
    }

    public Path keyFile() {
        return keyFile;
    }
}
