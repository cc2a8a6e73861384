#!/bin/bash
# containers and delete-container: every key container with the certificates bound to it; a
# container still bound is deleted only when forced; delete says when it leaves a container
# without certificates.
source "$(dirname "$0")/tool_test_lib.sh" "$1"

dss="Microsoft Base DSS and Diffie-Hellman Cryptographic Provider"
run_ok "rsa identity" new-identity --subject "CN=Alice" --key rsa-1024 --container alice-box --out alice.der
alice=$(openssl_thumbprint alice.der)
run_ok "dsa identity" new-identity --subject "CN=Dora" --key dsa-1024 --container "Dora Box" --pin 1234 \
    --store Signing --out dora.der
dora=$(openssl_thumbprint dora.der)
# A provider the key store does not know may reach a container of either family.
run_ok "unknown provider" new-identity --subject "CN=Lost" --key rsa-1024 --container lost \
    --provider "Contoso Vanished Provider" --store Legacy --out lost.der
lost=$(openssl_thumbprint lost.der)
# A copy added without a key binding is bound to nothing.
run_ok "copy without binding" add --store Copies alice.der

run_ok "containers" containers
expect_equal "containers" "$(cat "$WORK/out")" "container=alice-box family=RSA keys=exchange pin=no certificates=1
    My  $alice  CN=Alice
container=\"Dora Box\" family=DSS keys=signature pin=yes certificates=1
    Signing  $dora  CN=Dora
container=lost family=RSA keys=exchange pin=no certificates=1
    Legacy  $lost  CN=Lost"

# Bound containers stay unless forced; names ignore case; the family is the provider's.
refused 1 "bound container" delete-container ALICE-BOX
grep -q "is bound to certificate $alice in store 'My' (--force deletes it all the same)" "$WORK/err" ||
    fail "bound container: reason not given: $(cat "$WORK/err")"
refused 1 "a DSS container looked for among RSA ones" delete-container "Dora Box" --force
refused 1 "unknown container" delete-container nothing --force
refused 1 "unknown provider" delete-container lost --provider "Contoso Vanished Provider"
run_ok "forced" delete-container "dora box" --provider "$dss" --force
run_ok "list Signing" list --store Signing
grep -q "^$dora  CN=Dora  container=\"Dora Box\" provider=\"$dss\"" "$WORK/out" ||
    fail "a forced deletion changed the certificate's binding: $(cat "$WORK/out")"

# delete says when the certificate's container is left without certificates, and only then.
run_ok "delete the copy" delete --store Copies --thumbprint "$alice"
[ ! -s "$WORK/out" ] || fail "deleting an unbound copy printed: $(cat "$WORK/out")"
run_ok "delete Alice" delete --store My --thumbprint "$alice"
expect_equal "delete Alice" "$(cat "$WORK/out")" \
    "key container alice-box is left without certificates; its keys stay until delete-container"
run_ok "containers after the deletions" containers
expect_equal "containers after the deletions" "$(cat "$WORK/out")" "container=alice-box family=RSA keys=exchange pin=no certificates=0
container=lost family=RSA keys=exchange pin=no certificates=1
    Legacy  $lost  CN=Lost"
run_ok "unbound container" delete-container alice-box
changed_unreported "deleted, not printed" /dev/full delete --store Legacy --thumbprint "$lost"
run_ok "containers at the end" containers
expect_equal "containers at the end" "$(cat "$WORK/out")" \
    "container=lost family=RSA keys=exchange pin=no certificates=0"

finish
