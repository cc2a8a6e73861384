# Shared by the tests of this folder: failing with a message, a throwaway profile, and keytool or
# jarsigner run with the provider's jar ($jar, and the library from $library_dir).
set -euo pipefail

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

source "$(dirname "${BASH_SOURCE[0]}")/../../../scripts/throwaway_profile.sh"

# Moves the script into a new profile folder, $profile, removed when the script exits.
enter_throwaway_profile() {
  make_throwaway_profile
  cd "$profile"
}

# keytool or jarsigner with the QDIE provider found through ServiceLoader; no key store file.
with_provider() {
  local tool=$1
  shift
  "$tool" -J-cp -J"$jar" -J-Djava.library.path="$library_dir" -addprovider QDIE \
    -keystore NONE -storepass unused "$@"
}
