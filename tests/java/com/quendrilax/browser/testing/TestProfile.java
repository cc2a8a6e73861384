package com.quendrilax.browser.testing;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.cert.CertificateEncodingException;
import java.security.cert.X509Certificate;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Base64;
import java.util.List;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicInteger;

/**
 * The throwaway profile this JVM runs in: the harness points userprofile and HOME at a fresh
 * folder holding the log folder, so the library's log and the software key store live there.
 * Identities are made in it with qdie-keystore, as a user would.
 */
public final class TestProfile {

    private static final String TOOL_PROPERTY = "qdie.keystoreTool";
    private static final AtomicInteger fileCounter = new AtomicInteger();

    private TestProfile() {}

    public static Path folder() {
        String profile = System.getenv("userprofile");
        if (profile == null) throw new IllegalStateException("userprofile is not set by the harness");
        return Path.of(profile);
    }

    public static Path logFile() {
        return folder().resolve(".quendrilax").resolve("jni.log");
    }

    /** The log file's lines as written, date prefixes included; none when there is no file. */
    public static List<String> logFileLines() throws IOException {
        if (!Files.exists(logFile())) return List.of();
        return Files.readAllLines(logFile(), StandardCharsets.ISO_8859_1);
    }

    public static void clearLog() throws IOException {
        Files.deleteIfExists(logFile());
    }

    /** A new key and self-signed certificate in the personal store (or --store), via qdie-keystore. */
    public static Identity newIdentity(String subject, String... options) throws IOException {
        Path out = scratchFile("identity", ".der");
        List<String> arguments = new ArrayList<>(List.of("new-identity", "--subject", subject,
                "--out", out.toString()));
        arguments.addAll(Arrays.asList(options));
        runTool(arguments.toArray(new String[0]));
        return Identity.fromEncoding(Files.readAllBytes(out), null);
    }

    /**
     * As {@link #newIdentity}, for options beyond ASCII: they reach the tool as UTF-8 whatever
     * this JVM's locale would make of them, each byte spelled as an octal escape for the shell.
     */
    public static Identity newIdentityWithUnicodeOptions(String subject, String... options)
            throws IOException {
        Path out = scratchFile("identity", ".der");
        StringBuilder command = new StringBuilder("exec \"$0\" new-identity --allow-names-beyond-latin-1");
        List<String> arguments = new ArrayList<>(List.of("--subject", subject, "--out", out.toString()));
        arguments.addAll(Arrays.asList(options));
        for (String argument : arguments) {
            command.append(" \"$(printf '");
            for (byte b : argument.getBytes(StandardCharsets.UTF_8))
                command.append(String.format("\\%03o", b & 0xFF));
            command.append("')\"");
        }
        run("sh", "-c", command.toString(), tool());
        return Identity.fromEncoding(Files.readAllBytes(out), null);
    }

    /**
     * An identity whose private key the test also holds: openssl makes the key and certificate,
     * qdie-keystore imports them as PKCS #12 into the personal store with the given options.
     */
    public static Identity importedIdentity(String subject, String... options) throws IOException {
        Path key = scratchFile("key", ".pem");
        Path certificate = scratchFile("certificate", ".pem");
        Path bundle = scratchFile("bundle", ".p12");
        run("openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048",
                "-out", key.toString());
        run("openssl", "req", "-x509", "-new", "-key", key.toString(), "-subj", "/" + subject,
                "-days", "2", "-out", certificate.toString());
        run("openssl", "pkcs12", "-export", "-inkey", key.toString(), "-in", certificate.toString(),
                "-passout", "pass:bundle", "-out", bundle.toString());
        List<String> arguments = new ArrayList<>(List.of("import-pfx", bundle.toString(),
                "--password", "bundle"));
        arguments.addAll(Arrays.asList(options));
        runTool(arguments.toArray(new String[0]));
        return Identity.fromEncoding(Files.readAllBytes(certificate), Files.readString(key));
    }

    /** Runs qdie-keystore with these arguments and gives its standard output. */
    public static String runTool(String... arguments) throws IOException {
        List<String> command = new ArrayList<>(List.of(tool()));
        command.addAll(Arrays.asList(arguments));
        return run(command.toArray(new String[0]));
    }

    private static String tool() {
        String tool = System.getProperty(TOOL_PROPERTY);
        if (tool == null) throw new IllegalStateException(TOOL_PROPERTY + " is not set");
        return tool;
    }

    /** Runs a command, fails unless it exits with 0, and gives its output (stdout and stderr). */
    public static String run(String... command) throws IOException {
        Process process = new ProcessBuilder(command).redirectErrorStream(true).start();
        String output = new String(process.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        try {
            if (!process.waitFor(60, TimeUnit.SECONDS)) {
                process.destroyForcibly();
                throw new IOException(command[0] + " did not finish");
            }
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new IOException(e);
        }
        if (process.exitValue() != 0)
            throw new IOException(String.join(" ", command) + " exited with "
                    + process.exitValue() + ": " + output);
        return output;
    }

    /** The certificate as a PEM file in the scratch folder, for the command-line tools. */
    public static Path pemFile(X509Certificate certificate) throws IOException {
        Path pem = scratchFile("certificate", ".pem");
        try {
            Files.writeString(pem, "-----BEGIN CERTIFICATE-----\n"
                    + Base64.getMimeEncoder().encodeToString(certificate.getEncoded())
                    + "\n-----END CERTIFICATE-----\n", StandardCharsets.US_ASCII);
        } catch (CertificateEncodingException e) {
            throw new IllegalArgumentException(e);
        }
        return pem;
    }

    /** A new file name in the profile's scratch folder. */
    public static Path scratchFile(String stem, String suffix) throws IOException {
        Path scratch = folder().resolve("scratch");
        Files.createDirectories(scratch);
        return scratch.resolve(stem + fileCounter.incrementAndGet() + suffix);
    }
}
