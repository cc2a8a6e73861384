#!/usr/bin/env bash
# keytool over the QDIE key stores: the personal store's identity listed as a PrivateKeyEntry
# under the same alias in three runs, an EC key of the key storage provider too, the provider found by -addprovider, by -providerclass and
# by a security.provider.N line; a certificate imported into QDIE-ROOT shows in the system
# store (as qdie-keystore lists it) and leaves it again with -delete; a damaged key store fails
# -list with the reason, never lists as empty.
# Usage: keytool_test.sh PROVIDER_JAR LIBRARY_DIR QDIE_KEYSTORE
source "$(dirname "$0")/tools_lib.sh"
jar=$1 library_dir=$2 qdie_keystore=$3
enter_throwaway_profile

"$qdie_keystore" new-identity --subject "CN=Keytool User,O=Quendrilax" >/dev/null
first=$(with_provider keytool -storetype QDIE-MY -list -v)
second=$(keytool -J-Djava.library.path="$library_dir" -providerpath "$jar" \
  -providerclass com.quendrilax.browser.keystore.provider.QDBrowserProvider \
  -keystore NONE -storepass unused -storetype QDIE-MY -list -v)
echo "security.provider.13=QDIE" >providers.security
third=$(keytool -J-cp -J"$jar" -J-Djava.library.path="$library_dir" \
  -J-Djava.security.properties="$profile/providers.security" \
  -keystore NONE -storepass unused -storetype QDIE-MY -list -v)
alias=$(sed -n 's/^Alias name: //p' <<<"$first")
[[ $alias =~ ^Keytool\ User-[0-9a-f]{16}$ ]] || fail "alias '$alias' in: $first"
grep -q "^Entry type: PrivateKeyEntry$" <<<"$first" || fail "no PrivateKeyEntry in: $first"
for later in "$second" "$third"; do
  [[ $(sed -n 's/^Alias name: //p' <<<"$later") == "$alias" ]] || fail "the alias changed: $later"
done
echo "keytool -list -v: $alias, PrivateKeyEntry, in three runs"

"$qdie_keystore" new-identity --subject "CN=Keytool EC" --key ec-p384 >/dev/null
listed=$(with_provider keytool -storetype QDIE-MY -list -v)
ec_entry=$(sed -n '/^Alias name: Keytool EC-/,/^\*\*\*\*/p' <<<"$listed")
grep -q "^Entry type: PrivateKeyEntry$" <<<"$ec_entry" || fail "the EC key is no key entry: $listed"
grep -q "384-bit EC (secp384r1) key" <<<"$ec_entry" || fail "not the P-384 key: $ec_entry"
echo "keytool -list -v: the key storage provider's EC key, PrivateKeyEntry"

openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=Keytool Root" -days 2 -keyout root.key \
  -out root.pem 2>/dev/null
thumbprint=$(openssl x509 -in root.pem -noout -fingerprint -sha1 | sed 's/.*=//; s/://g')
with_provider keytool -storetype QDIE-ROOT -importcert -noprompt -alias any -file root.pem
"$qdie_keystore" list --store Root | grep -q "^$thumbprint  CN=Keytool Root" \
  || fail "qdie-keystore does not list the imported root"
root_alias="Keytool Root-${thumbprint:0:16}"
root_alias=${root_alias,,}
with_provider keytool -storetype QDIE-ROOT -list | grep -qi "^$root_alias, .*trustedCertEntry" \
  || fail "keytool does not list $root_alias"
echo "keytool -importcert: in Root as $root_alias"

with_provider keytool -storetype QDIE-ROOT -delete -alias "$thumbprint"
if "$qdie_keystore" list --store Root | grep -q "$thumbprint"; then
  fail "the root is still in the store after -delete"
fi
echo "keytool -delete (by thumbprint): gone from Root"

db="$profile/.local/share/qdie-keystore/keystore.db"
cp "$db" intact.db
echo "this is not a key store" >"$db"
if out=$(with_provider keytool -storetype QDIE-MY -list 2>&1); then
  fail "keytool -list of a damaged key store exited 0: $out"
fi
grep -q 'the system store "My" could not be read: .*(status 7, Windows error 0x570' <<<"$out" \
  || fail "keytool -list of a damaged key store: $out"
cp intact.db "$db"
echo "keytool -list of a damaged key store: exits non-zero, naming the damage"
