#!/usr/bin/env bash
# The manager as a screen reader meets it: the real ovrinkey under its own Xvfb, on a
# private session bus with the AT-SPI bus and registry (at-spi2-core), read from outside
# by accessibility.py with Debian's pyatspi. Usage: accessibility.sh LANG, for instance
# en_US.UTF-8 or zh_CN.UTF-8. Needs OVRINKEY, SKFTOOL, SOFTSKF_LIB, LANG_DIR and
# SCREENSHOT_DIR in the environment.
set -euo pipefail

# The private bus and what it starts share the script's IPC namespace with the X server.
# shellcheck source=own_ipc_namespace.sh
source "$(dirname "${BASH_SOURCE[0]}")/own_ipc_namespace.sh"

if [[ -z "${ACCESSIBILITY_ON_PRIVATE_BUS:-}" ]]; then
    ACCESSIBILITY_ON_PRIVATE_BUS=1 exec dbus-run-session -- bash "${BASH_SOURCE[0]}" "$@"
fi

# shellcheck source=e2e_common.sh
source "$(dirname "${BASH_SOURCE[0]}")/e2e_common.sh"
language=${1:?usage: accessibility.sh LANG}
export LANG=$language

case $language in
zh_CN*) language_file="$LANG_DIR/vqcsp_2052.lng" ;;
zh_TW*) language_file="$LANG_DIR/vqcsp_1028.lng" ;;
*) language_file="$LANG_DIR/vqcsp_1033.lng" ;;
esac
[[ -r $language_file ]] || fail "no language file $language_file"

# The caption of a catalogue number in the current language.
text_of() {
    sed -n "s/^$1=//p" "$language_file"
}

start_xvfb 1024x768
# The AT-SPI bus is started by D-Bus activation when the reader asks for it. Its socket
# lies in the runtime folder: a private one, as another session's bus (the user's own
# desktop, the other language's test) lies at the same path in the shared one.
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
dbus-update-activation-environment DISPLAY XDG_RUNTIME_DIR
# Qt's bridge stays off without a desktop that asks for it, unless told.
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1 NO_AT_BRIDGE=0
# The demo token has an application, so every button of the key information page works.
skftool demo
# The reader registers its focus listener before the manager starts: Qt's bridge misses a
# listener that comes while it starts, and then never reports the focus.
export LISTENING_FILE="$work/listening"
/usr/bin/python3 "$(dirname "${BASH_SOURCE[0]}")/accessibility.py" "$language_file" VK-VK2026000001 \
    'Velkora证书管理工具' "$(text_of 32032)" "$(text_of 32030)" "$(text_of 32031)" &
reader=$!
pids+=("$reader")
listening() {
    [[ -e $LISTENING_FILE ]] || { kill -0 "$reader" 2>/dev/null || fail "the reader ended before it listened"; false; }
}
wait_until 60 "the reader's focus listener" listening
# An X desktop names the AT-SPI bus on the root window. Qt's bridge, when it finds the bus
# only through the session bus, registers the application before its connection is up and
# never tries again: the manager would not be on the bus at all.
address=$(dbus-send --session --print-reply=literal --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress)
xprop -root -f AT_SPI_BUS 8s -set AT_SPI_BUS "${address##* }"
"$OVRINKEY" >>"$work/ovrinkey.log" 2>&1 &
pids+=($!)

status=0
wait "$reader" || status=$?
screenshot "accessibility_${language%%.*}"
((status == 0)) || fail "the accessibility tree has faults (see above)"
echo "PASS: accessibility in $language"
