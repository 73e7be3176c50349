# Shared start-up of the end-to-end scripts, sourced by each of them: a fresh work
# folder with the soft token's store in it, the C locale, the clean-up of every background
# process, and the helpers that start Xvfb, run skftool, take a picture of the screen and
# find the tray icon and its menu.
# The sourcing script has set -euo pipefail already.

# shellcheck source=own_ipc_namespace.sh
source "$(dirname "${BASH_SOURCE[0]}")/own_ipc_namespace.sh"

work=$(mktemp -d)
export SOFTSKF_DIR="$work/store"
export LANG=C.UTF-8
unset LANGUAGE LC_ALL
pids=()

# These scripts check the manager's exit codes. A leak check at exit would turn into a
# failure code of its own: the tray's exit ends the process without tearing the window
# down, and libraries the file dialog loads and unloads leave blocks no suppression can
# name. Leaks in our code are checked by the widget tests and the soak under valgrind.
# Strict string checks are off too: libxkbcommon, which the X platform loads, reads a
# string within its bounds but past its terminating NUL.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0:strict_string_checks=0"

cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Says what failed, with the last words of the manager and of the X server.
fail() {
    echo "FAIL: $*" >&2
    local log
    for log in "$work/ovrinkey.log" "$work/xvfb.log"; do
        [[ -s $log ]] && { echo "--- $(basename "$log"):" >&2; tail -n 20 "$log" >&2; }
    done
    exit 1
}

# Runs a command until it succeeds, for up to $1 seconds; if it never does, the script fails
# saying what it waited for ($2).
wait_until() {
    local seconds=$1 what=$2
    shift 2
    local now=${EPOCHREALTIME/./}
    local end=$((now + seconds * 1000000))
    until "$@"; do
        now=${EPOCHREALTIME/./}
        ((now < end)) || fail "waited ${seconds} s for $what"
        sleep 0.05
    done
}

# The manager's rebuild lines go to this file (its benchmark probe), so a script can wait
# until the device tree holds what it expects instead of sleeping.
export OVRINKEY_BENCH_PROBE="$work/probe"
: >"$OVRINKEY_BENCH_PROBE"

# True once the last device-tree rebuild showed $1 devices.
tree_shows() {
    [[ "$(awk '$1 == "rebuild" { rows = $4 } END { print rows }' "$OVRINKEY_BENCH_PROBE")" == "$1" ]]
}

# A checksum of what a window shows, to tell when a click or key has been drawn.
picture() {
    import -window "$1" rgba:- 2>/dev/null | md5sum
}

# True once window $1 shows something other than the earlier picture $2.
picture_differs() {
    [[ "$(picture "$1")" != "$2" ]]
}

# Starts Xvfb (1024x768 unless a size is given) on a display number it picks itself and
# exports DISPLAY. -noreset: by default the server resets when its last client leaves, and
# a client that connects during the reset is refused.
start_xvfb() {
    local size=${1:-1024x768}
    Xvfb -displayfd 1 -screen 0 "${size}x24" -nolisten tcp -noreset >"$work/display" 2>"$work/xvfb.log" &
    pids+=($!)
    local waited=0
    until [[ -s "$work/display" ]]; do
        sleep 0.1
        ((++waited < 100)) || fail "Xvfb did not start"
    done
    export DISPLAY=":$(head -n1 "$work/display")"
}

skftool() {
    "$SKFTOOL" --lib "$SOFTSKF_LIB" "$@" >/dev/null
}

# A token SERIAL, plugged in as VK-SERIAL, whose container NAME holds an SM2 signature pair
# with a certificate valid to the end of NOT_AFTER (and from NOT_BEFORE when given).
# Every PIN is 12345678.
token_with_certificate() {
    local serial=$1 name=$2 not_after=$3 not_before=${4:-}
    local device="VK-$serial"
    local -x SKFTOOL_PIN=12345678
    skftool create --serial "$serial"
    skftool insert "$serial"
    skftool app-create "$device" OVRIN_APP --default-pins
    skftool container-create "$device" OVRIN_APP "$name"
    skftool keygen "$device" OVRIN_APP "$name" --sm2
    skftool issue "$device" OVRIN_APP "$name" --sign --cn "$name" --not-after "$not_after" \
        ${not_before:+--not-before "$not_before"}
}

screenshot() {
    mkdir -p "$SCREENSHOT_DIR"
    import -window root "$SCREENSHOT_DIR/$1.png"
}

# The tray icon of a process: its small window embedded in the tray host.
tray_icon_of() {
    local id WIDTH HEIGHT X Y SCREEN WINDOW
    for id in $(xdotool search --pid "$1" 2>/dev/null || true); do
        eval "$(xdotool getwindowgeometry --shell "$id")"
        if ((WIDTH <= 64 && HEIGHT <= 64 && WIDTH > 1)); then
            echo "$id"
            return 0
        fi
    done
    return 1
}

# True once a popup of the process other than its main window and tray icon is shown.
menu_open_of() {
    local id WIDTH HEIGHT X Y SCREEN WINDOW
    for id in $(xdotool search --onlyvisible --pid "$1" 2>/dev/null || true); do
        [[ "$id" == "$2" ]] && continue
        eval "$(xdotool getwindowgeometry --shell "$id")"
        ((WIDTH == 662 && HEIGHT == 460)) && continue
        ((WIDTH > 64 && HEIGHT > 20)) && return 0
    done
    return 1
}
