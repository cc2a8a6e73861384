#!/bin/bash
# The command line: --help everywhere, and every usage error one line, exit 2, no store made.
source "$(dirname "$0")/tool_test_lib.sh" "$1"

commands="new-identity import-pfx list export add delete stores containers delete-container"

run_ok "tool --help" --help
for command in $commands; do
    grep -q "^  $command  " "$WORK/out" || fail "tool usage does not name $command"
done
for command in $commands; do
    run_ok "$command --help" $command --help
    head -1 "$WORK/out" | grep -q "^Usage: qdie-keystore $command" ||
        fail "$command --help: $(head -1 "$WORK/out")"
    # --help wins over whatever else is wrong on the line.
    run_ok "$command --bogus --help" $command --bogus --store --help
    head -1 "$WORK/out" | grep -q "^Usage: qdie-keystore $command" || fail "$command --help after an error"
done
[ ! -e "$DB" ] || fail "--help made a key store"

refused 2 "no command" ""
refused 2 "nothing at all"
refused 2 "unknown command" frobnicate
refused 2 "unknown option" list --shop My
refused 2 "single dash" list -s My
refused 2 "option of another command" stores --store My
refused 2 "missing value" list --store
refused 2 "option as value" export --store --thumbprint 00 --out x.der
refused 2 "option twice" list --store My --store Root
refused 2 "stray argument" list My
refused 2 "flag with a value" delete-container box --force=yes
refused 2 "no container" delete-container --force
refused 2 "two containers" delete-container one two

# Secrets stay out of every message, even when mistyped.
for mistake in --pim=Sesame-4711 Sesame-4711; do
    refused 2 "mistyped secret $mistake" new-identity --subject CN=X $mistake
    grep -q Sesame "$WORK/err" && fail "a usage error showed a secret: $(cat "$WORK/err")"
done

# "--opt=value" and "--" work as usual.
make_certificate dash "Dash"
mv dash.der ./-dash.der
run_ok "--store=Name and --" add --store=Dashes -- -dash.der
run_ok "list --store=Dashes" list --store=Dashes
grep -q "  CN=Dash  no key" "$WORK/out" || fail "add after --: $(cat "$WORK/out")"

finish
