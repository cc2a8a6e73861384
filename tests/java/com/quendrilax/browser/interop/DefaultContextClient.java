package com.quendrilax.browser.interop;

import java.net.InetAddress;
import javax.net.ssl.SSLSocket;
import javax.net.ssl.SSLSocketFactory;
import javax.net.ssl.TrustManagerFactory;

/**
 * A program that trusts as its JVM is configured to: one handshake with the default socket
 * factory to 127.0.0.1 at the port given; it prints the default trust manager algorithm when
 * the server is trusted, and ends with the handshake's exception when not.
 */
public final class DefaultContextClient {

    private DefaultContextClient() {}

    public static void main(String[] arguments) throws Exception {
        try (SSLSocket socket = (SSLSocket) SSLSocketFactory.getDefault().createSocket(
                InetAddress.getByName("127.0.0.1"), Integer.parseInt(arguments[0]))) {
            socket.setSoTimeout(30_000);
            socket.startHandshake();
        }
        System.out.println("trusted, default algorithm " + TrustManagerFactory.getDefaultAlgorithm());
    }
}
