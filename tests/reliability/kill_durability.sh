#!/usr/bin/env bash
# skftool changes a soft token's label, user PIN and signature certificate, and spends PIN
# tries, and is killed with SIGKILL at a random moment of each change. After every kill the
# token's database must pass SQLite's integrity check, each change must be wholly there or
# not at all, and the user PIN's retry counter must never have gained a try.
# Usage: kill_durability.sh [KILLS] (default 500): rounds go on until that many skftool
# processes were killed before they had finished. Needs SKFTOOL and SOFTSKF_LIB.
set -euo pipefail

wanted_kills=${1:-500}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export SOFTSKF_DIR="$work/store"
serial=KILL$$
dev=VK-$serial
db="$SOFTSKF_DIR/tokens/$serial.db"
pins=(12345678 87654321)
pin_index=0
label=Start
cert=none

tool() { "$SKFTOOL" --lib "$SOFTSKF_LIB" "$@"; }
fail() {
    echo "FAIL (round $round, $op): $*" >&2
    exit 1
}

# The user PIN's remaining tries, as the token reports them without a PIN.
user_tries() { tool show "$dev" | sed -n 's/^ *User PIN: *\([0-9]*\) of.*/\1/p' | head -n1; }
token_label() { tool show "$dev" | sed -n 's/^  Label: *//p' | head -n1; }

# Two certificates of the container's own key, so either may be imported.
setup() {
    tool create --serial "$serial" >/dev/null
    tool insert "$serial" >/dev/null
    tool app-create "$dev" APP --default-pins >/dev/null
    tool container-create "$dev" APP CTN --pin "${pins[0]}" >/dev/null
    tool keygen "$dev" APP CTN --sm2 --pin "${pins[0]}" >/dev/null
    for name in A B; do
        tool issue "$dev" APP CTN --sign --cn "Kill $name" --not-after 2030-01-01 --pin "${pins[0]}" >/dev/null
        tool cert-export "$dev" APP CTN --sign -o "$work/cert$name.der" >/dev/null
    done
    cert=B
    tool label "$dev" "$label" >/dev/null
}

# Runs one skftool change in the background and kills it after a random part of its usual
# time. The subshell execs skftool, so the pid killed is skftool's own.
run_and_kill() {
    (exec "$SKFTOOL" --lib "$SOFTSKF_LIB" "$@" >/dev/null 2>&1) &
    local pid=$!
    local micros=$((RANDOM * 32768 + RANDOM))
    sleep "0.$(printf '%06d' $((micros % max_delay_us)))"
    if kill -KILL "$pid" 2>/dev/null; then
        kills=$((kills + 1))
    fi
    wait "$pid" 2>/dev/null || true
}

check_integrity() {
    local answer
    answer=$(sqlite3 "$db" 'PRAGMA integrity_check;')
    [[ "$answer" == ok ]] || fail "integrity check: $answer"
}

# The label is the old one or the new one, never a mixture.
check_label() {
    local now
    now=$(token_label)
    if [[ "$now" == "$1" ]]; then
        label=$1
    elif [[ "$now" != "$label" ]]; then
        fail "label is \"$now\", neither \"$label\" nor \"$1\""
    fi
}

# The certificate is byte for byte the old one or the new one.
check_certificate() {
    tool cert-export "$dev" APP CTN --sign -o "$work/now.der" >/dev/null || fail "certificate export"
    if cmp -s "$work/now.der" "$work/cert$1.der"; then
        cert=$1
    elif ! cmp -s "$work/now.der" "$work/cert$cert.der"; then
        fail "certificate is neither $cert nor $1"
    fi
}

# The PIN is the old or the new one; the check spends at most one try, which the right
# PIN's verification gives back.
check_pin() {
    local new=$1
    if tool pin-verify "$dev" APP --pin "${pins[new]}" >/dev/null 2>&1; then
        pin_index=$new
    elif ! tool pin-verify "$dev" APP --pin "${pins[pin_index]}" >/dev/null 2>&1; then
        fail "neither PIN opens the application: $(tool pin-verify "$dev" APP --pin "${pins[pin_index]}" 2>&1)"
    fi
}

setup
# A change takes about as long as an unkilled run; kills land anywhere inside it.
start=$(date +%s%N)
tool pin-verify "$dev" APP --pin "${pins[0]}" >/dev/null
max_delay_us=$(( ($(date +%s%N) - start) / 1000 + 1 ))
((max_delay_us < 999999)) || max_delay_us=999999
kills=0
changes=(label pin cert spend)

for ((round = 1; kills < wanted_kills; round++)); do
    ((round <= 10 * wanted_kills)) || fail "too few kills landed before their change ended"
    op=${changes[RANDOM % 4]}
    before=$(user_tries)
    case $op in
    label)
        run_and_kill label "$dev" "Round$round"
        ;;
    pin)
        run_and_kill pin-change "$dev" APP --pin "${pins[pin_index]}" --new-pin "${pins[1 - pin_index]}"
        ;;
    cert)
        other=A
        [[ $cert == A ]] && other=B
        run_and_kill cert-import "$dev" APP CTN "$work/cert$other.der" --sign --pin "${pins[pin_index]}"
        ;;
    spend)
        run_and_kill pin-verify "$dev" APP --pin 00000000
        ;;
    esac
    check_integrity
    after=$(user_tries)
    # A PIN check killed before it could tell right from wrong leaves its try spent; nothing
    # ever gives one back, and a change that needs no PIN costs none.
    ((after <= before)) || fail "retry counter rose from $before to $after"
    ((after >= before - 1)) || fail "one change cost $((before - after)) tries"
    if [[ $op == label ]] && ((after != before)); then
        fail "a label change cost a try ($before to $after)"
    fi
    case $op in
    label) check_label "Round$round" ;;
    pin) check_pin $((1 - pin_index)) ;;
    cert) check_certificate "$other" ;;
    spend) ;;
    esac
    # Back to every try for the next round.
    tool pin-verify "$dev" APP --pin "${pins[pin_index]}" >/dev/null || fail "the current PIN no longer opens the application"
done
check_integrity
echo "kill_durability: $((round - 1)) rounds, $kills processes killed mid-change, every database intact, nothing half-written"
