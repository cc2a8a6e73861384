#!/bin/bash
# new-identity: the certificate it writes is the one it lists, bound to a key as asked; a
# refused identity changes nothing and never shows the PIN; an identity made whose result cannot
# be printed says so with its own exit status.
source "$(dirname "$0")/tool_test_lib.sh" "$1"

guid='\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}'
rsa_default='provider="Microsoft Enhanced RSA and AES Cryptographic Provider" type=24 spec=exchange'

# Defaults: rsa-2048, store My, a generated container, the RSA provider, the exchange key.
run_ok "new-identity" new-identity --subject "CN=Alice" --out a.der
thumbprint=$(openssl_thumbprint a.der)
grep -Eq "^$thumbprint  container=$guid $rsa_default\$" "$WORK/out" ||
    fail "new-identity result line: $(cat "$WORK/out")"
bits=$(openssl x509 -inform DER -in a.der -noout -text | grep -o 'Public-Key: (2048 bit)')
expect_equal "default key size" "$bits" "Public-Key: (2048 bit)"
run_ok "list" list
grep -Eq "^$thumbprint  CN=Alice  container=$guid $rsa_default\$" "$WORK/out" ||
    fail "list line for Alice: $(cat "$WORK/out")"
ls -l a.der | grep -q '^-rw-r--r--' || fail "--out file mode: $(ls -l a.der)"

# A subject of several names lists back as it was written, and openssl reads it the same way.
run_ok "two-part subject" new-identity --subject "CN=Bob,O=Example Corp" --key rsa-1024 --out b.der
expect_equal "openssl reads the subject" \
    "$(openssl x509 -inform DER -in b.der -noout -subject -nameopt RFC2253)" "subject=CN=Bob,O=Example Corp"
run_ok "list" list
grep -q "  CN=Bob,O=Example Corp  " "$WORK/out" || fail "list of Bob: $(cat "$WORK/out")"

# DSA, a named container with a space, a PIN and another store.
pin=Sesame-4711
run_ok "dsa identity" new-identity --subject "CN=Dora" --key dsa-1024 --container "Dora Box" \
    --pin "$pin" --store Signing --out d.der
grep -q "$pin" "$WORK/out" && fail "new-identity printed the PIN"
run_ok "list Signing" list --store signing
expect_equal "dsa list line" "$(cat "$WORK/out")" "$(openssl_thumbprint d.der)  CN=Dora  container=\"Dora Box\" provider=\"Microsoft Base DSS and Diffie-Hellman Cryptographic Provider\" type=13 spec=signature"

# Any provider name may be bound, an unknown one included; RSA signature keys are chosen so.
run_ok "legacy provider" new-identity --subject "CN=Old" --key rsa-1024 --key-spec signature \
    --provider "Microsoft Base Cryptographic Provider v1.0" --store Legacy
run_ok "unknown provider" new-identity --subject "CN=Lost" --key rsa-1024 \
    --provider "Contoso Vanished Provider" --container lost --store Legacy
run_ok "list Legacy" list --store Legacy
grep -Eq "  CN=Old  container=$guid provider=\"Microsoft Base Cryptographic Provider v1.0\" type=1 spec=signature\$" \
    "$WORK/out" || fail "legacy binding: $(cat "$WORK/out")"
grep -q "  CN=Lost  container=lost provider=\"Contoso Vanished Provider\" type=24 spec=exchange\$" \
    "$WORK/out" || fail "unknown provider binding: $(cat "$WORK/out")"
expect_equal "Legacy lines" "$(wc -l <"$WORK/out")" 2

# EC keys, and RSA keys when --provider names it, go to the key storage provider: bound as CNG
# binds a key, provider type 0 and key specification 0, and listed by containers as its keys.
ksp='provider="Microsoft Software Key Storage Provider" type=0 spec=0'
for curve in p256 p384 p521; do
    run_ok "ec-$curve identity" new-identity --subject "CN=Eve $curve" --key ec-$curve --container "eve $curve" \
        --store Cng --out "ec-$curve.der"
    expect_equal "ec-$curve result line" "$(cat "$WORK/out")" \
        "$(openssl_thumbprint "ec-$curve.der")  container=\"eve $curve\" $ksp"
done
openssl x509 -inform DER -in ec-p384.der -noout -text | grep -q "NIST CURVE: P-384" ||
    fail "ec-p384 is no P-384 key"
run_ok "rsa in the key storage provider" new-identity --subject "CN=Kim" --key rsa-3072 \
    --provider "microsoft software key storage provider" --container kim --store Cng --out kim.der
expect_equal "KSP RSA result line" "$(cat "$WORK/out")" "$(openssl_thumbprint kim.der)  container=kim $ksp"
openssl x509 -inform DER -in kim.der -noout -text | grep -q "Key Encipherment" ||
    fail "a KSP RSA key's certificate does not say it decrypts"
run_ok "containers" containers
grep -q '^container="eve p521" family=KSP keys=cng pin=no certificates=1$' "$WORK/out" ||
    fail "containers of the key storage provider: $(cat "$WORK/out")"
grep -q '^container=kim family=KSP keys=cng pin=no certificates=1$' "$WORK/out" ||
    fail "KSP RSA container: $(cat "$WORK/out")"
refused 1 "ec key in a CSP" new-identity --subject "CN=X" --key ec-p256 \
    --provider "Microsoft Enhanced RSA and AES Cryptographic Provider"
run_ok "ec key with a PIN" new-identity --subject "CN=Pinned EC" --key ec-p256 --pin "$pin" \
    --container "pinned ec"
run_ok "containers" containers
grep -q '^container="pinned ec" family=KSP keys=cng pin=yes certificates=1$' "$WORK/out" ||
    fail "PIN-protected KSP container: $(cat "$WORK/out")"
refused 1 "ec key with a key spec" new-identity --subject "CN=X" --key ec-p256 --key-spec signature
refused 1 "rsa-1024 in the key storage provider" new-identity --subject "CN=X" --key rsa-1024 \
    --provider "Microsoft Software Key Storage Provider"
refused 1 "dsa in the key storage provider" new-identity --subject "CN=X" --key dsa-1024 \
    --provider "Microsoft Software Key Storage Provider"
refused 1 "KSP container taken" new-identity --subject "CN=X" --key ec-p256 --container KIM

# Refusals: usage errors exit 2, failures 1; none changes the store or the --out file.
refused 2 "no subject" new-identity --key rsa-1024
refused 2 "bad key type" new-identity --subject "CN=X" --key rsa-512
refused 2 "bad curve" new-identity --subject "CN=X" --key ec-p224
refused 2 "bad key spec" new-identity --subject "CN=X" --key-spec both
refused 2 "empty pin" new-identity --subject "CN=X" --pin ""
refused 1 "bad subject" new-identity --subject "Alice" --key rsa-1024
refused 1 "unknown subject field" new-identity --subject "XX=Alice" --key rsa-1024
refused 1 "dsa exchange key" new-identity --subject "CN=X" --key dsa-1024 --key-spec exchange
refused 1 "rsa key for a dss provider" new-identity --subject "CN=X" --key rsa-1024 \
    --provider "Microsoft Base DSS Cryptographic Provider"
refused 1 "container taken" new-identity --subject "CN=X" --key dsa-1024 --container "dora box" \
    --pin "$pin"
grep -q "$pin" "$WORK/err" && fail "an error line showed the PIN"
refused 1 "bad store" new-identity --subject "CN=X" --key rsa-1024 --store "a/b"
# Texts that would forge lines of the log or of a listing, and names the library cannot open.
forged=$'Evil\n12/09/26 08:00:00 - FORGED LINE'
refused 2 "line break in --subject" new-identity --subject "CN=$forged" --key rsa-1024
grep -q "option --subject holds a control character" "$WORK/err" || fail "--subject: $(cat "$WORK/err")"
for option in --container --provider --pin --store; do
    refused 2 "line break in $option" new-identity --subject "CN=X" --key rsa-1024 $option "$forged"
    grep -q "option $option holds a control character" "$WORK/err" || fail "$option: $(cat "$WORK/err")"
done
refused 2 "DEL in the subject" new-identity --subject $'CN=X\x7f' --key rsa-1024
for option in --container --provider; do
    refused 2 "$option beyond Latin-1" new-identity --subject "CN=X" --key rsa-1024 $option "Łódź"
    grep -q "beyond Latin-1" "$WORK/err" || fail "$option beyond Latin-1: $(cat "$WORK/err")"
done
run_ok "Latin-1 container" new-identity --subject "CN=Zoë" --key rsa-1024 --container "Zoë Ü" --store Names
run_ok "beyond Latin-1 when asked" new-identity --subject "CN=Wide" --key rsa-1024 --container "Łódź" \
    --allow-names-beyond-latin-1 --store Names
refused 1 "unwritable --out" new-identity --subject "CN=X" --key rsa-1024 --out "$WORK/none/x.der"
refused 1 "--out a folder" new-identity --subject "CN=X" --key rsa-1024 --out "$WORK"
cp a.der keep.der
refused 1 "bad subject with --out" new-identity --subject "CN=" --key rsa-1024 --out a.der
cmp -s a.der keep.der || fail "a refused new-identity overwrote its --out file"
# --out never names a file of the key store, and is written before the store changes: a full
# file system leaves the store as it was.
refused 1 "--out the key store" new-identity --subject "CN=X" --key rsa-1024 --out "$DB"
refused 1 "--out its journal, spelled otherwise" new-identity --subject "CN=X" --key rsa-1024 \
    --out "$(dirname "$DB")/../qdie-keystore/keystore.db-journal"
refused 1 "export over the key store" export --store My --thumbprint "$thumbprint" --out "$DB"
if [ ${#MOUNT_NAMESPACE[@]} -gt 0 ]; then
    mkdir full
    RUN_AS=("${MOUNT_NAMESPACE[@]}" sh -c 'mount -t tmpfs -o size=4k tmpfs full &&
        head -c 4096 /dev/zero >full/filler 2>/dev/null; exec "$0" "$@"')
    refused 1 "--out on a full file system" new-identity --subject "CN=X" --key rsa-1024 --out full/x.der
    RUN_AS=()
else
    echo "skipped: --out on a full file system (no mount namespace here)"
fi
[ -z "$(ls "$WORK" | grep '\.der\.')" ] || fail "temporary --out files left: $(ls "$WORK")"

# Made, but not printed: exit 3, and the identity is in the store once.
for output in /dev/full closed; do
    changed_unreported "stdout $output" $output new-identity --subject "CN=Unprinted" --key rsa-1024 --store Unprinted
done
run_ok "list Unprinted" list --store Unprinted
expect_equal "identities made whose result was not printed" "$(grep -c "  CN=Unprinted  container=" "$WORK/out")" 2

finish
