#!/usr/bin/env bash
# The manager held open under Xvfb while a soft token is plugged in and pulled out again and
# again. After every step the window must have rebuilt its device tree with the right number
# of devices (read from its probe file); at the end the open file descriptors must be back to
# their count after warm-up and the resident size may have grown by less than 2 MiB.
# Usage: manager_soak.sh CYCLES [valgrind]. Needs OVRINKEY, SKFTOOL and SOFTSKF_LIB. With
# "valgrind" the manager runs under memcheck and no block may be definitely lost.
set -euo pipefail
# shellcheck source=../e2e/own_ipc_namespace.sh
source "$(dirname "${BASH_SOURCE[0]}")/../e2e/own_ipc_namespace.sh"

cycles=${1:-2000}
mode=${2:-plain}
warmup=20
work=$(mktemp -d)
export SOFTSKF_DIR="$work/store"
export LANG=C.UTF-8 HOME="$work/home" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
probe="$work/probe"
: >"$probe"
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    tail -n 20 "$work/manager.log" >&2 || true
    exit 1
}
tool() { "$SKFTOOL" --lib "$SOFTSKF_LIB" "$@" >/dev/null; }

Xvfb -displayfd 1 -screen 0 1280x800x24 -nolisten tcp -noreset >"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for ((i = 0; i < 100; i++)); do [[ -s "$work/display" ]] && break; sleep 0.1; done
[[ -s "$work/display" ]] || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")"

tool create --serial SOAK1
# libxkbcommon, which the X platform loads, fails the strict string checks.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}strict_string_checks=0"
timeout_steps=100
if [[ $mode == valgrind ]]; then
    timeout_steps=600
    OVRINKEY_BENCH_PROBE="$probe" valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite \
        --errors-for-leak-kinds=definite --num-callers=30 --log-file="$work/valgrind.log" \
        "$OVRINKEY" >"$work/manager.log" 2>&1 &
else
    OVRINKEY_BENCH_PROBE="$probe" "$OVRINKEY" >"$work/manager.log" 2>&1 &
fi
manager=$!
pids+=("$manager")

rebuilds() { grep -c '^rebuild ' "$probe" || true; }
# Waits until the window has rebuilt once more and its last rebuild showed $1 devices.
await_rebuild() {
    local want=$1 seen=$2 steps=0
    until (($(rebuilds) > seen)) && [[ "$(grep '^rebuild ' "$probe" | tail -n1 | cut -d' ' -f4)" == "$want" ]]; do
        kill -0 "$manager" 2>/dev/null || fail "the manager ended during cycle $cycle"
        ((++steps < timeout_steps)) || fail "no rebuild with $want devices during cycle $cycle"
        sleep 0.05
    done
}
# The manager's own process: under valgrind, the tool's child is the one to measure.
measured_pid() { echo "$manager"; }
fds() { ls "/proc/$(measured_pid)/fd" | wc -l; }
rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$(measured_pid)/status"; }

cycle=0
for ((cycle = 1; cycle <= cycles; cycle++)); do
    seen=$(rebuilds)
    tool insert SOAK1
    await_rebuild 1 "$seen"
    seen=$(rebuilds)
    tool remove SOAK1
    await_rebuild 0 "$seen"
    if ((cycle == warmup)); then
        start_fds=$(fds)
        start_rss=$(rss_kib)
    fi
done
end_fds=$(fds)
end_rss=$(rss_kib)
growth=$((end_rss - start_rss))
echo "manager_soak: $cycles cycles ($mode), $(rebuilds) rebuilds; fds $start_fds -> $end_fds;" \
    "RSS ${start_rss} KiB -> ${end_rss} KiB (growth ${growth} KiB after a $warmup-cycle warm-up)"
((end_fds <= start_fds)) || fail "open file descriptors grew from $start_fds to $end_fds"
if [[ $mode != valgrind ]]; then
    # A sanitizer's quarantine holds freed memory on purpose; only a plain build is judged.
    if ! ldd "$OVRINKEY" | grep -q -e libasan -e libtsan; then
        ((growth < 2048)) || fail "resident size grew by $growth KiB"
    fi
    exit 0
fi

# Ends the manager the way a session logout does, then reads memcheck's verdict.
kill -TERM "$manager"
for ((i = 0; i < 600; i++)); do kill -0 "$manager" 2>/dev/null || break; sleep 0.1; done
wait "$manager" 2>/dev/null || true
grep -E 'definitely lost:' "$work/valgrind.log" || true
# Only a block lost from our own code fails: its stack runs through the manager, the soft
# token or a source file of this repository. Qt, GLib and D-Bus keep a few blocks of their
# own threads' state that nothing frees at exit.
ours=$(python3 - "$work/valgrind.log" "$OVRINKEY" "$(cd "$(dirname "$0")/../.." && pwd)" <<'PY'
import os, re, sys
log, binary, root = sys.argv[1:4]
sources = set()
for folder in ("src", "softtoken"):
    for base, _, files in os.walk(os.path.join(root, folder)):
        sources.update(f for f in files if f.endswith((".cpp", ".h", ".c")))
record, found = [], []
for line in open(log, errors="replace"):
    text = re.sub(r"^==\d+==\s?", "", line.rstrip("\n"))
    if "definitely lost in loss record" in text:
        record = [text]
    elif record and text.strip():
        record.append(text)
    elif record:
        mine = any(binary in f or "libovrinskf" in f or
                   (m := re.search(r"\(([\w.+-]+):\d+\)", f)) and m.group(1) in sources for f in record)
        if mine:
            found.append("\n".join(record))
        record = []
print("\n\n".join(found))
PY
)
if [[ -n "$ours" ]]; then
    cp "$work/valgrind.log" "${SOAK_LOG_DIR:-/tmp}/manager_soak_valgrind.log" 2>/dev/null || true
    echo "$ours" >&2
    fail "valgrind: blocks definitely lost from our code (log kept in ${SOAK_LOG_DIR:-/tmp}/manager_soak_valgrind.log)"
fi
echo "manager_soak: valgrind memcheck found no block definitely lost from our code"
