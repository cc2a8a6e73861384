#!/usr/bin/env bash
# Builds the library and its tools, then makes a throwaway identity in a temporary profile and
# lists it, leaving nothing behind.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$(nproc)" --target qdie-keystore >/dev/null
tool="$PWD/build/linux/tools/qdie-keystore/qdie-keystore"
profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
export HOME="$profile"
unset XDG_DATA_HOME userprofile
echo "== a throwaway identity in $profile"
"$tool" new-identity --subject "CN=Demo User" --out "$profile/demo.der"
echo "== the personal store"
"$tool" list
echo "== its certificate, as openssl sees it"
openssl x509 -inform DER -in "$profile/demo.der" -noout -subject -fingerprint -sha1
