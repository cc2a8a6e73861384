#!/usr/bin/env bash
# jarsigner signs a jar with a key of QDIE-MY, with PKCS #1 v1.5 and with RSASSA-PSS, and with an
# EC key of the key storage provider with ECDSA; jarsigner alone, with the JDK's providers only,
# verifies each.
# Usage: jarsigner_test.sh PROVIDER_JAR LIBRARY_DIR QDIE_KEYSTORE
source "$(dirname "$0")/tools_lib.sh"
jar=$1 library_dir=$2 qdie_keystore=$3
enter_throwaway_profile

"$qdie_keystore" new-identity --subject "CN=Jar Signer" --out signer.der >/dev/null
thumbprint=$(openssl x509 -inform DER -in signer.der -noout -fingerprint -sha1 | sed 's/.*=//; s/://g')
echo "release notes" >notes.txt
jar cf unsigned.jar notes.txt

with_provider jarsigner -storetype QDIE-MY -signedjar signed.jar unsigned.jar "$thumbprint"
verdict=$(jarsigner -verify -verbose -certs signed.jar)
grep -q "^jar verified\.$" <<<"$verdict" || fail "jarsigner -verify: $verdict"
grep -q "CN=Jar Signer" <<<"$verdict" || fail "not signed by the identity: $verdict"
echo "jarsigner -verify: jar verified, signed by CN=Jar Signer"

with_provider jarsigner -storetype QDIE-MY -sigalg RSASSA-PSS -signedjar pss.jar unsigned.jar \
  "$thumbprint" >/dev/null
verdict=$(jarsigner -verify -verbose -certs pss.jar)
grep -q "^jar verified\.$" <<<"$verdict" || fail "jarsigner -verify of the PSS jar: $verdict"
grep -q "Signature algorithm: RSASSA-PSS" <<<"$verdict" || fail "not signed with PSS: $verdict"
echo "jarsigner -sigalg RSASSA-PSS: jar verified"

# An EC key of the key storage provider, through CNG.
"$qdie_keystore" new-identity --subject "CN=Jar Signer EC" --key ec-p256 --out ec.der >/dev/null
ec_thumbprint=$(openssl x509 -inform DER -in ec.der -noout -fingerprint -sha1 | sed 's/.*=//; s/://g')
with_provider jarsigner -storetype QDIE-MY -sigalg SHA256withECDSA -signedjar ec.jar unsigned.jar \
  "$ec_thumbprint" >/dev/null
verdict=$(jarsigner -verify -verbose -certs ec.jar)
grep -q "^jar verified\.$" <<<"$verdict" || fail "jarsigner -verify of the ECDSA jar: $verdict"
grep -q "Signature algorithm: SHA256withECDSA" <<<"$verdict" || fail "not signed with ECDSA: $verdict"
grep -q "CN=Jar Signer EC" <<<"$verdict" || fail "not signed by the EC identity: $verdict"
echo "jarsigner -sigalg SHA256withECDSA: jar verified"
