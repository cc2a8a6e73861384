package com.quendrilax.browser.interop;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import com.quendrilax.browser.keystore.provider.QDBrowserProvider;
import com.quendrilax.browser.testing.IssuedCertificate;
import com.quendrilax.browser.testing.QdieKeys;
import com.quendrilax.browser.testing.TestProfile;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.KeyStore;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * Trust chosen by configuration alone, in JVMs of their own (the default SSL context is made
 * once per JVM): the provider installed by a security.provider line, and either the trust
 * manager factory QDIE as the default algorithm, or QDIE-ROOT as the trust store of the JDK's
 * PKIX.
 */
class DefaultTrustConfigurationTest {

    private static final String SYSTEM_ROOTS = "QDIE_SYSTEM_ROOTS";
    private static IssuedCertificate userRoot;
    private static IssuedCertificate intermediate;
    private static IssuedCertificate systemIntermediate;
    private static IssuedCertificate systemRoot;

    @BeforeAll
    static void makeRoots() throws Exception {
        userRoot = IssuedCertificate.root("Configured Trust User Root");
        userRoot.addTo("Root");
        intermediate = userRoot.issueAuthority("Configured Trust Intermediate");
        intermediate.addTo("CA");
        systemRoot = IssuedCertificate.root("Configured Trust System Root");
        systemIntermediate = systemRoot.issueAuthority("Configured Trust System Intermediate");
        // Written only where the harness left no file: never over a real system bundle.
        String bundle = System.getenv(SYSTEM_ROOTS);
        if (bundle != null && Files.notExists(Path.of(bundle)))
            Files.copy(systemRoot.pemFile(), Path.of(bundle));
        QdieKeys.install();
    }

    /** A JVM with these security properties and system properties connecting to the server. */
    private static Outcome connectFromNewJvm(OpensslServer server, String securityProperties,
            String... systemProperties) throws Exception {
        Path properties = TestProfile.scratchFile("java", ".security");
        Files.writeString(properties, "security.provider.13=" + QDBrowserProvider.NAME + "\n"
                + securityProperties);
        List<String> command = new ArrayList<>(List.of(
                Path.of(System.getProperty("java.home"), "bin", "java").toString(),
                "-Djava.security.properties=" + properties,
                "-Djava.library.path=" + System.getProperty("java.library.path"),
                "-cp", codeOf(QDBrowserProvider.class) + ":" + codeOf(DefaultContextClient.class)));
        command.addAll(List.of(systemProperties));
        command.addAll(List.of(DefaultContextClient.class.getName(), Integer.toString(server.port)));
        Process client = new ProcessBuilder(command).redirectErrorStream(true).start();
        String output = new String(client.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        assertTrue(client.waitFor(60, TimeUnit.SECONDS), "the client did not end: " + output);
        return new Outcome(client.exitValue(), output);
    }

    private static String codeOf(Class<?> type) throws Exception {
        return Path.of(type.getProtectionDomain().getCodeSource().getLocation().toURI()).toString();
    }

    private record Outcome(int exitValue, String output) {
        void assertTrusted(String algorithm) {
            assertEquals(0, exitValue, output);
            assertTrue(output.contains("trusted, default algorithm " + algorithm), output);
        }
    }

    @Test
    void theSecurityPropertyAloneMakesQdieTheDefaultTrust() throws Exception {
        IssuedCertificate leaf = intermediate.issueLeaf("127.0.0.1", "serverAuth", 2);
        try (OpensslServer server = OpensslServer.serving(leaf)) {
            connectFromNewJvm(server, "ssl.TrustManagerFactory.algorithm=QDIE\n")
                    .assertTrusted("QDIE");
        }
        // The JDK's default trust store knows nothing of the user's root.
        try (OpensslServer server = OpensslServer.serving(leaf, intermediate)) {
            Outcome refused = connectFromNewJvm(server, "");
            assertEquals(1, refused.exitValue, refused.output);
            assertTrue(refused.output.contains("SSLHandshakeException"), refused.output);
        }
    }

    /** The JDK's PKIX has no "CA" store: the server sends its intermediate. */
    @Test
    void qdieRootAsTheTrustStoreTrustsTheUsersRoots() throws Exception {
        try (OpensslServer server = OpensslServer.serving(
                intermediate.issueLeaf("127.0.0.1", "serverAuth", 2), intermediate)) {
            connectFromNewJvm(server, "", "-Djavax.net.ssl.trustStoreType=QDIE-ROOT",
                    "-Djavax.net.ssl.trustStore=NONE").assertTrusted("PKIX");
        }
    }

    @Test
    void qdieRootAsTheTrustStoreTrustsTheSystemBundlesRoots() throws Exception {
        assumeTrue(System.getenv(SYSTEM_ROOTS) != null,
                SYSTEM_ROOTS + " is not set: the harness names no system bundle");
        KeyStore roots = KeyStore.getInstance("QDIE-ROOT");
        roots.load(null, null);
        assumeTrue(roots.getCertificateAlias(systemRoot.certificate()) != null,
                "the root of the system bundle is not in QDIE-ROOT: the software CryptoAPI"
                        + " does not read " + SYSTEM_ROOTS);
        try (OpensslServer server = OpensslServer.serving(
                systemIntermediate.issueLeaf("127.0.0.1", "serverAuth", 2), systemIntermediate)) {
            connectFromNewJvm(server, "", "-Djavax.net.ssl.trustStoreType=QDIE-ROOT",
                    "-Djavax.net.ssl.trustStore=NONE").assertTrusted("PKIX");
        }
    }
}
