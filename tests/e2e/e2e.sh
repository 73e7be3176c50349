#!/usr/bin/env bash
# End-to-end cases of the manager: the real ovrinkey under its own Xvfb with the soft token
# in a fresh store, driven by xdotool. Usage: e2e.sh CASE. Needs OVRINKEY, SKFTOOL,
# SOFTSKF_LIB, WMCLOSE and SCREENSHOT_DIR in the environment (CTest sets them).
set -euo pipefail

code=""
# shellcheck source=e2e_common.sh
source "$(dirname "${BASH_SOURCE[0]}")/e2e_common.sh"

# Starts the manager in the background; its pid goes to the variable named by $1.
start_manager() {
    local -n out=$1
    "$OVRINKEY" >>"$work/ovrinkey.log" 2>&1 &
    out=$!
    pids+=("$out")
}

# The visible top-level window of a process, waiting up to 15 s for it.
window_of() {
    local pid=$1 waited=0 id
    while ((waited < 150)); do
        id=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | head -n1 || true)
        [[ -n "$id" ]] && { echo "$id"; return 0; }
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.1
        ((++waited))
    done
    return 1
}

# Waits up to 15 s for a process of this shell to end and puts its exit code in $code.
wait_for_exit() {
    local pid=$1 waited=0
    while kill -0 "$pid" 2>/dev/null; do
        sleep 0.1
        ((++waited < 150)) || { code="still running"; return 0; }
    done
    code=0
    wait "$pid" || code=$?
}

demo_token() {
    skftool create --serial VK2026000001
    skftool insert VK2026000001
}

aSecondStart_showsTheWarningBox_andEndsWithMinusOne() {
    start_xvfb 1024x768
    local first second
    start_manager first
    local main
    main=$(window_of "$first") || fail "the first start shows no window"

    start_manager second
    local box
    box=$(window_of "$second") || fail "the second start shows nothing"
    local title
    title=$(xdotool getwindowname "$box")
    [[ "$title" == "warning" ]] || fail "the box is titled '$title'"
    screenshot e2e_already_running
    kill -0 "$second" || fail "the second start ended before its box was dismissed"

    xdotool windowfocus --sync "$box"
    xdotool key Return
    wait_for_exit "$second"
    [[ "$code" == 255 ]] || fail "the second start ended with $code, not -1"
    kill -0 "$first" || fail "the first instance did not survive"

    "$WMCLOSE" "$main"
    wait_for_exit "$first"
    [[ "$code" == 0 ]] || fail "the first instance ended with $code"
}

anExitThroughTheTrayMenu_endsWithZero_andTheNextStartProceeds() {
    start_xvfb 1024x768
    command -v trayer >/dev/null || fail "trayer (a tray host) is not installed"
    trayer --edge top --align right --widthtype request --height 32 --SetDockType false \
        >"$work/trayer.log" 2>&1 &
    pids+=($!)
    demo_token
    local manager
    start_manager manager
    window_of "$manager" >/dev/null || fail "no window"

    # The icon appears in the tray once the token's insertion has been handled.
    local icon="" waited=0
    until icon=$(tray_icon_of "$manager"); do
        ((++waited < 100)) || fail "no tray icon appeared"
        sleep 0.1
    done
    screenshot e2e_tray
    eval "$(xdotool getwindowgeometry --shell "$icon")"
    xdotool mousemove --sync $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 3
    waited=0
    until menu_open_of "$manager" "$icon"; do
        ((++waited < 100)) || fail "the tray menu did not open"
        sleep 0.1
    done
    screenshot e2e_tray_menu
    # Up from no selection picks the menu's last entry, the exit action.
    xdotool key Up Return
    wait_for_exit "$manager"
    [[ "$code" == 0 ]] || fail "the tray's exit ended with $code"

    local next
    start_manager next
    local window
    window=$(window_of "$next") || fail "the next start shows nothing"
    [[ "$(xdotool getwindowname "$window")" != "warning" ]] || fail "the next start was refused"
    "$WMCLOSE" "$window"
    wait_for_exit "$next"
    [[ "$code" == 0 ]] || fail "the next start ended with $code"
}

theCloseButton_endsWithZero() {
    start_xvfb 1024x768
    demo_token
    local manager window
    start_manager manager
    window=$(window_of "$manager") || fail "no window"
    wait_until 15 "the demo token in the device tree" tree_shows 1
    wait_until 15 "the first frame" grep -q '^frame ' "$OVRINKEY_BENCH_PROBE"
    screenshot e2e_main_window
    "$WMCLOSE" "$window"
    wait_for_exit "$manager"
    [[ "$code" == 0 ]] || fail "the close button ended with $code"
}

aTerminationSignal_endsWithZero() {
    start_xvfb 1024x768
    demo_token
    local manager
    start_manager manager
    window_of "$manager" >/dev/null || fail "no window"
    kill -TERM "$manager"
    wait_for_exit "$manager"
    [[ "$code" == 0 ]] || fail "SIGTERM ended with $code"
}

onASmallScreen_theWindowGetsNegativeCoordinates() {
    start_xvfb 640x480
    local manager window
    start_manager manager
    window=$(window_of "$manager") || fail "no window"
    # The window is placed once it has been drawn.
    wait_until 15 "the first frame" grep -q '^frame ' "$OVRINKEY_BENCH_PROBE"
    local X Y WIDTH HEIGHT SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$window")"
    # (640 - 662) / 2 = -11 and (480 - 460) / 2 = 10, halves rounded toward zero.
    [[ "$X,$Y" == "-11,10" ]] || fail "the window is at $X,$Y"
    [[ "${WIDTH}x$HEIGHT" == "662x460" ]] || fail "the window is ${WIDTH}x$HEIGHT"
    "$WMCLOSE" "$window"
    wait_for_exit "$manager"
    [[ "$code" == 0 ]] || fail "the close ended with $code"
}

case=${1:?usage: e2e.sh CASE}
declare -F "$case" >/dev/null || fail "no case $case"
"$case"
echo "PASS: $case"
