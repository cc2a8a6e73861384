#!/usr/bin/env bash
# Makes the seed corpora of the fuzz targets under fuzz/corpus/: PKCS#12 files as openssl and
# Windows export them, DER certificates valid and odd, small key store databases made by
# qdie-keystore (and damaged copies), and log messages. Keys are fresh on every run, so the bytes
# differ; the kinds of file do not. Files named regression-* are inputs the fuzzer once found to
# break a promise; they are kept as they are. Needs openssl, sqlite3 and the linux preset's
# qdie-keystore.
#   fuzz/make_seeds.sh [path/to/qdie-keystore]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
tool="${1:-$root/build/linux/tools/qdie-keystore/qdie-keystore}"
[ -x "$tool" ] || { echo "qdie-keystore not found at $tool (build the linux preset)" >&2; exit 1; }
corpus="$root/fuzz/corpus"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# The fuzz targets import with this password.
password=fuzz

key() { openssl genpkey -quiet -out "$1" "${@:2}"; }
self_signed() { openssl req -x509 -new -key "$1" -out "$2" -subj "$3" -days 30 "${@:4}"; }
der() { openssl x509 -in "$1" -outform DER -out "$2"; }

key rsa.key -algorithm RSA -pkeyopt rsa_keygen_bits:1024
openssl genpkey -quiet -genparam -algorithm DSA -pkeyopt dsa_paramgen_bits:1024 \
    -pkeyopt dsa_paramgen_q_bits:160 -out dsa.param
key dsa.key -paramfile dsa.param
openssl genpkey -quiet -genparam -algorithm DSA -pkeyopt dsa_paramgen_bits:2048 -out dsa2048.param
key dsa2048.key -paramfile dsa2048.param
key ec.key -algorithm EC -pkeyopt ec_paramgen_curve:P-256
key ca.key -algorithm RSA -pkeyopt rsa_keygen_bits:1024
self_signed ca.key ca.pem "/CN=Fuzz CA/O=Example"
self_signed rsa.key rsa.pem "/CN=Fuzz RSA/O=Example"
self_signed dsa.key dsa.pem "/CN=Fuzz DSA"
self_signed ec.key ec.pem "/CN=Fuzz EC"
self_signed dsa2048.key dsa2048.pem "/CN=Fuzz DSA 2048"
# Names with accents, a multi-valued RDN and characters beyond Latin-1; the last one version 1.
self_signed rsa.key accents.pem "/CN=Zoë Ünïcode/O=Société" -utf8 -multivalue-rdn \
    -addext "subjectAltName=email:zoe@example.com"
openssl req -new -key rsa.key -subj "/CN=日本語 名前+OU=Multi/C=FR" -utf8 -multivalue-rdn \
    -out utf8.csr
openssl x509 -req -in utf8.csr -key ca.key -out utf8.pem -days 30 2>/dev/null  # version 1

rm -rf "$corpus"/{pkcs12_import,certificate_store,damaged_keystore,log_message}/seed-*
mkdir -p "$corpus"/{pkcs12_import,certificate_store,damaged_keystore,log_message}

# PKCS#12: today's encryption, the legacy one Windows exports, no MAC nor encryption, encryption
# without a MAC, a chain, a DSA key, an EC key (imported into the key storage provider),
# a DSA key with a 256-bit q (refused: its signatures do not fit the DSS format; it was once
# imported and then "signed" with bytes never written), and one more iteration than the limit
# in the MAC and in a key's encryption (refused before any key derivation).
p12="$corpus/pkcs12_import"
export_p12() { openssl pkcs12 -export -passout "pass:$password" -out "$p12/seed-$1.p12" "${@:2}"; }
export_p12 modern -inkey rsa.key -in rsa.pem
export_p12 legacy -legacy -inkey rsa.key -in rsa.pem
export_p12 plain -inkey rsa.key -in rsa.pem -nomac -keypbe NONE -certpbe NONE
export_p12 nomac-encrypted -inkey rsa.key -in rsa.pem -nomac
export_p12 chain -inkey rsa.key -in rsa.pem -certfile ca.pem -name "Fuzz RSA"
export_p12 dsa -inkey dsa.key -in dsa.pem
export_p12 ec -inkey ec.key -in ec.pem -nomac
export_p12 dsa-2048 -inkey dsa2048.key -in dsa2048.pem
export_p12 mac-over-limit -inkey rsa.key -in rsa.pem -iter 1000001 -keypbe NONE -certpbe NONE
export_p12 key-over-limit -legacy -inkey rsa.key -in rsa.pem -iter 1000001 -nomaciter -certpbe NONE

# DER certificates: each kind above, and encodings that must be refused.
certs="$corpus/certificate_store"
for name in ca rsa dsa ec accents utf8; do der $name.pem "$certs/seed-$name.der"; done
cat "$certs/seed-rsa.der" <(printf 'x') > "$certs/seed-trailing-byte.der"
head -c 200 "$certs/seed-rsa.der" > "$certs/seed-truncated.der"
printf '\x30\x03\x02\x01\x01' > "$certs/seed-not-a-certificate.der"
: > "$certs/seed-empty.der"

# Key stores: identities of each family, a legacy provider, a PIN, a certificate without a key,
# packed into small pages; then copies that are foreign, incomplete or not a database at all.
db="$corpus/damaged_keystore"
export HOME="$work/profile"
unset XDG_DATA_HOME userprofile USERPROFILE
mkdir -p "$HOME"
"$tool" new-identity --subject "CN=Fuzz RSA" --key rsa-1024 --container fuzz-rsa >/dev/null
"$tool" new-identity --subject "CN=Fuzz DSA" --key dsa-1024 --container fuzz-dsa >/dev/null
"$tool" new-identity --subject "CN=Fuzz Legacy" --key rsa-1024 --container fuzz-legacy \
    --provider "Microsoft Base Cryptographic Provider v1.0" >/dev/null
"$tool" new-identity --subject "CN=Fuzz PIN" --key rsa-1024 --container fuzz-pin --pin 1234 \
    --key-spec signature >/dev/null
"$tool" add --store CA "$certs/seed-ca.der"
# A certificate added and deleted again, so that the history of changes remembers a removal.
"$tool" add --store CA "$certs/seed-rsa.der"
"$tool" delete --store CA --thumbprint "$(openssl x509 -inform DER -in "$certs/seed-rsa.der" \
    -noout -fingerprint -sha1 | sed 's/.*=//; s/://g')"
store="$HOME/.local/share/qdie-keystore/keystore.db"
sqlite3 "$store" "PRAGMA page_size = 1024; VACUUM;"
# The file as the tool writes it, with its history of changes: as it is, in WAL mode, and with
# the history altered by hand (a trigger gone, a mark and removals of the wrong types).
cp "$store" "$db/seed-history.db"
cp "$store" "$db/seed-history-wal.db" && sqlite3 "$db/seed-history-wal.db" "PRAGMA journal_mode = WAL;" >/dev/null
cp "$store" "$db/seed-history-altered.db" && sqlite3 "$db/seed-history-altered.db" \
    "DROP TRIGGER certificate_removed; UPDATE change_mark SET sequence = 'many';
    INSERT INTO removals(sequence, store_id, certificate_id, container, stores_changed)
        VALUES (9000000000, 'x', -1, x'00ff', 2); VACUUM;"
# The schema of the files written before the history came, which the seeds below keep.
sqlite3 "$store" "DROP TRIGGER certificate_added; DROP TRIGGER certificate_changed;
    DROP TRIGGER certificate_removed; DROP TRIGGER container_changed; DROP TRIGGER container_removed;
    DROP TRIGGER container_key_added; DROP TRIGGER container_key_changed;
    DROP TRIGGER container_key_removed; DROP TRIGGER store_changed; DROP TRIGGER store_removed;
    DROP TABLE removals; DROP TABLE change_mark; DROP INDEX certificates_by_change;
    ALTER TABLE certificates DROP COLUMN changed; VACUUM;"
cp "$store" "$db/seed-keystore.db"
cp "$store" foreign.db && sqlite3 foreign.db "PRAGMA application_id = 7;"
cp foreign.db "$db/seed-foreign.db"
cp "$store" incomplete.db && sqlite3 incomplete.db "DROP TABLE container_keys; VACUUM;"
cp incomplete.db "$db/seed-incomplete.db"
cp "$store" unbound.db && sqlite3 unbound.db \
    "UPDATE certificates SET provider_type = NULL, key_spec = NULL, provider = '' ; VACUUM;"
cp unbound.db "$db/seed-odd-bindings.db"
# Rows a hand edit could leave: keys in the other family's namespace or under the other key
# specification, halves of different keys, PIN flags that do not match the key, empty blobs (an
# empty thumbprint was once copied from a null pointer), values of the wrong type, names that are
# not UTF-8, a DSA key whose signatures do not fit the DSS format.
openssl pkcs8 -topk8 -nocrypt -in dsa2048.key -outform DER -out dsa2048.pkcs8
openssl pkey -in dsa2048.key -pubout -outform DER -out dsa2048.spki
odd_rows() { cp "$store" "$db/seed-$1.db" && sqlite3 "$db/seed-$1.db" "$2 VACUUM;"; }
odd_rows dsa-in-rsa-family "UPDATE containers SET family = 1, name = 'fuzz-dsa2' WHERE name = 'fuzz-dsa';
    UPDATE certificates SET container = 'fuzz-dsa2', provider_type = 24, key_spec = 1,
        provider = 'Microsoft Enhanced RSA and AES Cryptographic Provider' WHERE container = 'fuzz-dsa';
    UPDATE container_keys SET key_spec = 1 WHERE container_id = 2;"
odd_rows rsa-in-dss-family "UPDATE containers SET family = 2, name = 'fuzz-rsa2' WHERE name = 'fuzz-rsa';
    UPDATE certificates SET container = 'fuzz-rsa2', provider_type = 13, key_spec = 2,
        provider = 'Microsoft Base DSS and Diffie-Hellman Cryptographic Provider' WHERE container = 'fuzz-rsa';
    UPDATE container_keys SET key_spec = 2 WHERE container_id = 1;"
odd_rows mixed-halves "UPDATE container_keys SET public_key = (SELECT public_key FROM container_keys
    WHERE container_id = 2) WHERE container_id = 1; UPDATE container_keys SET pkcs8 = (SELECT pkcs8
    FROM container_keys WHERE container_id = 1) WHERE container_id = 3;"
odd_rows pin-flags "UPDATE containers SET pin_protected = 1 - pin_protected;"
odd_rows empty-blobs "UPDATE certificates SET encoded = x'', thumbprint = x'' WHERE id = 1;
    UPDATE container_keys SET public_key = x'', pkcs8 = x'' WHERE container_id = 3;"
odd_rows wrong-types "UPDATE certificates SET encoded = 'text', thumbprint = 12,
    key_spec = 1099511627776, provider_type = -1 WHERE id = 3;
    UPDATE certificates SET container = CAST(x'00ff41' AS TEXT),
        provider = CAST(x'4d6963726f736f667400ff' AS TEXT) WHERE id = 4;
    UPDATE stores SET name = CAST(x'4dc3' AS TEXT) WHERE name = 'CA';"
odd_rows dsa-2048-key "UPDATE container_keys SET public_key = readfile('dsa2048.spki'),
    pkcs8 = readfile('dsa2048.pkcs8') WHERE container_id = 2;"
cp "$store" "$db/seed-wal.db" && sqlite3 "$db/seed-wal.db" "PRAGMA journal_mode = WAL;" >/dev/null
: > "$db/seed-empty.db"
printf 'not a database\n' > "$db/seed-text.db"

# Log messages: ASCII, Latin-1 (as names narrowed from UTF-16 arrive), longer than a line holds,
# a terminator inside, format characters, a line break.
logs="$corpus/log_message"
printf 'CryptAcquireContext success' > "$logs/seed-ascii"
printf 'Provider: Soci\xe9t\xe9 G\xe9n\xe9rale \xff\x80' > "$logs/seed-latin1"
head -c 700 /dev/zero | tr '\0' 'L' > "$logs/seed-long"
printf 'before\0after' > "$logs/seed-terminator"
printf '%%s%%n%%x %%8.8xh' > "$logs/seed-format"
printf 'one\r\ntwo' > "$logs/seed-line-break"
ls -l "$corpus"/*/
