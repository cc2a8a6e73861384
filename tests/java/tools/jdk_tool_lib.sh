# Shared by the keytool and jarsigner tests: a throwaway profile with one identity, and the JDK
# tool run with the provider's jar on its class path.
# Sourced with: JAR LIBRARY_DIR KEYSTORE_TOOL
set -euo pipefail
jar=$1 library_dir=$2 qdie_keystore=$3

profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
# The library and the key store take the profile from `userprofile` in any spelling, else HOME.
for name in $(compgen -e); do
  if [[ ${name,,} == userprofile ]]; then unset "$name"; fi
done
unset XDG_DATA_HOME
export HOME="$profile"
cd "$profile"

# keytool or jarsigner with the QDIE provider found through ServiceLoader; no key store file.
with_provider() {
  local tool=$1
  shift
  "$tool" -J-cp -J"$jar" -J-Djava.library.path="$library_dir" -addprovider QDIE \
    -keystore NONE -storepass unused "$@"
}

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
