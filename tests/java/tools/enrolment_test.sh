#!/usr/bin/env bash
# An enrolment with the JDK's tools alone, over QDIE-MY and (as root, who alone may change the
# machine's store) QDIE-MY-LOCALMACHINE: keytool -genkeypair with RSA and with EC, keytool -certreq
# verified by openssl and signed by a test authority, the reply installed by keytool -importcert,
# jarsigner signing with the key and verifying, TLS 1.3 client authentication to
# openssl s_server -Verify 1, keytool -delete taking the container with the certificate; and a
# PKCS #12 file of openssl's brought in by keytool -importkeystore, then used the same way.
# Usage: enrolment_test.sh PROVIDER_JAR LIBRARY_DIR QDIE_KEYSTORE
source "$(dirname "$0")/tools_lib.sh"
jar=$1 library_dir=$2 qdie_keystore=$3
enter_throwaway_profile

openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=Test Authority" -days 2 -keyout ca.key \
  -out ca.pem -addext basicConstraints=critical,CA:TRUE \
  -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
printf 'keyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning,clientAuth\n' >leaf.ext
openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=localhost" -days 2 -keyout server.key \
  -out server.pem 2>/dev/null
echo "release notes" >notes.txt
jar cf unsigned.jar notes.txt

cat >TlsClient.java <<'EOF'
import com.quendrilax.browser.keystore.provider.QDBrowserProvider;
import java.io.FileInputStream;
import java.security.KeyStore;
import java.security.Security;
import java.security.cert.CertificateFactory;
import javax.net.ssl.KeyManagerFactory;
import javax.net.ssl.SSLContext;
import javax.net.ssl.SSLSocket;
import javax.net.ssl.TrustManagerFactory;

/**
 * Connects with the store's identities, opened with the PIN given, to the port; trusts the
 * server's certificate file.
 */
public class TlsClient {
    public static void main(String[] args) throws Exception {
        Security.addProvider(new QDBrowserProvider());
        KeyStore keys = KeyStore.getInstance(args[0]);
        keys.load(null, null);
        KeyManagerFactory keyManagers = KeyManagerFactory.getInstance("PKIX");
        keyManagers.init(keys, args[3].toCharArray());
        KeyStore trusted = KeyStore.getInstance("PKCS12");
        trusted.load(null, null);
        trusted.setCertificateEntry("server", CertificateFactory.getInstance("X.509")
                .generateCertificate(new FileInputStream(args[2])));
        TrustManagerFactory trust = TrustManagerFactory.getInstance("PKIX");
        trust.init(trusted);
        SSLContext tls = SSLContext.getInstance("TLSv1.3");
        tls.init(keyManagers.getKeyManagers(), trust.getTrustManagers(), null);
        try (SSLSocket socket = (SSLSocket) tls.getSocketFactory().createSocket("127.0.0.1",
                Integer.parseInt(args[1]))) {
            socket.setSoTimeout(20_000);
            socket.startHandshake();
            socket.getOutputStream().write("hello\n".getBytes());
            System.out.println(socket.getSession().getProtocol());
        }
    }
}
EOF

# The certificate the server received from a TLS 1.3 client of the store, and its verdict.
tls_client_authenticates() {
  local storetype=$1 subject=$2 port
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  openssl s_server -www -accept "127.0.0.1:$port" -naccept 1 -Verify 1 -CAfile ca.pem \
    -cert server.pem -key server.key >server.out 2>&1 &
  local server=$!
  for _ in $(seq 600); do grep -q ACCEPT server.out && break; sleep 0.1; done
  local protocol
  protocol=$(java -cp "$jar" -Djava.library.path="$library_dir" TlsClient.java "$storetype" \
    "$port" server.pem unused 2>&1) || { kill $server 2>/dev/null || true; fail "TLS client over $storetype: $protocol $(cat server.out)"; }
  wait $server || true
  [ "$protocol" = "TLSv1.3" ] || fail "TLS over $storetype: $protocol"
  grep -q "depth=0 CN = $subject" server.out || fail "the server did not see $subject: $(cat server.out)"
  grep -q "verify return:1" server.out || fail "the server refused $subject: $(cat server.out)"
}

# keytool's whole enrolment of one key, then its use and deletion.
enrol() {
  local storetype=$1 keyalg=$2 alias=$3 machine=()
  [ "$storetype" = QDIE-MY-LOCALMACHINE ] && machine=(--machine)
  local size=(-keysize 2048)
  [ "$keyalg" = EC ] && size=(-keysize 256)
  with_provider keytool -storetype "$storetype" -genkeypair -alias "$alias" -keyalg "$keyalg" \
    "${size[@]}" -dname "CN=$alias" -keypass unused >/dev/null \
    || fail "keytool -genkeypair $keyalg into $storetype"
  with_provider keytool -storetype "$storetype" -certreq -alias "$alias" -file "$alias.csr" \
    -keypass unused || fail "keytool -certreq of $alias"
  local checked
  checked=$(openssl req -verify -in "$alias.csr" -noout 2>&1)
  grep -q "verify OK" <<<"$checked" || fail "openssl req -verify of $alias's request: $checked"
  openssl x509 -req -in "$alias.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
    -extfile leaf.ext -out "$alias.pem" 2>/dev/null || fail "the authority did not sign $alias"
  cat "$alias.pem" ca.pem >"$alias.reply.pem"
  local installed
  installed=$(with_provider keytool -storetype "$storetype" -importcert -noprompt -alias "$alias" \
    -file "$alias.reply.pem" -keypass unused 2>&1)
  grep -q "Certificate reply was installed in keystore" <<<"$installed" \
    || fail "keytool -importcert of $alias's reply: $installed"
  with_provider jarsigner -storetype "$storetype" -keypass unused -signedjar "$alias.jar" \
    unsigned.jar "$alias" >/dev/null || fail "jarsigner with $alias"
  local verdict
  verdict=$(jarsigner -verify -verbose -certs "$alias.jar")
  grep -q "^jar verified\.$" <<<"$verdict" || fail "jarsigner -verify of $alias's jar: $verdict"
  grep -q "CN=$alias" <<<"$verdict" || fail "$alias's jar is not signed by it: $verdict"
  local authorities
  authorities=$("$qdie_keystore" list "${machine[@]}" --store CA)
  grep -q "  CN=Test Authority" <<<"$authorities" || fail "the reply's authority is not in CA"
  tls_client_authenticates "$storetype" "$alias"
  local containers
  containers=$("$qdie_keystore" containers "${machine[@]}")
  grep -q "^container=$alias " <<<"$containers" || fail "no container $alias: $containers"
  with_provider keytool -storetype "$storetype" -delete -alias "$alias" \
    || fail "keytool -delete $alias"
  containers=$("$qdie_keystore" containers "${machine[@]}")
  grep -q "^container=$alias " <<<"$containers" && fail "the container of $alias stayed: $containers"
  echo "$storetype $keyalg: genkeypair, certreq, reply installed, jarsigner, TLS 1.3, delete"
}

enrol QDIE-MY RSA rsa-user
enrol QDIE-MY EC ec-user
if [ "$(id -u)" -eq 0 ]; then
  enrol QDIE-MY-LOCALMACHINE RSA rsa-service
  enrol QDIE-MY-LOCALMACHINE EC ec-service
else
  echo "the machine's store left out: only root may change it (running as $(id -un))"
fi

# A PKCS #12 file of openssl's, brought in whole.
openssl req -newkey rsa:2048 -nodes -subj "/CN=imported" -keyout imported.key -out imported.csr \
  2>/dev/null
openssl x509 -req -in imported.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
  -extfile leaf.ext -out imported.pem 2>/dev/null
openssl pkcs12 -export -in imported.pem -inkey imported.key -certfile ca.pem -name imported \
  -passout pass:secret -out imported.p12
with_provider keytool -importkeystore -srckeystore imported.p12 -srcstoretype PKCS12 \
  -srcstorepass secret -deststoretype QDIE-MY -destkeypass unused -noprompt >/dev/null \
  || fail "keytool -importkeystore of openssl's PKCS #12 file"
with_provider jarsigner -storetype QDIE-MY -keypass unused -signedjar imported.jar unsigned.jar \
  imported >/dev/null || fail "jarsigner with the imported key"
verdict=$(jarsigner -verify imported.jar)
grep -q "^jar verified\.$" <<<"$verdict" || fail "the imported key's jar: $verdict"
tls_client_authenticates QDIE-MY imported
with_provider keytool -storetype QDIE-MY -delete -alias imported || fail "keytool -delete imported"
containers=$("$qdie_keystore" containers)
grep -q "^container=imported " <<<"$containers" && fail "the imported container stayed: $containers"
echo "keytool -importkeystore of a PKCS #12 file: jarsigner, TLS 1.3, delete"
