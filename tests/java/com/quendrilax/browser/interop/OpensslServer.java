package com.quendrilax.browser.interop;

import com.quendrilax.browser.testing.IssuedCertificate;
import com.quendrilax.browser.testing.TestProfile;
import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

/**
 * {@code openssl s_server} on a free port of 127.0.0.1 for one connection, sending its leaf and
 * the intermediates given, and nothing it could find of its own.
 */
final class OpensslServer implements AutoCloseable {

    private final Process process;
    final int port;

    private OpensslServer(Process process, int port) {
        this.process = process;
        this.port = port;
    }

    static OpensslServer serving(IssuedCertificate leaf, IssuedCertificate... intermediates)
            throws IOException {
        List<String> command = new ArrayList<>(List.of("openssl", "s_server", "-accept",
                "127.0.0.1:0", "-naccept", "1", "-cert", leaf.pemFile().toString(), "-key",
                leaf.keyFile().toString(), "-no-CAfile", "-no-CApath", "-no-CAstore"));
        if (intermediates.length > 0) {
            Path chain = TestProfile.scratchFile("chain", ".pem");
            StringBuilder pem = new StringBuilder();
            for (IssuedCertificate intermediate : intermediates)
                pem.append(Files.readString(intermediate.pemFile()));
            Files.writeString(chain, pem);
            command.addAll(List.of("-cert_chain", chain.toString()));
        }
        Process process = new ProcessBuilder(command).redirectErrorStream(true).start();
        BufferedReader output = new BufferedReader(
                new InputStreamReader(process.getInputStream(), StandardCharsets.UTF_8));
        // It says "ACCEPT 127.0.0.1:PORT" once it listens.
        for (String line; (line = output.readLine()) != null; ) {
            if (line.startsWith("ACCEPT 127.0.0.1:"))
                return new OpensslServer(process, Integer.parseInt(line.substring(17).trim()));
        }
        process.destroyForcibly();
        throw new IOException("openssl s_server ended before it listened: " + command);
    }

    @Override
    public void close() {
        process.destroyForcibly();
    }
}
