# Shared by the qdie-keystore tests (sourced): a throwaway profile, the tool, and checks that
# count failures instead of stopping at the first one.
# Usage from a test: source tool_test_lib.sh "$1"   (the path of the qdie-keystore binary)

TOOL=$1
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
export HOME=$WORK/home
unset XDG_DATA_HOME
# The profile folder is found under any spelling of "userprofile", as on Windows.
while IFS= read -r name; do unset "$name"; done < <(env | grep -io '^userprofile=' | tr -d '=')
mkdir -p "$HOME"
DB=$HOME/.local/share/qdie-keystore/keystore.db
# The machine's store of this test alone, never the host's.
export QDIE_MACHINE_STORE=$WORK/machine
MACHINE_DB=$QDIE_MACHINE_STORE/keystore.db
cd "$WORK" || exit 1
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# What the tool runs under, when a test sets it: (timeout 10) so that a tool that waits fails
# instead of hanging, or ("${UNPRIVILEGED[@]}").
RUN_AS=()
# Without the power to override file modes, even as root (which CI runs as).
if [ "$(id -u)" -eq 0 ]; then UNPRIVILEGED=(setpriv --bounding-set=-all --inh-caps=-all --); else UNPRIVILEGED=(); fi

# A private mount namespace to mount a scratch file system in, or nothing where none can be made.
if [ "$(id -u)" -eq 0 ]; then MOUNT_NAMESPACE=(unshare -m); else MOUNT_NAMESPACE=(unshare -rm); fi
"${MOUNT_NAMESPACE[@]}" true 2>/dev/null || MOUNT_NAMESPACE=()

# Runs the tool; its output lands in $WORK/out and $WORK/err, its exit status in $status.
run() {
    "${RUN_AS[@]}" "$TOOL" "$@" >"$WORK/out" 2>"$WORK/err"
    status=$?
}

# run_ok LABEL ARGS...: the tool succeeds and prints nothing on stderr.
run_ok() {
    local label=$1
    shift
    run "$@"
    if [ "$status" -ne 0 ] || [ -s "$WORK/err" ]; then
        fail "$label: exit $status, stderr: $(cat "$WORK/err")"
    fi
}

# The kind of file in the key store's place and, for a regular file, its bytes (a FIFO is
# never read: that would wait for a writer).
snapshot_store() {
    rm -f "$WORK/before.db" "$WORK/before.kind"
    if [ -e "$DB" ]; then stat -c %F "$DB" >"$WORK/before.kind"; fi
    if [ -f "$DB" ]; then cp "$DB" "$WORK/before.db"; fi
}

store_unchanged() {
    if [ -e "$WORK/before.kind" ]; then
        [ "$(stat -c %F "$DB")" = "$(cat "$WORK/before.kind")" ] &&
            { [ ! -e "$WORK/before.db" ] || cmp -s "$WORK/before.db" "$DB"; }
    else
        [ ! -e "$DB" ]
    fi
}

# refused STATUS LABEL ARGS...: the tool exits with STATUS, prints nothing on stdout and one
# "qdie-keystore: " line on stderr, and leaves the key store file byte for byte as it was.
refused() {
    local want=$1 label=$2
    shift 2
    snapshot_store
    run "$@"
    [ "$status" -eq "$want" ] || fail "$label: exit $status, wanted $want"
    [ ! -s "$WORK/out" ] || fail "$label: printed on stdout: $(cat "$WORK/out")"
    [ "$(wc -l <"$WORK/err")" -eq 1 ] || fail "$label: stderr is not one line: $(cat "$WORK/err")"
    grep -q '^qdie-keystore: ' "$WORK/err" || fail "$label: stderr lacks the tool's name: $(cat "$WORK/err")"
    store_unchanged || fail "$label: the key store file changed"
}

# changed_unreported LABEL OUTPUT ARGS...: the tool, its standard output going to OUTPUT (a file
# such as /dev/full, or "closed"), makes its change and then exits 3 with one line that says so.
changed_unreported() {
    local label=$1 output=$2
    shift 2
    if [ "$output" = closed ]; then
        "$TOOL" "$@" >&- 2>"$WORK/err"
    else
        "$TOOL" "$@" >"$output" 2>"$WORK/err"
    fi
    status=$?
    [ "$status" -eq 3 ] || fail "$label: exit $status, wanted 3"
    [ "$(wc -l <"$WORK/err")" -eq 1 ] || fail "$label: stderr is not one line: $(cat "$WORK/err")"
    grep -q "^qdie-keystore: [a-z-]*: the change was made (.*), but cannot write to standard output\$" \
        "$WORK/err" || fail "$label: stderr does not say the change was made: $(cat "$WORK/err")"
}

# expect_equal LABEL ACTUAL WANTED
expect_equal() {
    [ "$2" = "$3" ] || fail "$1: got '$2', wanted '$3'"
}

# The SHA-1 thumbprint of a DER certificate as the list prints it, by openssl.
openssl_thumbprint() {
    openssl x509 -inform DER -in "$1" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g'
}

# make_certificate NAME CN: NAME.key (PEM) and NAME.der, self-signed, by openssl.
make_certificate() {
    openssl req -x509 -newkey rsa:1024 -nodes -keyout "$1.key" -outform DER -out "$1.der" \
        -subj "/CN=$2" -days 2 2>/dev/null || fail "openssl req for $2"
}

finish() {
    if [ "$failures" -ne 0 ]; then
        echo "$failures check(s) failed" >&2
        exit 1
    fi
    echo "all checks passed"
}
