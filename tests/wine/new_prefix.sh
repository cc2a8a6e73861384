#!/bin/sh
# A fresh Wine prefix for one run of the Windows suites, so that nothing an earlier run left in
# its registry (certificates, key containers) is seen. Usage: new_prefix.sh WINE, with WINEPREFIX set.
set -eu
wine=$1
wineserver="$(dirname "$wine")/wineserver"
# A server still serving the old prefix would hand its registry to the new one.
# It writes that registry as it exits, so the prefix goes only once it is gone.
if [ -d "$WINEPREFIX" ]; then
  "$wineserver" -k 2>/dev/null || true
  "$wineserver" -w 2>/dev/null || true
fi
rm -rf "$WINEPREFIX"
"$wine" wineboot --init
# wineboot returns before the server has written the new registry; wait for it to settle.
"$wineserver" -w
echo "Wine prefix ready: $WINEPREFIX ($("$wine" --version))"
