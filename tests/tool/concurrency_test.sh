#!/bin/bash
# Two processes at once: one adds certificates one by one while another lists, and neither
# sees a failure; every certificate is there at the end.
source "$(dirname "$0")/tool_test_lib.sh" "$1"

count=25
for i in $(seq $count); do make_certificate c$i "Concurrent $i"; done

(
    for i in $(seq $count); do
        "$TOOL" add --store Busy c$i.der 2>>adder.err || echo "add $i failed" >>adder.err
    done
) &
adder=$!
lists=0
while kill -0 $adder 2>/dev/null; do
    "$TOOL" list --store Busy >listed.txt 2>>lister.err || echo "list failed" >>lister.err
    "$TOOL" stores >/dev/null 2>>lister.err || echo "stores failed" >>lister.err
    lists=$((lists + 1))
done
wait $adder

[ ! -s adder.err ] || fail "adder: $(cat adder.err)"
[ ! -s lister.err ] || fail "lister: $(cat lister.err)"
[ "$lists" -gt 1 ] || fail "the lister ran only $lists time(s) beside the adder"
run_ok "final list" list --store Busy
expect_equal "certificates at the end" "$(wc -l <"$WORK/out")" $count
for i in $(seq $count); do
    grep -q "^$(openssl_thumbprint c$i.der)  CN=Concurrent $i  no key\$" "$WORK/out" ||
        fail "certificate $i missing"
done

finish
