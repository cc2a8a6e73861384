#!/usr/bin/env bash
# Builds the fuzz preset, replays every seed corpus, then fuzzes each target for a bounded time
# with one worker. Stops at the first crash, leak, sanitizer report or timeout; libFuzzer leaves
# the input that did it in build/fuzz/findings/.
#   scripts/fuzz.sh [seconds per target, default 60]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
targets=(certificate_store damaged_keystore log_message pkcs12_import)

log="$PWD/build/fuzz-build.log"
mkdir -p build
if ! { cmake --preset fuzz && cmake --build --preset fuzz -j 2; } >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "the fuzz preset did not build" >&2
    exit 1
fi
echo "== fuzz corpus replay"
ctest --preset fuzz

findings="$PWD/build/fuzz/findings"
mkdir -p "$findings"
# Scratch profiles and key stores live in memory when the machine has it.
[ -d /dev/shm ] && [ -w /dev/shm ] && export TMPDIR=/dev/shm
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for target in "${targets[@]}"; do
    echo "== fuzzing $target for ${seconds}s"
    # New inputs go to a scratch folder; the committed corpus is only read.
    scratch=$(mktemp -d)
    status=0
    "build/fuzz/fuzz/${target}_fuzzer" "$scratch" "fuzz/corpus/$target" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$findings/${target}-" 2>"build/fuzz/${target}.log" || status=$?
    grep -E "^stat::(number_of_executed_units|new_units_added)|Done [0-9]+ runs" \
        "build/fuzz/${target}.log" || true
    echo "corpus: $(ls "fuzz/corpus/$target" | wc -l) seeds, $(ls "$scratch" | wc -l) new inputs"
    rm -rf "$scratch"
    if [ "$status" -ne 0 ]; then
        tail -n 60 "build/fuzz/${target}.log"
        echo "fuzzing $target failed; reproducer in $findings" >&2
        exit 1
    fi
done
