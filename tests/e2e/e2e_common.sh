# Shared start-up of the end-to-end scripts, sourced by e2e.sh and story.sh: a fresh work
# folder with the soft token's store in it, the C locale, the clean-up of every background
# process, and the helpers that start Xvfb, run skftool and take a picture of the screen.
# The sourcing script has set -euo pipefail already.

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

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Starts Xvfb (1024x768 unless a size is given) on a display number it picks itself and
# exports DISPLAY.
start_xvfb() {
    local size=${1:-1024x768}
    Xvfb -displayfd 1 -screen 0 "${size}x24" -nolisten tcp >"$work/display" 2>"$work/xvfb.log" &
    pids+=($!)
    local waited=0
    until [[ -s "$work/display" ]]; do
        sleep 0.1
        ((++waited < 100)) || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
    done
    export DISPLAY=":$(head -n1 "$work/display")"
}

skftool() {
    "$SKFTOOL" --lib "$SOFTSKF_LIB" "$@" >/dev/null
}

screenshot() {
    mkdir -p "$SCREENSHOT_DIR"
    import -window root "$SCREENSHOT_DIR/$1.png"
}
