#!/usr/bin/env bash
# The main job: builds libQDIEKeystore, its Java classes, the demo and qdie-keystore; then, in a
# throwaway profile, makes an identity and has Java, through the QDIE provider, sign with its key
# (Signature, checked by the JDK's own verifier), decrypt a ciphertext of the JDK's (Cipher) and
# list the personal store (KeyStore), and keytool list it. Nothing is left behind but the build.
set -euo pipefail
cd "$(dirname "$0")/.."
build="$PWD/build/linux"

echo "== building (cmake preset linux)"
cmake --preset linux >/dev/null
cmake --build --preset linux -j 2 --target QDIEKeystore qdie-keystore qdie_keystore_demo >/dev/null

source scripts/throwaway_profile.sh
make_throwaway_profile
# The library logs only while this folder exists.
mkdir "$profile/.quendrilax"

echo "== a throwaway profile in $profile, with a new identity in its personal store"
"$build/tools/qdie-keystore/qdie-keystore" new-identity --subject "CN=Demo User,O=Quendrilax" \
  --out "$profile/demo.der"

echo "== Java's security APIs, through the QDIE provider and libQDIEKeystore"
java -Djava.library.path="$build/src" \
  -cp "$build/java/qdie-keystore-demo.jar:$build/java/QDIEKeystore.jar" \
  com.quendrilax.demo.KeystoreDemo "$profile/demo.der"

echo "== keytool -addprovider QDIE -storetype QDIE-MY -keystore NONE -list"
keytool -J-cp -J"$build/java/QDIEKeystore.jar" -J-Djava.library.path="$build/src" \
  -addprovider QDIE -storetype QDIE-MY -keystore NONE -storepass unused -list

echo "== the library's log, $profile/.quendrilax/jni.log (the decryption)"
sed -n '/########## Decrypt/,$p' "$profile/.quendrilax/jni.log"
echo "== done; the throwaway profile is removed"
