#!/usr/bin/env bash
# A service's identity in the local machine's stores, met through the provider by root and by a
# user who is not root (uid 65534, no capabilities): that user lists the machine's certificates,
# is refused its key with access denied at the first signature, and is refused every change with
# KeyStoreException, the store unchanged; keytool lists and imports with
# -storetype QDIE-ROOT-LOCALMACHINE as root, and the user's own Root shows the machine's root.
# Usage: machine_store_test.sh PROVIDER_JAR LIBRARY_DIR QDIE_KEYSTORE
source "$(dirname "$0")/tools_lib.sh"
jar=$1 library_dir=$2 qdie_keystore=$3
if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: only root makes the machine's store and can become another user"
  exit 77
fi
enter_throwaway_profile
# The other user reaches the machine's folder through the profile, as it reaches /var/lib.
chmod 0755 "$profile"
other_home="$profile/other-home"
mkdir "$other_home"
chown 65534:65534 "$other_home"
as_other() {
  HOME="$other_home" setpriv --reuid=65534 --regid=65534 --clear-groups -- "$@"
}

"$qdie_keystore" new-identity --machine --subject "CN=Service" --out service.der >/dev/null
openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=Machine Root" -days 2 -keyout root.key \
  -out root.pem 2>/dev/null
openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=Refused Root" -days 2 -keyout refused.key \
  -out refused.pem 2>/dev/null
thumbprint() { openssl x509 -in "$1" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g'; }

# keytool as root: the machine's Root takes the certificate and lists it.
with_provider keytool -storetype QDIE-ROOT-LOCALMACHINE -importcert -noprompt -alias machine-root \
  -file root.pem >/dev/null || fail "keytool -importcert into QDIE-ROOT-LOCALMACHINE"
roots=$("$qdie_keystore" list --machine --store Root)
grep -q "^$(thumbprint root.pem)  " <<<"$roots" \
  || fail "the machine's Root does not hold what keytool imported: $roots"
listed=$(with_provider keytool -storetype QDIE-ROOT-LOCALMACHINE -list)
grep -q "^Machine Root-" <<<"$listed" || fail "keytool -list of QDIE-ROOT-LOCALMACHINE: $listed"
echo "keytool as root: -importcert and -list with -storetype QDIE-ROOT-LOCALMACHINE"

cat >OtherUser.java <<'EOF'
import com.quendrilax.browser.keystore.provider.QDBrowserProvider;
import java.io.FileInputStream;
import java.security.KeyStore;
import java.security.KeyStoreException;
import java.security.PrivateKey;
import java.security.Security;
import java.security.Signature;
import java.security.SignatureException;
import java.security.cert.CertificateFactory;
import java.util.Collections;

public class OtherUser {
    public static void main(String[] files) throws Exception {
        Security.addProvider(new QDBrowserProvider());
        KeyStore personal = KeyStore.getInstance("QDIE-MY-LOCALMACHINE");
        personal.load(null, null);
        for (String alias : Collections.list(personal.aliases()))
            System.out.println("listed: " + alias + " key entry " + personal.isKeyEntry(alias));
        PrivateKey key = (PrivateKey) personal.getKey(personal.aliases().nextElement(), null);
        Signature signature = Signature.getInstance("SHA256withRSA", "QDIE");
        signature.initSign(key);
        signature.update("a service's message".getBytes());
        try {
            signature.sign();
            System.out.println("signed");
        } catch (SignatureException e) {
            System.out.println("sign refused: " + e.getMessage());
        }
        KeyStore root = KeyStore.getInstance("QDIE-ROOT-LOCALMACHINE");
        root.load(null, null);
        try {
            root.setCertificateEntry("refused", CertificateFactory.getInstance("X.509")
                    .generateCertificate(new FileInputStream(files[0])));
            System.out.println("added");
        } catch (KeyStoreException e) {
            System.out.println("add refused: " + e.getMessage());
        }
        KeyStore usersRoot = KeyStore.getInstance("QDIE-ROOT");
        usersRoot.load(null, null);
        for (String alias : Collections.list(usersRoot.aliases()))
            System.out.println("user's root: " + alias);
    }
}
EOF
before=$("$qdie_keystore" list --machine --store Root)
out=$(as_other java -XX:-UsePerfData -cp "$jar" -Djava.library.path="$library_dir" OtherUser.java \
  refused.pem 2>&1) || fail "the other user's program failed: $out"
after=$("$qdie_keystore" list --machine --store Root)

grep -q "^listed: Service-[0-9a-f]* key entry true$" <<<"$out" || fail "not listed: $out"
grep -q "^sign refused: .*(status [0-9]*, Windows error 0x80070005: access denied)$" <<<"$out" \
  || fail "the machine's key was not refused with access denied: $out"
grep -q "^add refused: .* at CertAddEncodedCertificateToStore (status 24, Windows error 0x80070005: access denied)$" \
  <<<"$out" || fail "the change was not refused with access denied: $out"
[ "$before" = "$after" ] || fail "the machine's Root changed: $before / $after"
grep -q "^user's root: Machine Root-" <<<"$out" || fail "the user's Root misses the machine's: $out"
echo "another user: lists the machine's identity, is refused its key and any change (access denied)"

if out=$(as_other keytool -J-XX:-UsePerfData -J-cp -J"$jar" -J-Djava.library.path="$library_dir" \
    -addprovider QDIE -keystore NONE -storepass unused -storetype QDIE-ROOT-LOCALMACHINE \
    -importcert -noprompt -alias refused -file refused.pem 2>&1); then
  fail "keytool -importcert as another user exited 0: $out"
fi
grep -q "access denied" <<<"$out" || fail "keytool -importcert as another user: $out"
[ "$("$qdie_keystore" list --machine --store Root)" = "$before" ] \
  || fail "the machine's Root changed under keytool"
echo "keytool as another user: -importcert refused with access denied, nothing changed"
