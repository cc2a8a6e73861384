#!/usr/bin/env bash
# Configures, builds and runs every test of the linux and linux-asan presets (the crash-safety
# test among them), replays the fuzz corpora and fuzzes each target for a minute, then
# cross-builds the windows preset and runs its tests under Wine; last, packages the one jar of
# both platforms and checks it. Stops at the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
for preset in linux linux-asan; do
  echo "== $preset"
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done
echo "== fuzz"
bash scripts/fuzz.sh 60
echo "== windows"
cmake --preset windows
cmake --build --preset windows -j "$jobs"
ctest --preset windows
echo "== package"
jar=$(bash scripts/package.sh)
bash tests/java/tools/jar_test.sh "$jar" build/windows/src build/linux
