#!/usr/bin/env bash
# The main job: builds everything it runs (libQDIEKeystore, libQDIEProvider, their Java classes,
# the demo and qdie-keystore); then, in a throwaway profile, makes an RSA identity and an EC one
# (its key in the key storage provider) and has Java, through the QDIE provider, sign with their
# keys (PKCS #1 v1.5, RSASSA-PSS and ECDSA, each checked by the JDK's own verifiers), decrypt a
# ciphertext SunJCE made (Cipher) and list the personal store (KeyStore); and keytool lists it.
# Nothing is left behind but the build.
set -euo pipefail
cd "$(dirname "$0")/.."
build="$PWD/build/linux"

echo "== building (cmake preset linux)"
cmake --preset linux >/dev/null
cmake --build --preset linux -j 2 --target QDIEKeystore QDIEProvider qdie-keystore qdie_keystore_demo >/dev/null

source scripts/throwaway_profile.sh
make_throwaway_profile
# The library logs only while this folder exists.
mkdir "$profile/.quendrilax"

echo "== a throwaway profile in $profile, with two new identities in its personal store"
"$build/tools/qdie-keystore/qdie-keystore" new-identity --subject "CN=Demo User,O=Quendrilax" \
  --out "$profile/demo-rsa.der"
"$build/tools/qdie-keystore/qdie-keystore" new-identity --key ec-p256 \
  --subject "CN=Demo EC User,O=Quendrilax" --out "$profile/demo-ec.der"

echo "== Java's security APIs, through the QDIE provider and libQDIEProvider"
java -Djava.library.path="$build/src" \
  -cp "$build/java/qdie-keystore-demo.jar:$build/java/QDIEKeystore.jar" \
  com.quendrilax.demo.KeystoreDemo "$profile/demo-rsa.der" "$profile/demo-ec.der"

echo "== keytool -addprovider QDIE -storetype QDIE-MY -keystore NONE -list"
listing=$(keytool -J-cp -J"$build/java/QDIEKeystore.jar" -J-Djava.library.path="$build/src" \
  -addprovider QDIE -storetype QDIE-MY -keystore NONE -storepass unused -list)
echo "$listing"
if [[ $(grep -c "PrivateKeyEntry" <<<"$listing") -ne 2 ]]; then
  echo "keytool does not list both identities as key entries" >&2
  exit 1
fi

echo "== the library's log, $profile/.quendrilax/jni.log (the decryption)"
sed -n '/########## Decrypt/,/Decrypt.*finished/p' "$profile/.quendrilax/jni.log"
echo "== done; the throwaway profile is removed"
