#!/usr/bin/env bash
# Every test, what CI runs: configures, builds and runs every test of the linux and linux-asan
# presets (the crash-safety test among them), replays the fuzz corpora and fuzzes each target for
# a minute, then cross-builds the windows preset and runs its tests under Wine; last, packages the
# one jar of both platforms, checks it, and has a Maven project depend on it. Stops at the first failure.
#   scripts/test.sh --quick   the development loop: the linux preset's unit, conformance and Java
#                             suites (ctest labels), without the slow ones; a few minutes
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
case "${1:-}" in
  "") ;;
  --quick)
    cmake --preset linux
    cmake --build --preset linux -j "$jobs"
    ctest --preset linux -j "$jobs" -L '^(unit|conformance|java)$' -LE '^slow$'
    exit 0 ;;
  *)
    echo "usage: scripts/test.sh [--quick]" >&2
    exit 2 ;;
esac
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
bash tests/java/tools/maven_consumer_test.sh "$jar"
