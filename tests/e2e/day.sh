#!/usr/bin/env bash
# A day with the manager, end to end: the real ovrinkey under its own Xvfb (with a window
# manager where minimising matters), on a private session bus with Qt's accessibility
# bridge on, so the texts Qt draws itself (the tray menu, a box's buttons) are read from
# outside as a screen reader reads them. Usage: day.sh CASE. Needs OVRINKEY, SKFTOOL,
# SOFTSKF_LIB and SCREENSHOT_DIR in the environment.
set -euo pipefail

# The private bus and what it starts share the script's IPC namespace with the X server.
# shellcheck source=own_ipc_namespace.sh
source "$(dirname "${BASH_SOURCE[0]}")/own_ipc_namespace.sh"

if [[ -z "${DAY_ON_PRIVATE_BUS:-}" ]]; then
    DAY_ON_PRIVATE_BUS=1 exec dbus-run-session -- bash "${BASH_SOURCE[0]}" "$@"
fi

# shellcheck source=e2e_common.sh
source "$(dirname "${BASH_SOURCE[0]}")/e2e_common.sh"
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1 NO_AT_BRIDGE=0

start_manager() {
    "$OVRINKEY" >>"$work/ovrinkey.log" 2>&1 &
    manager=$!
    pids+=("$manager")
    wait_until 15 "the manager's window" find_main
    # The first reader starts the accessibility bus while Qt's bridge still looks for one.
    wait_until 15 "the manager on the accessibility bus" on_accessibility_bus
}

on_accessibility_bus() {
    [[ -n "$(shown_names label)" ]]
}

# The manager's main window (662 x 460), into $main.
find_main() {
    local id WIDTH HEIGHT X Y SCREEN WINDOW
    for id in $(xdotool search --onlyvisible --pid "$manager" 2>/dev/null || true); do
        eval "$(xdotool getwindowgeometry --shell "$id")"
        ((WIDTH == 662 && HEIGHT == 460)) && { main=$id; return 0; }
    done
    return 1
}

# twm places windows where they ask to be and iconifies by unmapping; the window's state is
# then the ICCCM WM_STATE it keeps on the window. Its fonts are the X server's built-in one.
start_window_manager() {
    local font
    printf 'UsePPosition "on"\nRandomPlacement\nNoTitle\nIconifyByUnmapping\n' >"$work/twmrc"
    for font in TitleFont ResizeFont MenuFont IconFont IconManagerFont; do
        printf '%s "fixed"\n' "$font" >>"$work/twmrc"
    done
    twm -f "$work/twmrc" >"$work/twm.log" 2>&1 &
    pids+=($!)
    wait_until 15 "twm to take the screen: $(tail -n 3 "$work/twm.log")" root_has_children
}

root_has_children() {
    ! xwininfo -root -children | grep -q '^ *0 children'
}

start_trayer() {
    trayer --edge top --align right --widthtype request --height 32 --SetDockType false \
        >"$work/trayer.log" 2>&1 &
    pids+=($!)
}

window_state_is() {
    xprop -id "$main" WM_STATE 2>/dev/null | grep -q "window state: $1"
}

focused() {
    [[ "$(xdotool getwindowfocus 2>/dev/null)" == "$main" ]]
}

# The names of the manager's controls of one kind (button or label) on the screen now, one a
# line.
shown_names() {
    /usr/bin/python3 - "$1" <<'EOF'
import sys
import pyatspi
role = {"button": pyatspi.ROLE_PUSH_BUTTON, "label": pyatspi.ROLE_LABEL}[sys.argv[1]]
def walk(node):
    for child in node:
        if child is None:
            continue
        if child.getRole() == role and child.getState().contains(pyatspi.STATE_SHOWING):
            print(child.name)
        walk(child)
for app in pyatspi.Registry.getDesktop(0):
    if app is not None and app.name == "ovrinkey":
        walk(app)
EOF
}

# The names a screen reader hears while the keys $@ move through an open menu: Qt lists no
# popup among its windows, but says which entry takes the focus.
menu_names_heard() {
    /usr/bin/python3 - "$@" <<'EOF'
import subprocess
import sys
import time
import pyatspi
from gi.repository import GLib
heard = []
def on_focus(event):
    if event.detail1 == 1 and event.source is not None and event.source.getRole() == pyatspi.ROLE_MENU_ITEM:
        heard.append(event.source.name)
pyatspi.Registry.registerEventListener(on_focus, "object:state-changed:focused")
context = GLib.MainContext.default()
for key in sys.argv[1:]:
    before = len(heard)
    subprocess.run(["xdotool", "key", key], check=True)
    deadline = time.monotonic() + 5
    while len(heard) == before and time.monotonic() < deadline:
        while context.iteration(False):
            pass
        time.sleep(0.02)
print("\n".join(heard))
EOF
}

shows_name() {
    local names
    names=$(shown_names "$1")
    grep -qxF -- "$2" <<<"$names"
}

# Right-clicks the tray icon at $1,$2 until the manager's menu shows. On a busy machine a click
# on the icon went unanswered now and then (no menu within 15 s, where it usually takes well
# under one), so a click that brought no menu in 10 s is given again, up to three times.
open_tray_menu() {
    local attempt
    for attempt in 1 2 3; do
        xdotool mousemove --sync "$1" "$2" click 3
        local end=$((${EPOCHREALTIME/./} + 10000000))
        while ((${EPOCHREALTIME/./} < end)); do
            menu_open_of "$manager" "$icon" && return 0
            sleep 0.05
        done
    done
    fail "three right-clicks on the tray icon opened no menu"
}

inEnglish_theTray_bringsBackAMinimisedWindow() {
    export LANG=en_US.UTF-8
    start_xvfb 1024x768
    start_window_manager
    start_trayer
    skftool demo
    start_manager
    wait_until 15 "the demo token in the device tree" tree_shows 1
    wait_until 15 "the window manager to take the window" window_state_is Normal
    local icon
    wait_until 15 "the tray icon" tray_icon_of "$manager"
    icon=$(tray_icon_of "$manager")
    local X Y WIDTH HEIGHT SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$icon")"
    local icon_x=$((X + WIDTH / 2)) icon_y=$((Y + HEIGHT / 2))

    # The menu's first entry, in English.
    xdotool windowminimize --sync "$main"
    wait_until 15 "the window minimised" window_state_is Iconic
    open_tray_menu "$icon_x" "$icon_y"
    local heard
    heard=$(menu_names_heard Down Down Up | tr '\n' '|')
    [[ "$heard" == "Show main window|Exit|Show main window|" ]] || fail "the tray menu reads: $heard"
    screenshot e2e_tray_menu_english
    xdotool key Return
    wait_until 15 "the window restored by the menu" window_state_is Normal
    wait_until 15 "the restored window to take the keyboard" focused

    # A double click on the icon.
    xdotool windowminimize --sync "$main"
    wait_until 15 "the window minimised again" window_state_is Iconic
    xdotool mousemove --sync "$icon_x" "$icon_y" click --repeat 2 --delay 80 1
    wait_until 15 "the window restored by a double click" window_state_is Normal
    wait_until 15 "the window focused after the double click" focused
}

inChinese_anExpiredTokenBesideTheDemoToken_showsItsErrorBox_withQtsButtonInChinese() {
    export LANG=zh_CN.UTF-8
    start_xvfb 1024x768
    token_with_certificate EXP2026000001 Expired "$(date -u -d '-3 days' +%Y-%m-%d)" \
        "$(date -u -d '-60 days' +%Y-%m-%d)"
    skftool demo
    # Both tokens are plugged in before the manager starts, as at a login.
    start_manager
    wait_until 15 "the error box of the expired token" shows_name button "确定"
    local labels
    labels=$(shown_names label)
    grep -q "已过期 3 天" <<<"$labels" || fail "the box is not the expired token's: $labels"
    wait_until 15 "both tokens in the device tree" tree_shows 2
    screenshot e2e_start_expired_and_demo_token
}

case=${1:?usage: day.sh CASE}
declare -F "$case" >/dev/null || fail "no case $case"
"$case"
echo "PASS: $case"
