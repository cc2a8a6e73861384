package com.quendrilax.browser.interop;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quendrilax.browser.testing.IssuedCertificate;
import com.quendrilax.browser.testing.QdieKeys;
import java.net.InetAddress;
import java.security.KeyStore;
import java.security.MessageDigest;
import java.security.cert.CertificateException;
import java.security.cert.CertificateExpiredException;
import java.security.cert.X509Certificate;
import java.util.HexFormat;
import javax.net.ssl.SSLContext;
import javax.net.ssl.SSLHandshakeException;
import javax.net.ssl.SSLParameters;
import javax.net.ssl.SSLSocket;
import javax.net.ssl.TrustManagerFactory;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * A JDK client trusting through the trust manager factory QDIE, against openssl's server over
 * loopback: the test's root is in the user's "Root" store; intermediates are in "CA" or not,
 * sent by the server or not; "Disallowed" holds what must never be trusted.
 */
class StoreTrustTlsTest {

    private static IssuedCertificate root;
    private static IssuedCertificate inCa;
    private static IssuedCertificate notInCa;

    @BeforeAll
    static void makeTheRootAndIntermediates() throws Exception {
        QdieKeys.install();
        root = IssuedCertificate.root("Trust Test Root");
        root.addTo("Root");
        inCa = root.issueAuthority("Trust Test Intermediate In CA");
        inCa.addTo("CA");
        notInCa = root.issueAuthority("Trust Test Intermediate Elsewhere");
    }

    /** A handshake with a server sending this leaf and these intermediates, hostname checked. */
    private static void connect(IssuedCertificate leaf, IssuedCertificate... sent) throws Exception {
        TrustManagerFactory trust = TrustManagerFactory.getInstance("QDIE");
        trust.init((KeyStore) null);
        SSLContext context = SSLContext.getInstance("TLS");
        context.init(null, trust.getTrustManagers(), null);
        try (OpensslServer server = OpensslServer.serving(leaf, sent);
                SSLSocket socket = (SSLSocket) context.getSocketFactory()
                        .createSocket(InetAddress.getByName("127.0.0.1"), server.port)) {
            socket.setSoTimeout(30_000);
            SSLParameters parameters = socket.getSSLParameters();
            parameters.setEndpointIdentificationAlgorithm("HTTPS");
            socket.setSSLParameters(parameters);
            socket.startHandshake();
            X509Certificate[] seen = (X509Certificate[]) socket.getSession().getPeerCertificates();
            assertEquals(leaf.certificate(), seen[0]);
        }
    }

    /** The trust manager's refusal of the handshake with this server. */
    private static CertificateException refusal(IssuedCertificate leaf, IssuedCertificate... sent) {
        SSLHandshakeException failed =
                assertThrows(SSLHandshakeException.class, () -> connect(leaf, sent));
        return assertInstanceOf(CertificateException.class, failed.getCause(), failed::toString);
    }

    private static void assertMessageHas(String expected, Throwable failure) {
        assertTrue(String.valueOf(failure.getMessage()).contains(expected),
                "\"" + expected + "\" not in: " + failure);
    }

    @Test
    void aLeafAloneIsCompletedFromCaAndOtherwiseRefused() throws Exception {
        connect(inCa.issueLeaf("127.0.0.1", "serverAuth", 2));

        IssuedCertificate orphan = notInCa.issueLeaf("127.0.0.1", "serverAuth", 2);
        assertMessageHas("unable to find valid certification path", refusal(orphan));
        connect(orphan, notInCa);
    }

    @Test
    void whatDisallowedHoldsIsNeverTrustedWhetherSentOrFromCa() throws Exception {
        IssuedCertificate bannedAuthority = root.issueAuthority("Trust Test Banned Intermediate");
        bannedAuthority.addTo("CA");
        bannedAuthority.addTo("Disallowed");
        IssuedCertificate underBanned = bannedAuthority.issueLeaf("127.0.0.1", "serverAuth", 2);
        assertNamesDisallowed(bannedAuthority, refusal(underBanned));
        assertNamesDisallowed(bannedAuthority, refusal(underBanned, bannedAuthority));

        IssuedCertificate bannedLeaf = inCa.issueLeaf("127.0.0.1", "serverAuth", 2);
        bannedLeaf.addTo("Disallowed");
        assertNamesDisallowed(bannedLeaf, refusal(bannedLeaf));
        assertNamesDisallowed(bannedLeaf, refusal(bannedLeaf, inCa));
    }

    private static void assertNamesDisallowed(IssuedCertificate banned, CertificateException refusal)
            throws Exception {
        String thumbprint = HexFormat.of().formatHex(
                MessageDigest.getInstance("SHA-1").digest(banned.certificate().getEncoded()));
        assertMessageHas("SHA-1 " + thumbprint, refusal);
        assertMessageHas("\"Disallowed\" store: never trusted", refusal);
    }

    /** PKIX's checks of a server's leaf: its extended key usage, its dates, its names. */
    @Test
    void aLeafNotForServersOrExpiredOrForAnotherHostIsRefused() throws Exception {
        assertMessageHas("Extended key usage does not permit use for TLS server authentication",
                refusal(inCa.issueLeaf("127.0.0.1", "clientAuth", 2)));

        // Sent alone, an expired leaf only fails the path building; sent with its
        // intermediate, PKIX validates the path and names the expiry.
        IssuedCertificate expiredLeaf = inCa.issueLeaf("127.0.0.1", "serverAuth", -1);
        refusal(expiredLeaf);
        CertificateException expired = refusal(expiredLeaf, inCa);
        Throwable cause = expired;
        while (cause != null && !(cause instanceof CertificateExpiredException))
            cause = cause.getCause();
        assertInstanceOf(CertificateExpiredException.class, cause, expired::toString);

        assertMessageHas("No subject alternative names matching IP address 127.0.0.1",
                refusal(inCa.issueLeaf("elsewhere", "serverAuth", 2, "DNS:elsewhere.invalid")));
    }
}
