#!/usr/bin/env bash
# The user's story, end to end: the real ovrinkey under its own Xvfb with the demo soft
# token plugged in. Click the device, verify the PIN, open the container view, export the
# SM2 signature certificate, and find exactly the token's bytes in the file. A picture of
# each page lands in SCREENSHOT_DIR. Needs OVRINKEY, SKFTOOL, SOFTSKF_LIB, WMCLOSE,
# WIDGETMAP and SCREENSHOT_DIR in the environment (CTest sets them).
set -euo pipefail

# shellcheck source=e2e_common.sh
source "$(dirname "${BASH_SOURCE[0]}")/e2e_common.sh"
lock=""

# A visible top-level window of the manager other than its main window, waiting up to
# 10 s for it; with "message", only the message dialog (fixed at 380 x 270).
dialog_of() {
    local id WIDTH HEIGHT X Y SCREEN WINDOW waited=0
    while ((waited < 100)); do
        for id in $(xdotool search --onlyvisible --pid "$manager" 2>/dev/null || true); do
            [[ "$id" == "$main" ]] && continue
            eval "$(xdotool getwindowgeometry --shell "$id")"
            if [[ "${1:-}" == message ]]; then
                ((WIDTH == 380 && HEIGHT == 270)) && { echo "$id"; return 0; }
            elif ((WIDTH > 64 && HEIGHT > 64)); then
                echo "$id"
                return 0
            fi
        done
        sleep 0.1
        ((++waited))
    done
    return 1
}

# Waits until the manager shows no window but its main one.
no_dialog() {
    local waited=0
    while dialog_of_now; do
        sleep 0.1
        ((++waited < 100)) || fail "a dialog stayed open"
    done
}

message_now() {
    local id WIDTH HEIGHT X Y SCREEN WINDOW
    for id in $(xdotool search --onlyvisible --pid "$manager" 2>/dev/null || true); do
        [[ "$id" == "$main" ]] && continue
        eval "$(xdotool getwindowgeometry --shell "$id")"
        ((WIDTH == 380 && HEIGHT == 270)) && { echo "$id"; return 0; }
    done
    return 1
}

dialog_of_now() {
    local id WIDTH HEIGHT X Y SCREEN WINDOW
    for id in $(xdotool search --onlyvisible --pid "$manager" 2>/dev/null || true); do
        [[ "$id" == "$main" ]] && continue
        eval "$(xdotool getwindowgeometry --shell "$id")"
        ((WIDTH > 64 && HEIGHT > 64)) && return 0
    done
    return 1
}

# Clicks a target of the widget map, in screen coordinates. The manager handles input in
# the order it came, so a click or key sent after this one finds its effect in place; only
# what reads the screen has to wait (drawn).
click() {
    local x y
    read -r x y < <(awk -v name="$1" '$1 == name { print $2, $3 }' "$work/map")
    [[ -n "$x" ]] || fail "no position for $1"
    xdotool mousemove --sync $((origin_x + x)) $((origin_y + y)) click 1
}

# Waits until the main window shows something other than the picture $1, taken before the
# input whose effect is wanted ($2 names it).
drawn() {
    wait_until 10 "the window to show $2" picture_differs "$main" "$1"
}

# Answers a dialog with Return and waits until it is gone.
answer_dialog() {
    local box=$1
    xdotool windowfocus --sync "$box" 2>/dev/null || true
    xdotool key --window "$box" Return
    no_dialog
}

story() {
    # The viewer's file and the export are the machine's; take turns with the widget tests.
    exec {lock}>/tmp/qorvex.cer.test-lock
    flock "$lock"

    QT_QPA_PLATFORM=offscreen SOFTSKF_DIR="$work/empty" "$WIDGETMAP" >"$work/map" 2>/dev/null ||
        fail "the widget map could not be made"
    start_xvfb
    skftool demo
    # A stand-in viewer, found before the real one, records what it was asked to show.
    mkdir -p "$work/bin"
    printf '#!/bin/sh\nprintf "%%s" "$1" > "%s/viewer-argument"\ncp "$1" "%s/viewed.cer"\n' "$work" "$work" \
        >"$work/bin/gcr-viewer"
    chmod +x "$work/bin/gcr-viewer"
    rm -f /tmp/qorvex.cer
    PATH="$work/bin:$PATH" "$OVRINKEY" >>"$work/ovrinkey.log" 2>&1 &
    manager=$!
    pids+=("$manager")

    local waited=0
    main=""
    until [[ -n "$main" ]]; do
        main=$(xdotool search --onlyvisible --pid "$manager" 2>/dev/null | head -n1 || true)
        sleep 0.1
        ((++waited < 150)) || fail "no window"
    done
    local WIDTH HEIGHT X Y SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$main")"
    origin_x=$X
    origin_y=$Y
    # The demo token is in the tree and the window has been drawn.
    wait_until 15 "the demo token in the device tree" tree_shows 1
    wait_until 15 "the first frame" grep -q '^frame ' "$OVRINKEY_BENCH_PROBE"
    screenshot story_1_devices

    # The device: its key information.
    local before
    before=$(picture "$main")
    click deviceRow
    drawn "$before" "the key information"
    screenshot story_2_keyinfo

    # Verify the PIN as a person types it: right after opening the page, ended with Enter.
    before=$(picture "$main")
    click btn_VerifyPIN
    drawn "$before" "the PIN page"
    before=$(picture "$main")
    xdotool type --delay 50 12345678
    drawn "$before" "the typed PIN"
    screenshot story_3_verify_page
    xdotool key Return
    local box
    box=$(dialog_of message) || fail "no message after typing the PIN and Enter"
    [[ "$(xdotool getwindowname "$box")" == "Verify PIN" ]] || fail "the message is titled $(xdotool getwindowname "$box")"
    screenshot story_4_verified
    answer_dialog "$box"

    before=$(picture "$main")
    click btn_ChangePIN
    drawn "$before" "the change PIN page"
    screenshot story_4_change_pin_page

    # The container view: expand the device, click its application node.
    click deviceRow
    xdotool key Right
    before=$(picture "$main")
    click applicationRow
    drawn "$before" "the container view"
    screenshot story_5_containers

    # Select the SM2 signature certificate with the keyboard: find the container by typing,
    # open it, step to its signature pair, open that, step to the certificate.
    click containerRow
    xdotool type --delay 80 SM2Container
    before=$(picture "$main")
    xdotool key Right Down Right Down
    drawn "$before" "the certificate selected"
    screenshot story_6_certificate_selected

    click btn_ExpCert
    box=$(dialog_of) || fail "no file dialog"
    screenshot story_7_save_dialog
    xdotool key --window "$box" ctrl+a
    xdotool type --delay 20 "$work/exported.cer"
    # The name field's completer may take the first Return; the dialog the next one. Each
    # Return gets two seconds to bring the message before the next is sent.
    local tries=0 waited
    box=""
    until [[ -n "$box" ]]; do
        ((++tries <= 3)) || fail "no message after exporting"
        xdotool key Return
        for ((waited = 0; waited < 40; waited++)); do
            box=$(message_now) && break
            box=""
            sleep 0.05
        done
    done
    [[ "$(xdotool getwindowname "$box")" == "Export Certificate" ]] || fail "the export message is titled $(xdotool getwindowname "$box")"
    screenshot story_8_exported
    answer_dialog "$box"

    [[ -s "$work/exported.cer" ]] || fail "nothing was exported"
    skftool cert-export VK-VK2026000001 OVRIN_APP SM2Container --sign -o "$work/reference.cer"
    cmp "$work/exported.cer" "$work/reference.cer" || fail "the exported file differs from the token's certificate"

    # The same certificate in the viewer, through the viewer's file.
    click btn_ViewCert
    waited=0
    until [[ -s "$work/viewed.cer" ]]; do
        sleep 0.1
        ((++waited < 100)) || fail "the viewer was not started"
    done
    [[ "$(cat "$work/viewer-argument")" == /tmp/qorvex.cer ]] || fail "the viewer got $(cat "$work/viewer-argument")"
    cmp "$work/viewed.cer" "$work/reference.cer" || fail "the viewer's file differs from the token's certificate"
    rm -f /tmp/qorvex.cer

    "$WMCLOSE" "$main"
    local code=0
    wait "$manager" || code=$?
    [[ "$code" == 0 ]] || fail "the manager ended with $code"
}

story
echo "PASS: story"
