package com.quendrilax.browser.interop;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quendrilax.browser.testing.Identity;
import com.quendrilax.browser.testing.QdieKeys;
import com.quendrilax.browser.testing.TestProfile;
import java.io.BufferedReader;
import java.io.InputStreamReader;
import java.io.OutputStream;
import java.net.InetAddress;
import java.nio.charset.StandardCharsets;
import java.security.Security;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import javax.net.ssl.SSLContext;
import javax.net.ssl.SSLServerSocket;
import javax.net.ssl.SSLSocket;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

/**
 * A JDK server whose key is in the store, with RSA key exchange enabled for old clients: the
 * JDK unwraps the client's premaster secret through the provider's cipher, and openssl's client
 * completes the handshake over loopback.
 */
class TlsRsaKeyExchangeTest {

    private static final String SUITE = "TLS_RSA_WITH_AES_128_GCM_SHA256";
    private static final ExecutorService serverThread = Executors.newSingleThreadExecutor();
    private static Identity csp;
    private static Identity cng;

    @BeforeAll
    static void enableRsaKeyExchange() throws Exception {
        // This JDK disables TLS_RSA_* by default; a server that still serves old clients enables
        // it, before its first TLS class reads the property.
        String disabled = Security.getProperty("jdk.tls.disabledAlgorithms");
        Security.setProperty("jdk.tls.disabledAlgorithms", disabled.replace("TLS_RSA_*,", ""));
        csp = TestProfile.newIdentity("CN=Rsa Kx Csp");
        cng = TestProfile.newIdentity("CN=Rsa Kx Cng", "--provider",
                "Microsoft Software Key Storage Provider");
        QdieKeys.install();
    }

    @AfterAll
    static void stopServer() {
        serverThread.shutdownNow();
    }

    @ParameterizedTest
    @ValueSource(strings = {"csp", "cng"})
    void opensslClientCompletesTheHandshake(String which) throws Exception {
        Identity identity = which.equals("csp") ? csp : cng;
        SSLContext context = SSLContext.getInstance("TLS");
        context.init(OneIdentityKeyManager.offering(identity), null, null);
        InetAddress loopback = InetAddress.getLoopbackAddress();
        try (SSLServerSocket listener = (SSLServerSocket) context.getServerSocketFactory()
                .createServerSocket(0, 1, loopback)) {
            listener.setEnabledProtocols(new String[] {"TLSv1.2"});
            listener.setEnabledCipherSuites(new String[] {SUITE});
            Future<String> heard = serverThread.submit(() -> {
                try (SSLSocket accepted = (SSLSocket) listener.accept()) {
                    accepted.setSoTimeout(20_000);
                    accepted.startHandshake();
                    assertEquals(SUITE, accepted.getSession().getCipherSuite());
                    String line = new BufferedReader(new InputStreamReader(
                            accepted.getInputStream(), StandardCharsets.US_ASCII)).readLine();
                    try (OutputStream out = accepted.getOutputStream()) {
                        out.write("answered\n".getBytes(StandardCharsets.US_ASCII));
                    }
                    return line;
                }
            });
            Process client = new ProcessBuilder("openssl", "s_client", "-connect",
                    "127.0.0.1:" + listener.getLocalPort(), "-tls1_2", "-cipher",
                    "AES128-GCM-SHA256", "-ign_eof").redirectErrorStream(true).start();
            try {
                try (OutputStream toServer = client.getOutputStream()) {
                    toServer.write("premaster unwrapped\n".getBytes(StandardCharsets.US_ASCII));
                }
                assertEquals("premaster unwrapped", heard.get(30, TimeUnit.SECONDS));
                assertTrue(client.waitFor(30, TimeUnit.SECONDS));
                String output = new String(client.getInputStream().readAllBytes(),
                        StandardCharsets.US_ASCII);
                assertTrue(output.contains("Cipher is AES128-GCM-SHA256"), output);
                assertTrue(output.contains("answered"), output);
                assertTrue(output.contains("subject=CN = Rsa Kx"), output);
            } finally {
                client.destroyForcibly();
            }
        }
    }
}
