#!/bin/bash
# import-pfx: PKCS#12 files as openssl makes them, with today's and with the older (legacy)
# encryption, with or without a MAC, bind the certificate to a new container; a wrong password
# changes nothing, and a file that asks for more key derivation than the limit is refused. EC keys,
# and RSA keys when --provider names it, go to the key storage provider.
source "$(dirname "$0")/tool_test_lib.sh" "$1"

openssl req -x509 -newkey rsa:2048 -nodes -keyout user.key -out user.pem -subj "/CN=Pfx User" \
    -days 2 2>/dev/null || fail "openssl req"
openssl pkcs12 -export -inkey user.key -in user.pem -out modern.p12 -passout pass:s3cret ||
    fail "openssl pkcs12"
openssl pkcs12 -export -legacy -inkey user.key -in user.pem -out legacy.p12 -passout pass:s3cret ||
    fail "openssl pkcs12 -legacy"
openssl pkcs12 -export -inkey user.key -in user.pem -out nopassword.p12 -passout pass: ||
    fail "openssl pkcs12 without password"
thumbprint=$(openssl x509 -in user.pem -noout -fingerprint -sha1 | sed 's/.*=//; s/://g')

# Each file goes to its own store, so each import is seen on its own.
for file in modern legacy; do
    refused 1 "$file.p12, wrong password" import-pfx $file.p12 --password wrong --store $file
    refused 1 "$file.p12, no password" import-pfx $file.p12 --store $file
    grep -q "s3cret" "$WORK/err" && fail "an error line showed the password"
    run_ok "$file.p12" import-pfx $file.p12 --password s3cret --store $file
    grep -Eq "^$thumbprint  container=\{[0-9A-F-]{36}\} provider=\"Microsoft Enhanced RSA and AES Cryptographic Provider\" type=24 spec=exchange\$" \
        "$WORK/out" || fail "$file.p12 result line: $(cat "$WORK/out")"
    run_ok "list $file" list --store $file
    grep -q "^$thumbprint  CN=Pfx User  container=" "$WORK/out" ||
        fail "$file.p12 not listed: $(cat "$WORK/out")"
done

run_ok "file without password" import-pfx nopassword.p12 --container "Imported" \
    --key-spec signature --pin 1234 --store Plain
expect_equal "binding as asked" "$(cat "$WORK/out")" \
    "$thumbprint  container=Imported provider=\"Microsoft Enhanced RSA and AES Cryptographic Provider\" type=24 spec=signature"

# Without a MAC, the password is proven by the decryption alone.
openssl pkcs12 -export -nomac -inkey user.key -in user.pem -out nomac.p12 -passout pass:s3cret ||
    fail "openssl pkcs12 -nomac"
refused 1 "no MAC, wrong password" import-pfx nomac.p12 --password wrong --store NoMac
refused 2 "line break in the password" import-pfx nomac.p12 --password $'s3cret\nx' --store NoMac
run_ok "no MAC, encrypted" import-pfx nomac.p12 --password s3cret --store NoMac
run_ok "list NoMac" list --store NoMac
grep -q "^$thumbprint  CN=Pfx User  container=" "$WORK/out" || fail "no-MAC file not listed: $(cat "$WORK/out")"

# Key derivation: up to 1,000,000 iterations each is done; one more, in the MAC or in a key's
# encryption, is refused before any is done.
openssl pkcs12 -export -iter 1000000 -inkey user.key -in user.pem -out limit.p12 -passout pass:s3cret ||
    fail "openssl pkcs12 -iter 1000000"
run_ok "1,000,000 iterations" import-pfx limit.p12 --password s3cret --store Limit
openssl pkcs12 -export -iter 1000001 -keypbe NONE -certpbe NONE -inkey user.key -in user.pem \
    -out mac-over.p12 -passout pass:s3cret || fail "openssl pkcs12, MAC over the limit"
openssl pkcs12 -export -legacy -iter 1000001 -nomaciter -certpbe NONE -inkey user.key -in user.pem \
    -out key-over.p12 -passout pass:s3cret || fail "openssl pkcs12, key over the limit"
for file in mac-over key-over; do
    refused 1 "$file.p12" import-pfx $file.p12 --password s3cret --store Over
    grep -q "asks for 1000001 iterations of a key derivation, more than the 1000000 allowed" \
        "$WORK/err" || fail "$file.p12: reason not given: $(cat "$WORK/err")"
done

changed_unreported "imported, not printed" /dev/full import-pfx modern.p12 --password s3cret --store Unprinted
run_ok "list Unprinted" list --store Unprinted
grep -q "^$thumbprint  CN=Pfx User  container=" "$WORK/out" || fail "unprinted import not listed: $(cat "$WORK/out")"

refused 1 "container taken" import-pfx modern.p12 --password s3cret --container imported
# DSS signatures hold 20-byte r and s: a DSA key with a longer q could never sign there.
openssl genpkey -quiet -genparam -algorithm DSA -pkeyopt dsa_paramgen_bits:2048 -out dsa.param &&
    openssl genpkey -quiet -paramfile dsa.param -out dsa.key &&
    openssl req -x509 -new -key dsa.key -out dsa.pem -subj "/CN=Long Q" -days 2 &&
    openssl pkcs12 -export -inkey dsa.key -in dsa.pem -out dsa.p12 -passout pass: || fail "openssl dsa"
refused 1 "DSA key with a 256-bit q" import-pfx dsa.p12
grep -q "160-bit q" "$WORK/err" || fail "DSA refusal: $(cat "$WORK/err")"

refused 1 "not PKCS#12" import-pfx user.pem
refused 1 "missing file" import-pfx "$WORK/absent.p12"
refused 1 "a folder" import-pfx "$WORK"
refused 2 "no file" import-pfx --password s3cret
refused 2 "two files" import-pfx modern.p12 legacy.p12
refused 2 "--out is no option" import-pfx modern.p12 --password s3cret --out x.der

# EC keys go to the key storage provider; an RSA key goes there when --provider names it.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-384 -nodes -keyout ec.key -out ec.pem \
    -subj "/CN=Pfx EC" -days 2 2>/dev/null || fail "openssl req (EC)"
openssl pkcs12 -export -inkey ec.key -in ec.pem -out ec.p12 -passout pass:s3cret || fail "openssl pkcs12 (EC)"
ec_thumbprint=$(openssl x509 -in ec.pem -noout -fingerprint -sha1 | sed 's/.*=//; s/://g')
refused 1 "EC key into a CSP" import-pfx ec.p12 --password s3cret --store Cng \
    --provider "Microsoft Enhanced RSA and AES Cryptographic Provider"
# One rule for what the store takes, as new-identity keeps it: curves Java and CNG both name,
# RSA keys the key storage provider makes; each refused file leaves the store as it was.
openssl ecparam -name P-256 -param_enc explicit -genkey -noout -out explicit.key &&
    openssl req -x509 -new -key explicit.key -out explicit.pem -subj "/CN=Explicit" -days 2 &&
    openssl pkcs12 -export -inkey explicit.key -in explicit.pem -out explicit.p12 -passout pass: ||
    fail "openssl explicit curve"
refused 1 "EC key with explicit curve parameters" import-pfx explicit.p12 --store Cng
grep -q "named curves P-256, P-384 and P-521" "$WORK/err" || fail "explicit curve: $(cat "$WORK/err")"
for curve in secp256k1 brainpoolP256r1; do
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:$curve -nodes -keyout $curve.key \
        -out $curve.pem -subj "/CN=$curve" -days 2 2>/dev/null &&
        openssl pkcs12 -export -inkey $curve.key -in $curve.pem -out $curve.p12 -passout pass: ||
        fail "openssl $curve"
    refused 1 "EC key on $curve" import-pfx $curve.p12 --store Cng
done
openssl req -x509 -newkey rsa:1024 -nodes -keyout rsa1024.key -out rsa1024.pem \
    -subj "/CN=Short" -days 2 2>/dev/null &&
    openssl pkcs12 -export -inkey rsa1024.key -in rsa1024.pem -out rsa1024.p12 -passout pass: ||
    fail "openssl rsa-1024"
refused 1 "RSA-1024 into the key storage provider" import-pfx rsa1024.p12 --store Cng \
    --provider "Microsoft Software Key Storage Provider"
grep -q "2048 to 16384 bits, not 1024" "$WORK/err" || fail "RSA-1024: $(cat "$WORK/err")"
run_ok "EC p12" import-pfx ec.p12 --password s3cret --container "ec import" --store Cng
expect_equal "EC binding" "$(cat "$WORK/out")" \
    "$ec_thumbprint  container=\"ec import\" provider=\"Microsoft Software Key Storage Provider\" type=0 spec=0"
run_ok "RSA p12 into the key storage provider" import-pfx modern.p12 --password s3cret \
    --provider "Microsoft Software Key Storage Provider" --container "rsa import" --store Cng
expect_equal "KSP RSA binding" "$(cat "$WORK/out")" \
    "$thumbprint  container=\"rsa import\" provider=\"Microsoft Software Key Storage Provider\" type=0 spec=0"
run_ok "containers" containers
grep -q '^container="ec import" family=KSP keys=cng pin=no certificates=1$' "$WORK/out" ||
    fail "imported EC container: $(cat "$WORK/out")"

finish
