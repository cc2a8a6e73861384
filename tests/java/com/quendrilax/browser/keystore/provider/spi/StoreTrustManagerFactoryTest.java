package com.quendrilax.browser.keystore.provider.spi;

import static org.junit.jupiter.api.Assertions.assertDoesNotThrow;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quendrilax.browser.testing.IssuedCertificate;
import com.quendrilax.browser.testing.QdieKeys;
import java.security.InvalidAlgorithmParameterException;
import java.security.KeyStore;
import java.security.cert.CertificateException;
import java.security.cert.X509Certificate;
import java.util.List;
import javax.net.ssl.ManagerFactoryParameters;
import javax.net.ssl.TrustManagerFactory;
import javax.net.ssl.X509TrustManager;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * The trust manager factory QDIE without TLS: when it reads the stores, what a key store given
 * to it changes, the client's role, and a root of "Disallowed". Handshakes are in
 * StoreTrustTlsTest.
 */
class StoreTrustManagerFactoryTest {

    private static IssuedCertificate root;
    private static IssuedCertificate intermediate;
    private static X509TrustManager madeBeforeTheRoot;

    @BeforeAll
    static void makeTheRoot() throws Exception {
        QdieKeys.install();
        madeBeforeTheRoot = trustManager(null);
        root = IssuedCertificate.root("Factory Test Root");
        root.addTo("Root");
        intermediate = root.issueAuthority("Factory Test Intermediate");
    }

    private static X509TrustManager trustManager(KeyStore given) throws Exception {
        TrustManagerFactory factory = TrustManagerFactory.getInstance("QDIE");
        factory.init(given);
        return (X509TrustManager) factory.getTrustManagers()[0];
    }

    private static X509Certificate[] chain(IssuedCertificate... certificates) {
        return java.util.Arrays.stream(certificates).map(IssuedCertificate::certificate)
                .toArray(X509Certificate[]::new);
    }

    private static void assertMessageHas(String expected, Throwable failure) {
        assertTrue(String.valueOf(failure.getMessage()).contains(expected),
                "\"" + expected + "\" not in: " + failure);
    }

    @Test
    void theStoresAreReadWhenTheFactoryIsInitialised() throws Exception {
        X509Certificate[] server =
                chain(intermediate.issueLeaf("127.0.0.1", "serverAuth", 2), intermediate);
        assertMessageHas("nothing is trusted", assertThrows(CertificateException.class,
                () -> madeBeforeTheRoot.checkServerTrusted(server, "ECDHE_ECDSA")));
        assertDoesNotThrow(() -> trustManager(null).checkServerTrusted(server, "ECDHE_ECDSA"));
    }

    /** A key store of its own, even one of another root, changes nothing: the stores decide. */
    @Test
    void aKeyStoreGivenChangesNothing() throws Exception {
        IssuedCertificate otherRoot = IssuedCertificate.root("Factory Test Root Of A Key Store");
        IssuedCertificate otherIntermediate = otherRoot.issueAuthority("Factory Test Other CA");
        KeyStore own = KeyStore.getInstance("PKCS12");
        own.load(null, null);
        own.setCertificateEntry("own", otherRoot.certificate());
        assertThrows(CertificateException.class, () -> trustManager(own).checkServerTrusted(
                chain(otherIntermediate.issueLeaf("127.0.0.1", "serverAuth", 2), otherIntermediate),
                "ECDHE_ECDSA"));

        KeyStore personal = QdieKeys.personalStore();
        assertDoesNotThrow(() -> trustManager(personal).checkServerTrusted(
                chain(intermediate.issueLeaf("127.0.0.1", "serverAuth", 2), intermediate),
                "ECDHE_ECDSA"));
    }

    @Test
    void itTakesNoParameters() {
        TrustManagerFactory factory = assertDoesNotThrow(() -> TrustManagerFactory.getInstance("QDIE"));
        assertThrows(IllegalStateException.class, factory::getTrustManagers);
        assertThrows(InvalidAlgorithmParameterException.class,
                () -> factory.init(new ManagerFactoryParameters() {}));
    }

    @Test
    void aClientNeedsClientAuthentication() throws Exception {
        X509TrustManager trust = trustManager(null);
        trust.checkClientTrusted(
                chain(intermediate.issueLeaf("Factory Client", "clientAuth", 2), intermediate), "EC");
        assertMessageHas("does not permit use for TLS client authentication",
                assertThrows(CertificateException.class, () -> trust.checkClientTrusted(
                        chain(intermediate.issueLeaf("Factory Server", "serverAuth", 2),
                                intermediate), "EC")));
    }

    @Test
    void aRootInDisallowedIsNoAnchor() throws Exception {
        IssuedCertificate banned = IssuedCertificate.root("Factory Test Banned Root");
        banned.addTo("Root");
        banned.addTo("Disallowed");
        IssuedCertificate bannedIntermediate = banned.issueAuthority("Factory Test Under Banned");
        X509TrustManager trust = trustManager(null);
        CertificateException refused = assertThrows(CertificateException.class,
                () -> trust.checkServerTrusted(chain(bannedIntermediate.issueLeaf("127.0.0.1",
                        "serverAuth", 2), bannedIntermediate), "ECDHE_ECDSA"));
        assertMessageHas("issued through \"Factory Test Banned Root-", refused);
        assertMessageHas("\"Disallowed\" store: never trusted", refused);

        List<X509Certificate> accepted = List.of(trust.getAcceptedIssuers());
        assertTrue(accepted.contains(root.certificate()), accepted::toString);
        assertFalse(accepted.contains(banned.certificate()), accepted::toString);
    }
}
