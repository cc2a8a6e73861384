#!/bin/bash
# add, list, export, delete and stores: certificates go in and come out byte for byte; what
# cannot be done changes nothing; store names Windows would refuse are refused.
source "$(dirname "$0")/tool_test_lib.sh" "$1"

make_certificate one "First"
make_certificate two "Second"
one=$(openssl_thumbprint one.der)
two=$(openssl_thumbprint two.der)

run_ok "stores of a new profile" stores
[ ! -s "$WORK/out" ] || fail "a new profile has stores: $(cat "$WORK/out")"
run_ok "add one" add --store Root one.der
run_ok "add two" add --store Root two.der
run_ok "add one again" add --store root one.der
run_ok "list Root" list --store Root
expect_equal "Root lines, in insertion order" "$(cat "$WORK/out")" "$one  CN=First  no key
$two  CN=Second  no key"
run_ok "stores" stores
expect_equal "stores" "$(cat "$WORK/out")" "Root"

# The machine's roots Root shows beneath the user's: a bundle's count, or why there are none.
export QDIE_SYSTEM_ROOTS=$WORK/system-roots.pem
run_ok "machine roots, no bundle" machine-roots
expect_equal "no bundle" "$(cat "$WORK/out")" \
  "no roots of the machine: $QDIE_SYSTEM_ROOTS: No such file or directory"
openssl x509 -inform DER -in two.der >"$QDIE_SYSTEM_ROOTS"
echo "not a certificate" >>"$QDIE_SYSTEM_ROOTS"
run_ok "machine roots" machine-roots
expect_equal "a bundle of one" "$(cat "$WORK/out")" "1 root of the machine, from $QDIE_SYSTEM_ROOTS"
unset QDIE_SYSTEM_ROOTS

# Export gives the same bytes back, under either case of thumbprint and with openssl's colons.
run_ok "export" export --store ROOT --thumbprint "$one" --out back.der
cmp -s one.der back.der || fail "exported certificate differs from the one added"
colons=$(openssl x509 -inform DER -in two.der -noout -fingerprint -sha1 | sed 's/.*=//' | tr 'A-F' 'a-f')
run_ok "export by openssl's fingerprint" export --store Root --thumbprint "$colons" --out back.der
cmp -s two.der back.der || fail "export by fingerprint gave another certificate"

# Malformed input and unknown thumbprints.
unknown=0000000000000000000000000000000000000000
head -c 200 one.der >cut.der
openssl x509 -inform DER -in one.der -out one.pem
cat one.der one.der >twice.der
refused 1 "add truncated DER" add --store Root cut.der
refused 1 "add PEM" add --store Root one.pem
refused 1 "add DER with trailing bytes" add --store Root twice.der
refused 1 "add missing file" add --store Root nothing.der
refused 1 "add empty file" add --store Root /dev/null
cp back.der keep.der
refused 1 "export unknown" export --store Root --thumbprint "$unknown" --out back.der
cmp -s back.der keep.der || fail "a failed export touched its --out file"
refused 1 "export from a missing store" export --store Nowhere --thumbprint "$one" --out x.der
[ ! -e x.der ] || fail "a failed export made its --out file"
refused 1 "export short thumbprint" export --store Root --thumbprint "${one:0:38}" --out x.der
refused 1 "export to a missing folder" export --store Root --thumbprint "$one" --out "$WORK/no/x.der"
refused 1 "delete unknown" delete --store Root --thumbprint "$unknown"
refused 1 "delete not hexadecimal" delete --store Root --thumbprint "${one:0:39}G"
refused 2 "add without store" add one.der
refused 2 "delete without thumbprint" delete --store Root
refused 2 "export without --out" export --store Root --thumbprint "$one"

run_ok "delete" delete --store Root --thumbprint "$one"
run_ok "list after delete" list --store Root
expect_equal "after delete" "$(cat "$WORK/out")" "$two  CN=Second  no key"
refused 1 "delete twice" delete --store Root --thumbprint "$one"

# Store names: 1 to 255 printable characters without '/' or '\'.
long255=$(printf 'S%.0s' $(seq 255))
run_ok "255 characters" add --store "$long255" one.der
run_ok "non-ASCII name" add --store "Zertifikate Ä" one.der
run_ok "stores" stores
expect_equal "stores" "$(cat "$WORK/out")" "Root
$long255
Zertifikate Ä"
for name in "a/b" 'a\b' "$(printf 'a\tb')" "$(printf 'line\nbreak')" "$(printf 'del\177')" "" "S$long255"; do
    refused 1 "store name '$name'" add --store "$name" one.der
    refused 1 "list of store '$name'" list --store "$name"
done
# The refused name shows escaped, so it cannot forge a second line.
refused 1 "newline in a name" list --store "$(printf 'x\nqdie-keystore: forged')"
grep -q 'x\\x0Aqdie-keystore: forged' "$WORK/err" || fail "name not escaped: $(cat "$WORK/err")"

finish
