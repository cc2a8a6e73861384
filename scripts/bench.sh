#!/usr/bin/env bash
# Speed: signing and decryption through Java -> JNI -> library -> software CryptoAPI against
# OpenSSL alone and Java's own provider, RSA-2048 and RSA-3072, logging off and on, stores of 10,
# 1,000 and 10,000 certificates; listing such stores from Java; and the first call in a fresh
# JVM; signing and decryption through the QDIE provider's natives against the ten natives and the
# floor; and the key store
# at scale: adding, deleting, signing, another process's change and listing with stores of 10,
# 10,000 and 100,000 certificates; and the provider's held keys against OpenSSL alone, the JDK's
# providers and SunPKCS11 over SoftHSM2. Prints ratios measured side by side in one run. Run after
# scripts/setup.sh. QDIE_BENCH_BUILD names another build folder than build/linux.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${QDIE_BENCH_BUILD:-$PWD/build/linux}"
cmake --preset linux -B "$build" >/dev/null
cmake --build "$build" -j 2 --target QDIEKeystore QDIEProvider QdieBenchSupport qdie_keystore_benchmark \
  soundness_cost_bench softcapi_signing_bench qdie-keystore >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for bits in 2048 3072; do
  openssl req -x509 -newkey "rsa:$bits" -nodes -subj "/CN=Bench $bits" -days 2 \
    -keyout "$work/key$bits.pem" -out "$work/cert$bits.pem" 2>/dev/null
  openssl pkcs12 -export -inkey "$work/key$bits.pem" -in "$work/cert$bits.pem" \
    -passout pass:bench -out "$work/rsa$bits.p12"
done
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=Bench P-256" -days 2 \
  -keyout "$work/keyp256.pem" -out "$work/certp256.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$work/keyp256.pem" -in "$work/certp256.pem" -passout pass:bench \
  -out "$work/ecp256.p12"

echo "== machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)"
echo "== the software CryptoAPI alone (C++), RSA-2048"
"$build/bench/softcapi_signing_bench"
echo "== what checking each signature and confirming each PKCS #1 decryption cost (C++)"
"$build/bench/soundness_cost_bench"
echo "== through Java"
java -Djava.library.path="$build/src:$build/bench" \
  -cp "$build/bench/qdie-keystore-benchmark.jar:$build/java/QDIEKeystore.jar" \
  com.quendrilax.bench.KeystoreBenchmark "$work" "$work/rsa2048.p12" "$work/rsa3072.p12"

echo "== library load plus first signing in a fresh JVM, against a signing once loaded (RSA-2048)"
openssl x509 -in "$work/cert2048.pem" -outform DER -out "$work/cert2048.der"
export userprofile="$work/rsa2048-store10"
unset XDG_DATA_HOME
for run in 1 2 3 4 5; do
  java -Djava.library.path="$build/src" \
    -cp "$build/bench/qdie-keystore-benchmark.jar:$build/java/QDIEKeystore.jar" \
    com.quendrilax.bench.FirstCall "$work/cert2048.der"
done | sort -n | awk '{ first[NR] = $1; steady[NR] = $2 }
  END { m = int((NR + 1) / 2);
        printf "first signing %.2f ms, signing once loaded %.2f ms: %.2f ms more (median of %d JVMs)\n",
               first[m], steady[m], first[m] - steady[m], NR }'

echo "== signing and decryption through the QDIE provider's natives against the ten natives and the floor, PSS and ECDSA P-256 against the JDK's providers and OpenSSL alone (store of 10, logging off)"
rm -rf "$userprofile/.quendrilax"
java -Djava.library.path="$build/src:$build/bench" \
  -cp "$build/bench/qdie-keystore-benchmark.jar:$build/java/QDIEKeystore.jar" \
  com.quendrilax.bench.ProviderBenchmark "$work/rsa2048.p12" "$work/ecp256.p12"

echo "== the key store at scale, through Java (RSA-2048 signing, SHA-256 over 1 KiB, logging off)"
openssl x509 -in "$work/cert3072.pem" -outform DER -out "$work/cert3072.der"
openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=Bench change" -days 2 \
  -keyout "$work/change.key" -outform DER -out "$work/change.der" 2>/dev/null
java -Djava.library.path="$build/src:$build/bench" \
  -cp "$build/bench/qdie-keystore-benchmark.jar:$build/java/QDIEKeystore.jar" \
  com.quendrilax.bench.ScaleBenchmark "$work" "$work/rsa2048.p12" "$work/cert3072.der" \
  "$work/change.der" "$build/tools/qdie-keystore/qdie-keystore"

echo "== loading the roots: QDIE-ROOT with the system's beneath the user's, against the JDK's cacerts"
(source scripts/throwaway_profile.sh && make_throwaway_profile && unset QDIE_SYSTEM_ROOTS &&
  java -Djava.library.path="$build/src" \
    -cp "$build/bench/qdie-keystore-benchmark.jar:$build/java/QDIEKeystore.jar" \
    com.quendrilax.bench.RootStoreBenchmark)

echo "== the provider's held keys against OpenSSL alone, the JDK's providers and SunPKCS11 over SoftHSM2 (same key everywhere, Signature and Cipher reused)"
bash bench/held_key_benchmark.sh "$build"
