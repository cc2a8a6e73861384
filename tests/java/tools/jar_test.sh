#!/usr/bin/env bash
# The one jar of scripts/package.sh: its entries and manifest; its DLL byte for byte the windows
# build's, exporting exactly the ten natives; and the jar alone, in fresh JVMs with an empty
# java.library.path (on the class path and on the module path), loading its Linux library and
# signing and decrypting through the provider, leaving no extracted copy behind. The system
# property qdie.library.file comes first; a jar without the natives fails with an error naming
# what was tried.
# Usage: jar_test.sh JAR WINDOWS_DLL BUILD_DIR
source "$(dirname "$0")/tools_lib.sh"
jar=$(realpath "$1") windows_dll=$(realpath "$2") build=$(realpath "$3")
enter_throwaway_profile
work="$profile/jar"
mkdir "$work"

entries=$(jar --list --file "$jar")
for entry in module-info.class META-INF/services/java.security.Provider \
    com/quendrilax/browser/keystore/provider/QDBrowserProvider.class \
    META-INF/native/linux-x86_64/libQDIEKeystore.so META-INF/native/linux-x86_64/libQDIEKeystore.so.sha256 \
    META-INF/native/windows-x86_64/QDIEKeystore.dll META-INF/native/windows-x86_64/QDIEKeystore.dll.sha256; do
  grep -qxF "$entry" <<<"$entries" || fail "$jar has no $entry"
done
(cd "$work" && jar --extract --file "$jar" META-INF/MANIFEST.MF META-INF/native)
grep -q "^Enable-Native-Access: ALL-UNNAMED" "$work/META-INF/MANIFEST.MF" \
  || fail "the manifest lacks Enable-Native-Access: $(cat "$work/META-INF/MANIFEST.MF")"
echo "entries and manifest: as they should be"

cmp "$work/META-INF/native/windows-x86_64/QDIEKeystore.dll" "$windows_dll" \
  || fail "the jar's DLL differs from $windows_dll"
exports=$(x86_64-w64-mingw32-objdump -p "$work/META-INF/native/windows-x86_64/QDIEKeystore.dll" \
  | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^\t\[ *[0-9]*\] //p' | sort)
expected=$(printf '%s\n' \
  Java_com_quendrilax_browser_cipher_RSACipher_decrypt \
  Java_com_quendrilax_browser_cipher_RSACipher_decryptWithPassword \
  Java_com_quendrilax_browser_keystore_QDIECAKeyStore_addCertificateInIESystemStore \
  Java_com_quendrilax_browser_keystore_QDIECAKeyStore_deleteCertificateInIESystemStore \
  Java_com_quendrilax_browser_keystore_QDIECAKeyStore_getCertificatesInIESystemStore \
  Java_com_quendrilax_browser_keystore_provider_signature_BrowserSignature_getError \
  Java_com_quendrilax_browser_keystore_provider_signature_BrowserSignature_getLastError \
  Java_com_quendrilax_browser_keystore_provider_signature_BrowserSignature_sign \
  Java_com_quendrilax_browser_keystore_provider_signature_BrowserSignature_signDataWithPassword \
  Java_com_quendrilax_browser_keystore_provider_signature_BrowserSignature_signWithPassword | sort)
[[ $exports == "$expected" ]] || fail "the jar's DLL exports: $exports"
echo "the jar's DLL: identical to $windows_dll, exports the ten natives ($(wc -l <<<"$exports") names)"

# One identity in the profile, and a private temporary folder for the extraction.
mkdir "$profile/tmp"
"$build/tools/qdie-keystore/qdie-keystore" new-identity --subject "CN=Jar Alone" \
  --out "$profile/identity.der" >/dev/null
alone() {
  java -Djava.library.path= -Djava.io.tmpdir="$profile/tmp" "$@" "$profile/identity.der"
}
demo="$build/java/qdie-keystore-demo.jar"
out=$(alone -cp "$demo:$jar" com.quendrilax.demo.KeystoreDemo) || fail "on the class path: $out"
grep -q "SunRsaSign's verifier accepts it" <<<"$out" || fail "no verified signature: $out"
out=$(alone --module-path "$jar" --add-modules com.quendrilax.browser -cp "$demo" \
  com.quendrilax.demo.KeystoreDemo) || fail "on the module path: $out"
grep -q "the same text" <<<"$out" || fail "no decryption: $out"
[[ -z $(ls -A "$profile/tmp") ]] || fail "extracted copies left behind: $(ls -A "$profile/tmp")"
echo "the jar alone, class path and module path: signs, decrypts, leaves nothing in java.io.tmpdir"

# The system property names the file to load, whatever else there is.
out=$(alone -Dqdie.library.file="$build/src/libQDIEKeystore.so" \
  -cp "$demo:$build/java/QDIEKeystore.jar" com.quendrilax.demo.KeystoreDemo) \
  || fail "with qdie.library.file: $out"
if out=$(alone -Dqdie.library.file="$profile/missing.so" -cp "$demo:$jar" \
    com.quendrilax.demo.KeystoreDemo 2>&1); then
  fail "a missing qdie.library.file was not reported: $out"
fi
grep -q "tried: $profile/missing.so: " <<<"$out" || fail "unclear loader error: $out"
echo "qdie.library.file: loads the file it names, and names it when it cannot"

if out=$(alone -cp "$demo:$build/java/QDIEKeystore.jar" com.quendrilax.demo.KeystoreDemo 2>&1); then
  fail "a jar without natives loaded a library: $out"
fi
grep -q "UnsatisfiedLinkError: the native library QDIEKeystore could not be loaded; tried: java.library.path (empty): no libQDIEKeystore.so; the jar: no META-INF/native/linux-x86_64/libQDIEKeystore.so" <<<"$out" \
  || fail "unclear loader error: $out"
echo "a jar without natives: $(grep -o 'UnsatisfiedLinkError.*' <<<"$out" | head -1)"
