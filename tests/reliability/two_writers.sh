#!/usr/bin/env bash
# Two skftool processes change one soft token at the same time: each creates its own
# containers, deletes all but its last two again, and sets labels, while the other does the
# same. Afterwards exactly each writer's last two containers are on the token, every change
# either process was told it made was made, and the database is intact. When OVRINKEY is
# set and Xvfb is there, the manager runs too, reading the token on every rebuild while a
# second token is plugged in and pulled out, and must still be running at the end.
# Usage: two_writers.sh [CONTAINERS_EACH] (default 20). Needs SKFTOOL and SOFTSKF_LIB.
set -euo pipefail
# shellcheck source=../e2e/own_ipc_namespace.sh
source "$(dirname "${BASH_SOURCE[0]}")/../e2e/own_ipc_namespace.sh"

count=${1:-20}
work=$(mktemp -d)
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
export SOFTSKF_DIR="$work/store"
serial=BOTH$$
dev=VK-$serial

tool() { "$SKFTOOL" --lib "$SOFTSKF_LIB" "$@"; }

tool create --serial "$serial" >/dev/null
tool insert "$serial" >/dev/null
tool app-create "$dev" APP --default-pins >/dev/null

# One writer: creates its containers one by one, deletes the one before last, and records
# each change that skftool confirmed.
writer() {
    local name=$1 i
    for ((i = 1; i <= count; i++)); do
        if tool container-create "$dev" APP "$name$i" --pin 12345678 >/dev/null 2>>"$work/$name.err"; then
            echo "create $name$i" >>"$work/$name.done"
        fi
        if ((i > 2)) && tool container-delete "$dev" APP "$name$((i - 2))" --pin 12345678 >/dev/null 2>>"$work/$name.err"; then
            echo "delete $name$((i - 2))" >>"$work/$name.done"
        fi
        tool label "$dev" "$name-$i" >/dev/null 2>>"$work/$name.err" || echo "label $name-$i failed" >>"$work/$name.err"
    done
}

# The manager under its own Xvfb, rebuilding its tree whenever the second token moves.
manager=""
if [[ -n "${OVRINKEY:-}" ]] && command -v Xvfb >/dev/null; then
    Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp -noreset >"$work/display" 2>/dev/null &
    pids+=($!)
    for ((i = 0; i < 100; i++)); do [[ -s "$work/display" ]] && break; sleep 0.1; done
    export DISPLAY=":$(head -n1 "$work/display")" HOME="$work/home" XDG_RUNTIME_DIR="$work/run" LANG=C.UTF-8
    # The single-instance marker is keyed on a file in the temporary folder.
    export TMPDIR="$work/tmp"
    mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$TMPDIR" && chmod 700 "$XDG_RUNTIME_DIR"
    : >"$work/probe"
    # libxkbcommon, which the X platform loads, fails the strict string checks.
    ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}strict_string_checks=0" \
        OVRINKEY_BENCH_PROBE="$work/probe" "$OVRINKEY" >"$work/manager.log" 2>&1 &
    manager=$!
    pids+=("$manager")
    tool create --serial "OTHER$$" >/dev/null
    (
        while [[ ! -e "$work/writers.done" ]]; do
            tool insert "OTHER$$" >/dev/null 2>&1 || true
            sleep 0.05
            tool remove "OTHER$$" >/dev/null 2>&1 || true
            sleep 0.05
        done
    ) &
    pids+=($!)
fi

writer W &
first=$!
writer X &
second=$!
wait "$first"
wait "$second"
touch "$work/writers.done"

status=0
shown=$(tool show "$dev")
for name in W X; do
    confirmed=$(wc -l <"$work/$name.done" 2>/dev/null || echo 0)
    if ((confirmed != 2 * count - 2)); then
        echo "FAIL: writer $name had $((2 * count - 2 - confirmed)) refused changes:" >&2
        cat "$work/$name.err" >&2
        status=1
    fi
    for ((i = 1; i <= count; i++)); do
        present=0
        grep -q "Container $name$i " <<<"$shown" && present=1
        want=0
        ((i > count - 2)) && want=1
        ((present == want)) || { echo "FAIL: container $name$i present=$present, expected $want" >&2; status=1; }
    done
done
answer=$(sqlite3 "$SOFTSKF_DIR/tokens/$serial.db" 'PRAGMA integrity_check;')
[[ "$answer" == ok ]] || { echo "FAIL: integrity check: $answer" >&2; status=1; }
label=$(sed -n 's/^  Label: *//p' <<<"$shown" | head -n1)
[[ "$label" == "W-$count" || "$label" == "X-$count" ]] || { echo "FAIL: last label is \"$label\"" >&2; status=1; }
if [[ -n "$manager" ]]; then
    rebuilds=$(grep -c '^rebuild ' "$work/probe" || true)
    kill -0 "$manager" 2>/dev/null || { echo "FAIL: the manager ended: $(tail -n 5 "$work/manager.log")" >&2; status=1; }
    ((rebuilds > 0)) || { echo "FAIL: the manager never rebuilt its tree" >&2; status=1; }
    echo "two_writers: the manager rebuilt its tree $rebuilds times meanwhile"
fi
((status == 0)) && echo "two_writers: $((6 * count - 4)) changes (containers made and deleted, labels) from two processes at once, none lost"
exit $status
