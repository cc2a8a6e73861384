package com.quendrilax.browser.interop;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import com.quendrilax.browser.testing.Identity;
import com.quendrilax.browser.testing.QdieKeys;
import com.quendrilax.browser.testing.TestProfile;
import java.io.FileInputStream;
import java.io.InputStream;
import java.io.OutputStream;
import java.net.InetAddress;
import java.nio.file.Path;
import java.security.KeyStore;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import javax.net.ssl.KeyManager;
import javax.net.ssl.KeyManagerFactory;
import javax.net.ssl.SSLContext;
import javax.net.ssl.SSLServerSocket;
import javax.net.ssl.SSLSocket;
import javax.net.ssl.TrustManagerFactory;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/**
 * TLS client authentication over loopback: a JDK server that requires a client certificate,
 * and a JDK client whose key manager works over QDIE-MY (or, for a service, QDIE-MY-LOCALMACHINE).
 */
class TlsClientAuthenticationTest {

    private static final char[] SERVER_PASSWORD = "server".toCharArray();
    private static Identity client;
    private static Identity cngRsa;
    private static Identity ecP256;
    private static Identity ecP384;
    private static KeyStore serverKeys;
    private static X509Certificate serverCertificate;
    private static Path serverKeyFile;
    private static Path serverCertificateFile;
    private static final ExecutorService serverThread = Executors.newSingleThreadExecutor();

    @BeforeAll
    static void makeIdentities() throws Exception {
        client = TestProfile.newIdentity("CN=Tls Client,O=Quendrilax");
        cngRsa = TestProfile.newIdentity("CN=Tls Cng", "--provider",
                "Microsoft Software Key Storage Provider");
        ecP256 = TestProfile.newIdentity("CN=Tls P256", "--key", "ec-p256");
        ecP384 = TestProfile.newIdentity("CN=Tls P384", "--key", "ec-p384");
        Path key = TestProfile.scratchFile("server", ".key");
        Path certificate = TestProfile.scratchFile("server", ".pem");
        serverKeyFile = key;
        serverCertificateFile = certificate;
        Path bundle = TestProfile.scratchFile("server", ".p12");
        TestProfile.run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj",
                "/CN=localhost", "-days", "2", "-keyout", key.toString(), "-out",
                certificate.toString());
        TestProfile.run("openssl", "pkcs12", "-export", "-inkey", key.toString(), "-in",
                certificate.toString(), "-passout", "pass:server", "-out", bundle.toString());
        serverKeys = KeyStore.getInstance("PKCS12");
        try (InputStream in = new FileInputStream(bundle.toFile())) {
            serverKeys.load(in, SERVER_PASSWORD);
        }
        try (InputStream in = new FileInputStream(certificate.toFile())) {
            serverCertificate = (X509Certificate) CertificateFactory.getInstance("X.509")
                    .generateCertificate(in);
        }
        QdieKeys.install();
    }

    @AfterAll
    static void stopServer() {
        serverThread.shutdownNow();
    }

    private static SSLContext context(KeyStore keys, char[] password, X509Certificate trusted)
            throws Exception {
        KeyManagerFactory keyManagers = KeyManagerFactory.getInstance("PKIX");
        keyManagers.init(keys, password);
        return context(keyManagers.getKeyManagers(), trusted);
    }

    private static SSLContext context(KeyManager[] keyManagers, X509Certificate trusted)
            throws Exception {
        KeyStore trust = KeyStore.getInstance("PKCS12");
        trust.load(null, null);
        trust.setCertificateEntry("trusted", trusted);
        TrustManagerFactory trustManagers = TrustManagerFactory.getInstance("PKIX");
        trustManagers.init(trust);
        SSLContext context = SSLContext.getInstance("TLS");
        context.init(keyManagers, trustManagers.getTrustManagers(), null);
        return context;
    }

    /** One connection in {@code protocol}; gives the client's subject as the server saw it. */
    private static String connect(String protocol) throws Exception {
        SSLContext server = context(serverKeys, SERVER_PASSWORD, client.certificate());
        KeyStore personal = QdieKeys.personalStore();
        SSLContext clientContext = context(personal, null, serverCertificate);
        InetAddress loopback = InetAddress.getLoopbackAddress();
        try (SSLServerSocket listener = (SSLServerSocket) server.getServerSocketFactory()
                .createServerSocket(0, 1, loopback)) {
            listener.setNeedClientAuth(true);
            listener.setEnabledProtocols(new String[] {protocol});
            Future<String> seen = serverThread.submit(() -> {
                try (SSLSocket accepted = (SSLSocket) listener.accept()) {
                    accepted.setSoTimeout(20_000);
                    accepted.startHandshake();
                    String subject = ((X509Certificate) accepted.getSession()
                            .getPeerCertificates()[0]).getSubjectX500Principal().getName();
                    try (OutputStream out = accepted.getOutputStream()) {
                        out.write(1);
                    }
                    return subject;
                }
            });
            try (SSLSocket socket = (SSLSocket) clientContext.getSocketFactory()
                    .createSocket(loopback, listener.getLocalPort())) {
                socket.setSoTimeout(20_000);
                socket.setEnabledProtocols(new String[] {protocol});
                socket.startHandshake();
                assertEquals(1, socket.getInputStream().read());
            } catch (Exception clientFailure) {
                seen.cancel(true);
                throw clientFailure;
            }
            return seen.get(20, TimeUnit.SECONDS);
        }
    }

    @Test
    void tls12ServerSeesTheClientIdentity() throws Exception {
        assertEquals(client.subject(), connect("TLSv1.2"));
    }

    /** TLS 1.3 signs the client's CertificateVerify with RSASSA-PSS only. */
    @Test
    void tls13ServerSeesTheClientIdentity() throws Exception {
        assertEquals(client.subject(), connect("TLSv1.3"));
    }

    /**
     * A JDK client of default settings against openssl's server, which requires a client
     * certificate (-Verify) or only asks for one (-verify): either way the handshake is TLS 1.3
     * and the server receives the identity's certificate. An RSA key of a CSP signs the
     * CertificateVerify with RSASSA-PSS by its CNG view, one of the key storage provider through
     * CNG directly, and EC keys with ECDSA on their own curve.
     */
    @ParameterizedTest
    @CsvSource({"Tls Client, 'O = Quendrilax, CN = Tls Client'", "Tls Cng, CN = Tls Cng",
            "Tls P256, CN = Tls P256", "Tls P384, CN = Tls P384"})
    void defaultClientAuthenticatesToOpensslRequiringOrRequesting(String name, String seenAs)
            throws Exception {
        Identity identity = name.equals("Tls Client") ? client : name.equals("Tls Cng") ? cngRsa
                : name.equals("Tls P256") ? ecP256 : ecP384;
        SSLContext clientContext =
                context(OneIdentityKeyManager.offering(identity), serverCertificate);
        for (String mode : new String[] {"-Verify", "-verify"})
            assertOpensslSees(clientContext, mode, seenAs);
    }

    /**
     * A service's identity is the machine's: as root (who alone may make the machine's store),
     * a key of QDIE-MY-LOCALMACHINE authenticates a TLS 1.3 client to openssl's server.
     */
    @Test
    void serviceAuthenticatesWithTheMachinesKey() throws Exception {
        assumeTrue(new com.sun.security.auth.module.UnixSystem().getUid() == 0,
                "only root makes the machine's store");
        Identity service = TestProfile.newIdentity("CN=Tls Service", "--machine");
        KeyStore machine = KeyStore.getInstance("QDIE-MY-LOCALMACHINE");
        machine.load(null, null);
        SSLContext clientContext = context(OneIdentityKeyManager.offering(service, machine),
                serverCertificate);
        assertOpensslSees(clientContext, "-Verify", "CN = Tls Service");
    }

    /** openssl's server, in the mode given, receives the client's certificate over TLS 1.3. */
    private static void assertOpensslSees(SSLContext clientContext, String mode, String seenAs)
            throws Exception {
        int port;
        try (java.net.ServerSocket probe = new java.net.ServerSocket(0, 1,
                InetAddress.getLoopbackAddress())) {
            port = probe.getLocalPort();
        }
        Process server = new ProcessBuilder("openssl", "s_server", "-accept",
                "127.0.0.1:" + port, "-naccept", "1", mode, "1", "-cert",
                serverCertificateFile.toString(), "-key", serverKeyFile.toString())
                .redirectErrorStream(true).start();
        try {
            java.io.BufferedReader output = new java.io.BufferedReader(
                    new java.io.InputStreamReader(server.getInputStream()));
            // The server says ACCEPT once it listens.
            for (String line; (line = output.readLine()) != null && !line.startsWith("ACCEPT"); ) {}
            String protocol;
            try (SSLSocket socket = (SSLSocket) clientContext.getSocketFactory()
                    .createSocket(InetAddress.getLoopbackAddress(), port)) {
                socket.setSoTimeout(20_000);
                socket.startHandshake();
                protocol = socket.getSession().getProtocol();
                socket.getOutputStream().write("hello\n".getBytes());
                socket.getOutputStream().flush();
            }
            assertEquals("TLSv1.3", protocol, mode);
            assertTrue(server.waitFor(20, TimeUnit.SECONDS), mode);
            String seen = new String(server.getInputStream().readAllBytes());
            assertTrue(seen.contains("depth=0 " + seenAs), mode + ": " + seen);
        } finally {
            server.destroyForcibly();
        }
    }
}
