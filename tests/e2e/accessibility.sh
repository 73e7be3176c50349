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
# The AT-SPI bus is started by D-Bus activation when the manager or the client asks for it;
# Qt's bridge stays off without a desktop that asks for it, unless told.
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1 NO_AT_BRIDGE=0
# The demo token has an application, so every button of the key information page works.
skftool demo
"$OVRINKEY" >>"$work/ovrinkey.log" 2>&1 &
pids+=($!)

status=0
/usr/bin/python3 "$(dirname "${BASH_SOURCE[0]}")/accessibility.py" "$language_file" VK-VK2026000001 \
    'Velkora证书管理工具' "$(text_of 32032)" "$(text_of 32030)" "$(text_of 32031)" || status=$?
screenshot "accessibility_${language%%.*}"
((status == 0)) || fail "the accessibility tree has faults (see above)"
echo "PASS: accessibility in $language"
