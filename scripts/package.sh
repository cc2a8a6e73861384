#!/usr/bin/env bash
# Builds the linux and windows presets and assembles the one jar for both platforms:
# build/package/qdie-keystore-<version>.jar holds the Java classes with module-info, the
# provider's service entry and its Maven coordinates (META-INF/maven/), and the two native
# libraries of each platform (QDIEKeystore, the ten natives; QDIEProvider, the provider's) under
# META-INF/native/, each with its SHA-256, which the loader checks after extracting it. The DLLs
# are the windows build's, byte for byte; the Linux libraries go in without their debugging
# sections. Beside it: the -sources.jar, the -javadoc.jar of the public API, and the .pom, as a
# Maven repository keeps them (docs/maven.md installs the three jars).
# Prints the jar's path. Run after scripts/setup.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
log="$PWD/build/package.log"
mkdir -p build
: >"$log"
# Standard output carries the jar's path alone: what went wrong goes to standard error.
build_or_fail() {
  local what=$1
  shift
  if ! "$@" >>"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "$what did not build" >&2
    exit 1
  fi
}
for preset in linux windows; do
  build_or_fail "the $preset preset" cmake --preset "$preset"
  build_or_fail "the $preset preset" cmake --build --preset "$preset" -j 2 --target QDIEKeystore QDIEProvider
done
build_or_fail "the Java classes" cmake --build --preset linux -j 2 --target qdie_java_classes \
  qdie_java_sources_jar qdie_java_javadoc_jar

# The coordinates the jar carries, which CMake wrote from the project's version.
maven=build/linux/java/maven
artifact=$(sed -n "s/^artifactId=//p" "$maven/pom.properties")
version=$(sed -n "s/^version=//p" "$maven/pom.properties")
out="$PWD/build/package"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$out" "$stage/META-INF/native/linux-x86_64" "$stage/META-INF/native/windows-x86_64"
for library in QDIEKeystore QDIEProvider; do
  strip --strip-debug -o "$stage/META-INF/native/linux-x86_64/lib$library.so" \
    "build/linux/src/lib$library.so"
  cp "build/windows/src/$library.dll" "$stage/META-INF/native/windows-x86_64/"
done
for library in "$stage"/META-INF/native/*/*; do
  sha256sum "$library" | cut -d' ' -f1 >"$library.sha256"
done

jar="$out/$artifact-$version.jar"
cp build/linux/java/QDIEKeystore.jar "$jar"
jar --update --file "$jar" -C "$stage" META-INF/native
cp build/linux/java/QDIEKeystore-sources.jar "$out/$artifact-$version-sources.jar"
cp build/linux/java/QDIEKeystore-javadoc.jar "$out/$artifact-$version-javadoc.jar"
cp "$maven/pom.xml" "$out/$artifact-$version.pom"
echo "$jar"
