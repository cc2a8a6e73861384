#!/usr/bin/env bash
# The provider meeting a key store its user may not write or read, run without root's
# capabilities as a user meets it: setCertificateEntry replacing a certificate in a store whose
# folder the user may not write adds the new certificate before it deletes the old, so the
# refused addition is a KeyStoreException and the old certificate stays; a key store file the
# user may not read fails keytool -list with the reason, never lists as empty.
# Usage: store_access_test.sh PROVIDER_JAR LIBRARY_DIR QDIE_KEYSTORE
source "$(dirname "$0")/tools_lib.sh"
jar=$1 library_dir=$2 qdie_keystore=$3
enter_throwaway_profile

for name in old new; do
  openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=Peer" -days 2 -keyout $name.key \
    -out $name.pem 2>/dev/null
  openssl x509 -in $name.pem -outform DER -out $name.der
done
"$qdie_keystore" add --store TrustedPeople old.der >/dev/null
thumbprint() { openssl x509 -in "$1" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g'; }

cat >Replace.java <<'EOF'
import com.quendrilax.browser.keystore.provider.QDBrowserProvider;
import java.io.FileInputStream;
import java.security.KeyStore;
import java.security.KeyStoreException;
import java.security.Security;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;

public class Replace {
    public static void main(String[] files) throws Exception {
        Security.addProvider(new QDBrowserProvider());
        CertificateFactory factory = CertificateFactory.getInstance("X.509");
        X509Certificate old = (X509Certificate) factory.generateCertificate(new FileInputStream(files[0]));
        X509Certificate replacement = (X509Certificate) factory.generateCertificate(new FileInputStream(files[1]));
        KeyStore store = KeyStore.getInstance("QDIE");
        store.load(QDBrowserProvider.systemStore("TrustedPeople"));
        try {
            store.setCertificateEntry(store.getCertificateAlias(old), replacement);
            System.out.println("replaced");
        } catch (KeyStoreException e) {
            System.out.println("refused: " + e.getMessage());
        }
    }
}
EOF
folder="$profile/.local/share/qdie-keystore"
chmod 0500 "$folder"
unprivileged=()
if [ "$(id -u)" -eq 0 ]; then unprivileged=(setpriv --bounding-set=-all --inh-caps=-all --); fi
out=$("${unprivileged[@]}" java -cp "$jar" -Djava.library.path="$library_dir" Replace.java old.pem new.pem)
chmod 0700 "$folder"
grep -q '^refused: the store "TrustedPeople" did not take the certificate: the store did not take the certificate at CertAddEncodedCertificateToStore (status 24, Windows error 0x80070005: access denied)$' <<<"$out" \
  || fail "the replacement was not refused: $out"
listed=$("$qdie_keystore" list --store TrustedPeople)
grep -q "^$(thumbprint old.pem)  " <<<"$listed" || fail "the old certificate is gone: $listed"
grep -q "^$(thumbprint new.pem)  " <<<"$listed" && fail "the new certificate is in: $listed"
echo "setCertificateEntry in an unwritable store: $out; the old certificate stays"

chmod 0000 "$folder/keystore.db"
if out=$("${unprivileged[@]}" keytool -J-cp -J"$jar" -J-Djava.library.path="$library_dir" \
    -addprovider QDIE -keystore NONE -storepass unused -storetype QDIE-MY -list 2>&1); then
  fail "keytool -list of an unreadable key store exited 0: $out"
fi
chmod 0600 "$folder/keystore.db"
grep -q 'the system store "My" could not be read: .*(status 7, Windows error 0x80070005: access denied)' \
  <<<"$out" || fail "keytool -list of an unreadable key store: $out"
echo "keytool -list of a key store its user may not read: exits non-zero, access denied"
