#!/bin/bash
# --machine: every command that reads or changes a store or a container works on the local
# machine's, apart from the user's; for a user who is not root it is refused before anything is
# read; no output file may replace one of the machine's files.
source "$(dirname "$0")/tool_test_lib.sh" "$1"

# Refused to a user who is not root: one line, exit 1, the machine's files as they were. Run as
# 65534 where root can become it; as a developer who is not root, the tool refuses that user.
if [ "$(id -u)" -eq 0 ]; then NOT_ROOT=(setpriv --reuid=65534 --regid=65534 --clear-groups --); else NOT_ROOT=(); fi

# machine_snapshot and machine_unchanged: the machine's key store and secret, byte for byte.
machine_snapshot() {
    rm -rf "$WORK/machine.before"
    if [ -d "$QDIE_MACHINE_STORE" ]; then cp -a "$QDIE_MACHINE_STORE" "$WORK/machine.before"; fi
}
machine_unchanged() {
    if [ -d "$WORK/machine.before" ]; then diff -r "$WORK/machine.before" "$QDIE_MACHINE_STORE" >/dev/null
    else [ ! -e "$QDIE_MACHINE_STORE" ]; fi
}

make_certificate extra "Extra"
refused_to_others() {
    local label=$1
    shift
    machine_snapshot
    RUN_AS=("${NOT_ROOT[@]}")
    refused 1 "$label as another user" "$@"
    RUN_AS=()
    grep -q "only root may work on the machine's store" "$WORK/err" ||
        fail "$label as another user: reason not given: $(cat "$WORK/err")"
    machine_unchanged || fail "$label as another user: the machine's store changed"
}

if [ "$(id -u)" -ne 0 ]; then
    refused_to_others "list" list --machine
    echo "skipped the rest: only root may make the machine's store (running as $(id -un))"
    finish
fi

# What another user reaches: the work folder, whose files a refusal must not even read.
chmod 755 "$WORK"

# The same container and store names in both locations, different contents.
run_ok "machine identity" new-identity --machine --subject "CN=Machine" --key rsa-1024 \
    --container twin --out machine.der
run_ok "user identity" new-identity --subject "CN=User" --key rsa-1024 --container twin --out user.der
machine=$(openssl_thumbprint machine.der)
user=$(openssl_thumbprint user.der)
expect_equal "modes" "$(stat -c '%a' "$QDIE_MACHINE_STORE" "$MACHINE_DB" \
    "$QDIE_MACHINE_STORE/keystore.secret" | tr '\n' ' ')" "755 644 600 "
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout pfx.key -out pfx.pem \
    -subj "/CN=Imported" -days 2 2>/dev/null &&
    openssl pkcs12 -export -in pfx.pem -inkey pfx.key -out pfx.p12 -passout pass:pw ||
    fail "openssl made no PKCS#12 file"
run_ok "machine import" import-pfx --machine pfx.p12 --password pw --container imported --store Imports
run_ok "machine add" add --machine --store Extra extra.der

run_ok "machine list" list --machine
grep -q "^$machine  CN=Machine  container=twin" "$WORK/out" && ! grep -q "$user" "$WORK/out" ||
    fail "machine list: $(cat "$WORK/out")"
run_ok "user list" list
grep -q "^$user  CN=User  container=twin" "$WORK/out" && ! grep -q "$machine" "$WORK/out" ||
    fail "user list: $(cat "$WORK/out")"
run_ok "machine stores" stores --machine
expect_equal "machine stores" "$(cat "$WORK/out")" "My
Imports
Extra"
run_ok "user stores" stores
expect_equal "user stores" "$(cat "$WORK/out")" "My"
run_ok "machine containers" containers --machine
expect_equal "machine containers" "$(grep -c '^container=' "$WORK/out")" "2"
grep -q "^container=imported family=KSP keys=cng pin=no certificates=1" "$WORK/out" ||
    fail "machine containers: $(cat "$WORK/out")"
run_ok "machine export" export --machine --store My --thumbprint "$machine" --out exported.der
cmp -s exported.der machine.der || fail "machine export: not the machine's certificate"
refused 1 "the user's certificate from the machine's store" \
    export --machine --store My --thumbprint "$user" --out none.der

# No output file may take the place of the machine's files, however spelled.
for target in "$MACHINE_DB" "$MACHINE_DB-journal" "$QDIE_MACHINE_STORE/../machine/keystore.secret"; do
    machine_snapshot
    refused 1 "--out $target" new-identity --subject "CN=Over" --key rsa-1024 --out "$target"
    machine_unchanged || fail "--out $target: the machine's store changed"
done

# Every command that touches a store or a container, refused to another user.
refused_to_others "new-identity" new-identity --machine --subject "CN=Other" --key rsa-1024
refused_to_others "import-pfx" import-pfx --machine pfx.p12 --password pw
refused_to_others "list" list --machine
refused_to_others "export" export --machine --store My --thumbprint "$machine" --out other.der
refused_to_others "add" add --machine --store Extra extra.der
refused_to_others "delete" delete --machine --store My --thumbprint "$machine"
refused_to_others "stores" stores --machine
refused_to_others "containers" containers --machine
refused_to_others "delete-container" delete-container --machine twin --force
[ ! -e other.der ] || fail "export as another user wrote its file"

# Deleting in one location leaves the other's.
run_ok "machine delete" delete --machine --store My --thumbprint "$machine"
run_ok "machine delete-container" delete-container --machine twin
run_ok "user list after" list
grep -q "^$user" "$WORK/out" || fail "the machine's deletion took the user's certificate"
run_ok "user containers after" containers
grep -q "^container=twin family=RSA" "$WORK/out" || fail "the machine's deletion took the user's container"
run_ok "machine containers after" containers --machine
grep -q "^container=twin" "$WORK/out" && fail "the machine's container is still there"
finish
