# What the checks that drive the system's client programs share: how a check skips or
# fails, a work folder removed on exit (KEEP_WORK=1 keeps a failed run's files for a look)
# with the background processes a check started ended first, and a one-connection TLS
# server for client logins.
# Sourced after `set -euo pipefail`; exit status 77 is ctest's skip.

skip() {
    echo "SKIP: $*"
    exit 77
}

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

need() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
    done
}

work=$(mktemp -d)
background=() # processes a check started, ended on exit
cleanup() {
    local pid
    for pid in "${background[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    if [[ -n "${KEEP_WORK:-}" ]]; then
        echo "files kept in $work" >&2
    else
        rm -rf "$work"
    fi
}
trap cleanup EXIT

# Starts openssl s_server for one connection that must show a client certificate issued by
# CA_FILE, on a port the system picks, and sets port to it; the log gets the server's
# report. Not in a subshell, so the exit handler ends a server that no client reached.
# Usage: start_tls_server LOG CA_FILE CERT KEY [more s_server options]
start_tls_server() {
    local log=$1 ca=$2 cert=$3 key=$4
    shift 4
    openssl s_server -accept 127.0.0.1:0 -naccept 1 -www -Verify 1 -verify_return_error \
        -CAfile "$ca" -cert "$cert" -key "$key" "$@" >"$log" 2>&1 &
    background+=($!)
    local tries
    for tries in $(seq 100); do
        if grep -q '^ACCEPT ' "$log"; then
            port=$(sed -n 's/^ACCEPT .*:\([0-9]*\)$/\1/p' "$log")
            return 0
        fi
        sleep 0.1
    done
    fail "s_server did not start: $(cat "$log")"
}
