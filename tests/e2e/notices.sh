#!/usr/bin/env bash
# Notices on desktops with and without a tray: the real ovrinkey under its own Xvfb, on a
# private session bus (the script runs itself under dbus-run-session) with dunst as the
# notification service, printing every notification it receives. Usage: notices.sh CASE.
# Needs OVRINKEY, SKFTOOL, SOFTSKF_LIB and SCREENSHOT_DIR in the environment.
set -euo pipefail

# The private bus and what it starts share the script's IPC namespace with the X server.
# shellcheck source=own_ipc_namespace.sh
source "$(dirname "${BASH_SOURCE[0]}")/own_ipc_namespace.sh"

if [[ -z "${NOTICES_ON_PRIVATE_BUS:-}" ]]; then
    NOTICES_ON_PRIVATE_BUS=1 exec dbus-run-session -- bash "${BASH_SOURCE[0]}" "$@"
fi

# shellcheck source=e2e_common.sh
source "$(dirname "${BASH_SOURCE[0]}")/e2e_common.sh"
# The English texts are read back below.
export LANG=en_US.UTF-8

Title='Velkora证书管理工具'

# Waits up to $2 tenths of a second for the command in the remaining arguments to succeed.
wait_until() {
    local what=$1 limit=$2 waited=0
    shift 2
    until "$@"; do
        ((++waited < limit)) || fail "$what"
        sleep 0.1
    done
}

bus_has_owner() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q 'boolean true'
}

# dunst owns the service before the manager starts, so the bus never activates another one.
start_dunst() {
    dunst -print >"$work/dunst.out" 2>"$work/dunst.log" &
    pids+=($!)
    wait_until "dunst did not take the notification service: $(cat "$work/dunst.log")" 150 \
        bus_has_owner org.freedesktop.Notifications
}

start_trayer() {
    trayer --edge top --align right --widthtype request --height 32 --SetDockType false \
        >"$work/trayer.log" 2>&1 &
    pids+=($!)
    wait_until "trayer made no window" 150 xdotool search --classname trayer
}

start_manager() {
    "$OVRINKEY" >>"$work/ovrinkey.log" 2>&1 &
    manager=$!
    pids+=("$manager")
    wait_until "the manager shows no window" 300 xdotool search --onlyvisible --pid "$manager"
}

# The blocks dunst printed, one line per notification: appname|summary|body|icon|entry|timeout|id.
notifications() {
    awk -F"'" '
        /^\tappname:/ { app = $2 }
        /^\tsummary:/ { summary = $2 }
        /^\tbody:/ { body = $2 }
        /^\ticon:/ { icon = $2 }
        /^\tdesktop_entry:/ { entry = $2 }
        /^\ttimeout:/ { split($0, t, ": "); timeout = t[2] }
        /^\tid:/ { split($0, t, ": "); id = t[2] }
        /^}/ { print app "|" summary "|" body "|" icon "|" entry "|" timeout "|" id }
    ' "$work/dunst.out"
}

has_notification() {
    notifications | grep -qF -- "$1"
}

expect_notification() {
    wait_until "no notification '$1' arrived; dunst saw: $(notifications)" 300 has_notification "$1"
}

noTray_insertionAndRemoval_areDesktopNotifications() {
    start_xvfb 1024x768
    start_dunst
    skftool create --serial VK2026000001
    start_manager
    skftool insert VK2026000001
    expect_notification "Velkora Token Manager|$Title|DIV-Uvavoz inserted|com.qorvex.ovrinkey|com.qorvex.ovrinkey|3000"
    screenshot notices_no_tray
    skftool remove VK2026000001
    expect_notification "Velkora Token Manager|$Title|DIV-Uvavoz removed|com.qorvex.ovrinkey|com.qorvex.ovrinkey|3000"
}

noTray_aCertificateExpiringWithinThirtyDays_isADesktopNotification() {
    start_xvfb 1024x768
    start_dunst
    # The manager counts from the start of the last day: 20 days at any time of day.
    token_with_certificate VK2026000002 Expiring "$(date -u -d '+20 days' +%Y-%m-%d)"
    skftool remove VK2026000002
    start_manager
    skftool insert VK2026000002
    expect_notification "|$Title|Your certificate will expire in 20 days."
    expect_notification "|DIV-Uvavoz inserted|"
    # The warning comes right after the insertion notice and stands beside it.
    local ids
    ids=$(notifications | awk -F'|' '{print $7}' | sort -u | wc -l)
    ((ids == 2)) || fail "the two notices share one notification: $(notifications)"
}

withATray_theNoticesStayInTheTray() {
    start_xvfb 1024x768
    start_dunst
    start_trayer
    skftool create --serial VK2026000001
    start_manager
    skftool insert VK2026000001
    # The tray's balloon: a window of the manager besides the main window and the tray icon.
    wait_until "no balloon appeared in the tray" 300 balloon_shown
    screenshot notices_tray
    [[ ! -s "$work/dunst.out" ]] || fail "a desktop notification was sent although a tray runs: $(notifications)"
}

withATray_theLastRemoval_isADesktopNotification() {
    start_xvfb 1024x768
    start_dunst
    start_trayer
    skftool create --serial VK2026000001
    start_manager
    skftool insert VK2026000001
    wait_until "no balloon appeared in the tray" 300 balloon_shown
    # The tray icon goes with the last token, and its balloon with it: the desktop shows the notice.
    skftool remove VK2026000001
    expect_notification "Velkora Token Manager|$Title|DIV-Uvavoz removed|com.qorvex.ovrinkey|com.qorvex.ovrinkey|3000"
}

balloon_shown() {
    local id WIDTH HEIGHT X Y SCREEN WINDOW
    for id in $(xdotool search --onlyvisible --pid "$manager" 2>/dev/null || true); do
        eval "$(xdotool getwindowgeometry --shell "$id")"
        ((WIDTH == 662 && HEIGHT == 460)) && continue
        ((WIDTH > 64 && HEIGHT > 20)) && return 0
    done
    return 1
}

case=${1:?usage: notices.sh CASE}
declare -F "$case" >/dev/null || fail "no case $case"
"$case"
echo "PASS: $case"
