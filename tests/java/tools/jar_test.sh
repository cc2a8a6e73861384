#!/usr/bin/env bash
# The one jar of scripts/package.sh: its entries and manifest; its version and Maven coordinates,
# and the sources and javadoc jars beside it; its DLLs byte for byte the windows
# build's, each exporting exactly its own natives (QDIEKeystore.dll the ten); and the jar alone,
# in fresh JVMs with an empty java.library.path (on the class path and on the module path),
# loading its Linux library and signing and decrypting through the provider, leaving no
# extracted copy behind. The system properties qdie.library.file and qdie.provider.library.file
# come first; a jar without the natives fails with an error naming what was tried.
# Usage: jar_test.sh JAR WINDOWS_DLL_FOLDER BUILD_DIR
source "$(dirname "$0")/tools_lib.sh"
jar=$(realpath "$1") windows_dlls=$(realpath "$2") build=$(realpath "$3")
enter_throwaway_profile
work="$profile/jar"
mkdir "$work"

entries=$(jar --list --file "$jar")
for entry in module-info.class META-INF/services/java.security.Provider \
    META-INF/maven/com.quendrilax/qdie-keystore/pom.xml META-INF/maven/com.quendrilax/qdie-keystore/pom.properties \
    com/quendrilax/browser/keystore/provider/QDBrowserProvider.class \
    META-INF/native/linux-x86_64/libQDIEKeystore.so META-INF/native/linux-x86_64/libQDIEKeystore.so.sha256 \
    META-INF/native/windows-x86_64/QDIEKeystore.dll META-INF/native/windows-x86_64/QDIEKeystore.dll.sha256 \
    META-INF/native/linux-x86_64/libQDIEProvider.so META-INF/native/linux-x86_64/libQDIEProvider.so.sha256 \
    META-INF/native/windows-x86_64/QDIEProvider.dll META-INF/native/windows-x86_64/QDIEProvider.dll.sha256; do
  grep -qxF "$entry" <<<"$entries" || fail "$jar has no $entry"
done
(cd "$work" && jar --extract --file "$jar" META-INF/MANIFEST.MF META-INF/native)
grep -q "^Enable-Native-Access: ALL-UNNAMED" "$work/META-INF/MANIFEST.MF" \
  || fail "the manifest lacks Enable-Native-Access: $(cat "$work/META-INF/MANIFEST.MF")"
echo "entries and manifest: as they should be"

# One version wherever the jar and its companions carry it: the name, the manifest, the Maven
# coordinates, the provider's own; and the sources and javadoc jars beside it.
coordinates=META-INF/maven/com.quendrilax/qdie-keystore
(cd "$work" && jar --extract --file "$jar" "$coordinates/pom.xml" "$coordinates/pom.properties")
version=$(sed -n 's/^version=//p' "$work/$coordinates/pom.properties")
[[ $(basename "$jar") == "qdie-keystore-$version.jar" ]] || fail "$jar is not named for version $version"
tr -d '\r' <"$work/META-INF/MANIFEST.MF" | grep -qx "Implementation-Version: $version" \
  || fail "the manifest's version is not $version: $(cat "$work/META-INF/MANIFEST.MF")"
grep -q "<version>$version</version>" "$work/$coordinates/pom.xml" || fail "the pom is not of $version"
cmp "$work/$coordinates/pom.xml" "${jar%.jar}.pom" || fail "the .pom beside the jar is not the jar's"
printf '%s\n' 'public class ProviderVersion {' \
  '    public static void main(String[] args) {' \
  '        System.out.println(new com.quendrilax.browser.keystore.provider.QDBrowserProvider().getVersionStr());' \
  '    }' '}' >"$work/ProviderVersion.java"
provider_version=$(java -cp "$jar" "$work/ProviderVersion.java") || fail "no provider: $provider_version"
[[ $provider_version == "$version" ]] || fail "the provider says version $provider_version, the jar $version"
jar --list --file "${jar%.jar}-sources.jar" \
  | grep -qx com/quendrilax/browser/keystore/provider/QDBrowserProvider.java \
  || fail "the sources jar lacks the provider"
jar --list --file "${jar%.jar}-javadoc.jar" \
  | grep -qx com/quendrilax/browser/keystore/provider/QDBrowserProvider.html \
  || fail "the javadoc jar lacks the provider"
echo "version $version: the jar's name, manifest, Maven coordinates and provider agree; sources and javadoc beside it"

# Each DLL of the jar is the windows build's and exports its own natives, and nothing else.
dll_exports() {
  x86_64-w64-mingw32-objdump -p "$1" \
    | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^\t\[ *[0-9]*\] //p' | sort
}
check_dll() {
  local dll=$1
  shift
  cmp "$work/META-INF/native/windows-x86_64/$dll" "$windows_dlls/$dll" \
    || fail "the jar's $dll differs from $windows_dlls/$dll"
  local exports expected
  exports=$(dll_exports "$work/META-INF/native/windows-x86_64/$dll")
  expected=$(printf '%s\n' "$@" | sort)
  [[ $exports == "$expected" ]] || fail "the jar's $dll exports: $exports"
  echo "the jar's $dll: identical to the build's, exports its $# natives"
}
check_dll QDIEKeystore.dll \
  Java_com_quendrilax_browser_cipher_RSACipher_decrypt \
  Java_com_quendrilax_browser_cipher_RSACipher_decryptWithPassword \
  Java_com_quendrilax_browser_keystore_QDIECAKeyStore_addCertificateInIESystemStore \
  Java_com_quendrilax_browser_keystore_QDIECAKeyStore_deleteCertificateInIESystemStore \
  Java_com_quendrilax_browser_keystore_QDIECAKeyStore_getCertificatesInIESystemStore \
  Java_com_quendrilax_browser_keystore_provider_signature_BrowserSignature_getError \
  Java_com_quendrilax_browser_keystore_provider_signature_BrowserSignature_getLastError \
  Java_com_quendrilax_browser_keystore_provider_signature_BrowserSignature_sign \
  Java_com_quendrilax_browser_keystore_provider_signature_BrowserSignature_signDataWithPassword \
  Java_com_quendrilax_browser_keystore_provider_signature_BrowserSignature_signWithPassword
check_dll QDIEProvider.dll \
  Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_addCertificate \
  Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_bindCertificate \
  Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_deleteKeyEntry \
  Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_generateKey \
  Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_installKeyEntry \
  Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_newContainerKeyHandle \
  Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_decrypt \
  Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_decryptCng \
  Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_deleteCertificate \
  Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_freeKeyHandle \
  Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_listStore \
  Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_newKeyHandle \
  Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_rawRsa \
  Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_signCng \
  Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_signHash
# And each Linux library exports only the natives of its own.
for library in QDIEKeystore QDIEProvider; do
  others=$(nm -D --defined-only "$work/META-INF/native/linux-x86_64/lib$library.so" \
    | awk '$2 == "T" {print $3}' | grep -v '^Java_' || true)
  [[ -z $others ]] || fail "lib$library.so exports more than its natives: $others"
done
[[ $(nm -D --defined-only "$work/META-INF/native/linux-x86_64/libQDIEProvider.so" | grep -c ' T Java_') -eq 15 ]] \
  || fail "libQDIEProvider.so does not export its fifteen natives"

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

# The system properties name the files to load, whatever else there is.
out=$(alone -Dqdie.library.file="$build/src/libQDIEKeystore.so" \
  -Dqdie.provider.library.file="$build/src/libQDIEProvider.so" \
  -cp "$demo:$build/java/QDIEKeystore.jar" com.quendrilax.demo.KeystoreDemo) \
  || fail "with qdie.library.file and qdie.provider.library.file: $out"
if out=$(alone -Dqdie.provider.library.file="$profile/missing.so" -cp "$demo:$jar" \
    com.quendrilax.demo.KeystoreDemo 2>&1); then
  fail "a missing qdie.provider.library.file was not reported: $out"
fi
grep -q "tried: $profile/missing.so: " <<<"$out" || fail "unclear loader error: $out"
echo "qdie.library.file, qdie.provider.library.file: load the files they name, and name them when they cannot"

if out=$(alone -cp "$demo:$build/java/QDIEKeystore.jar" com.quendrilax.demo.KeystoreDemo 2>&1); then
  fail "a jar without natives loaded a library: $out"
fi
grep -q "UnsatisfiedLinkError: the native library QDIEProvider could not be loaded; tried: java.library.path (empty): no libQDIEProvider.so; the jar: no META-INF/native/linux-x86_64/libQDIEProvider.so" <<<"$out" \
  || fail "unclear loader error: $out"
echo "a jar without natives: $(grep -o 'UnsatisfiedLinkError.*' <<<"$out" | head -1)"
