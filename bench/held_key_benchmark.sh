#!/usr/bin/env bash
# Runs HeldKeyBenchmark: makes its keys (RSA-2048 with a second certificate for the key storage
# provider, EC P-256 and P-384), puts the same keys with their certificates in a SoftHSM2 token of
# its own, and times the provider's held keys against OpenSSL alone, the JDK's providers and
# SunPKCS11. Argument: the build folder, built as scripts/bench.sh builds it.
set -euo pipefail
build="$1"
softhsm=/usr/lib/softhsm/libsofthsm2.so
pin=1234
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# name, subject, and the key file to certify: a PKCS#12 file (password "bench") of the two
certify() {
  openssl req -x509 -new -key "$work/$3.pem" -subj "$2" -days 2 -out "$work/$1.crt"
  openssl pkcs12 -export -inkey "$work/$3.pem" -in "$work/$1.crt" -passout pass:bench \
    -out "$work/$1.p12"
}
openssl genpkey -quiet -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$work/rsa.pem"
openssl genpkey -quiet -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$work/p256.pem"
openssl genpkey -quiet -algorithm EC -pkeyopt ec_paramgen_curve:P-384 -out "$work/p384.pem"
certify rsa "/CN=Bench held RSA-2048" rsa
certify rsa-ksp "/CN=Bench held RSA-2048, key storage provider" rsa
certify p256 "/CN=Bench held P-256" p256
certify p384 "/CN=Bench held P-384" p384

# A token of this run's own, holding each key with its certificate under one id.
export SOFTHSM2_CONF="$work/softhsm2.conf"
mkdir "$work/tokens"
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' \
  "$work/tokens" >"$SOFTHSM2_CONF"
softhsm2-util --init-token --free --label bench --pin "$pin" --so-pin 5678 >/dev/null
id=1
for name in rsa p256 p384; do
  openssl x509 -in "$work/$name.crt" -outform DER -out "$work/$name.der"
  softhsm2-util --import "$work/$name.pem" --token bench --label "$name" --id "0$id" \
    --pin "$pin" >/dev/null
  pkcs11-tool --module "$softhsm" --token-label bench --login --pin "$pin" \
    --write-object "$work/$name.der" --type cert --id "0$id" --label "$name" >/dev/null
  id=$((id + 1))
done

java -Djava.library.path="$build/src:$build/bench" \
  -cp "$build/bench/qdie-keystore-benchmark.jar:$build/java/QDIEKeystore.jar" \
  com.quendrilax.bench.HeldKeyBenchmark "$work" "$work/rsa.p12" "$work/rsa-ksp.p12" \
  "$work/p256.p12" "$work/p384.p12" "$softhsm" "$pin"
