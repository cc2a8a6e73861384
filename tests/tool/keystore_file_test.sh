#!/bin/bash
# The key store file: private to the user whatever the umask, and a file that is not a key
# store (or no longer a whole one), that the user may not read, or that is a FIFO makes commands
# fail cleanly without being overwritten; a folder its owner made read-only stays so.
source "$(dirname "$0")/tool_test_lib.sh" "$1"

make_certificate one "First"

(umask 000 && "$TOOL" add --store My one.der) || fail "add under umask 000"
expect_equal "file mode" "$(stat -c %a "$DB")" 600
expect_equal "folder mode" "$(stat -c %a "$(dirname "$DB")")" 700
(umask 000 && "$TOOL" new-identity --subject "CN=Later" --key rsa-1024 >/dev/null) ||
    fail "new-identity under umask 000"
expect_equal "file mode after a second change" "$(stat -c %a "$DB")" 600
ls "$(dirname "$DB")" | grep -qv '^keystore.db$' && fail "files left beside the store: $(ls "$(dirname "$DB")")"

# Damaged files: each must make reading and writing fail, and stay byte for byte as it was.
cp "$DB" good.db
size=$(stat -c %s good.db)
echo "this is not a database" >text.db
head -c $((size / 2)) good.db >half.db
head -c 4096 good.db >first-page.db
head -c 20000 /dev/urandom >random.db
for damaged in text half first-page random; do
    cp $damaged.db "$DB"
    refused 1 "list over $damaged.db" list
    refused 1 "stores over $damaged.db" stores
    refused 1 "add over $damaged.db" add --store My one.der
    refused 1 "new-identity over $damaged.db" new-identity --subject "CN=X" --key rsa-1024
    grep -q "keystore.db is damaged or not a key store" "$WORK/err" ||
        fail "$damaged.db: reason not given: $(cat "$WORK/err")"
done

# An empty file is a key store that holds nothing yet.
: >"$DB"
run_ok "list over an empty file" list
run_ok "add over an empty file" add --store My one.der
run_ok "list after the add" list
grep -q "  CN=First  no key" "$WORK/out" || fail "empty file not made a store: $(cat "$WORK/out")"

# Nothing to read is an empty store; something the user may not read is a failure.
chmod 200 "$DB"
RUN_AS=("${UNPRIVILEGED[@]}")
refused 1 "list of an unreadable file" list
refused 1 "stores of an unreadable file" stores
grep -q "keystore.db cannot be read" "$WORK/err" || fail "unreadable: reason not given: $(cat "$WORK/err")"
chmod 600 "$DB"
chmod 500 "$(dirname "$DB")"
refused 1 "add in a read-only folder" add --store Other one.der
expect_equal "read-only folder kept" "$(stat -c %a "$(dirname "$DB")")" 500
chmod 700 "$(dirname "$DB")"
RUN_AS=()

# A FIFO in the file's place is refused at once, never waited on.
mv "$DB" kept.db
mkfifo "$DB"
RUN_AS=(timeout 10)
refused 1 "list over a FIFO" list
refused 1 "stores over a FIFO" stores
refused 1 "add over a FIFO" add --store My one.der
RUN_AS=()

finish
