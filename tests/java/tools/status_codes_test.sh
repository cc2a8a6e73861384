#!/usr/bin/env bash
# The status codes are spelled in C++ (diagnostics/status.h) and in Java (the provider's words for
# each in NativeStatus, the names the provider and the tests give some): the same numbers under
# the same names, and words for every code and no other.
# Usage: status_codes_test.sh STATUS_H NATIVE_STATUS_JAVA [OTHER_JAVA...]
set -euo pipefail
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
header=$1 words=$2
shift 2

declare -A codes
while read -r name value; do
  codes[$name]=$value
done < <(sed -n 's/^constexpr uint32_t kStatus\([A-Za-z0-9]*\) = \([0-9]*\);$/\1 \2/p' "$header" \
  | sed 's/\([a-z0-9]\)\([A-Z]\)/\1_\2/g' | tr '[:lower:]' '[:upper:]')
[[ ${#codes[@]} -ge 10 ]] || fail "no status codes read from $header"

for java in "$words" "$@"; do
  while read -r name value; do
    [[ ${codes[$name]-} == "$value" ]] || fail "$java: $name = $value, but $header has ${codes[$name]-no such code}"
  done < <(sed -n 's/.*static final int \([A-Z_]*\) = \([0-9]*\);.*/\1 \2/p' "$java")
done

described=$(sed -n '/OUTCOMES = Map.ofEntries/,/);/s/.*Map.entry(\([0-9]*\),.*/\1/p' "$words" | sort -n | tr '\n' ' ')
defined=$(printf '%s\n' "${codes[@]}" | sort -n | tr '\n' ' ')
[[ $described == "$defined" ]] || fail "$words describes codes $described; $header defines $defined"
echo "status codes: ${#codes[@]}, the same in C++ and Java"
