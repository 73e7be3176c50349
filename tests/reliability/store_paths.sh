#!/usr/bin/env bash
# The soft token's store keeps to its folder and to itself: serials and device names that
# would reach outside it are refused, container and file names with "../" create nothing
# outside it, folders and files stay private under a careless umask, and no PIN is found
# in the clear in any file of the store. Needs SKFTOOL and SOFTSKF_LIB.
set -euo pipefail

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export SOFTSKF_DIR="$work/deep/store"
mkdir -p "$work/deep"
status=0
tool() { "$SKFTOOL" --lib "$SOFTSKF_LIB" "$@"; }
fail() {
    echo "FAIL: $*" >&2
    status=1
}
refused() {
    if tool "$@" >/dev/null 2>&1; then
        fail "accepted: skftool $*"
    fi
}

umask 000
tool create --serial SAFE >/dev/null
tool insert SAFE >/dev/null

for serial in ../escape ../../escape a/b .. .; do
    refused create --serial "$serial"
done
for name in ../evil ../../evil sub/evil ..; do
    refused insert SAFE --name "$name"
done

# Container and file names are rows of the token's database, never paths.
pin=Zq7pin9X
so_pin=So4PinQ7
tool app-create VK-SAFE APP --user-pin "$pin" --so-pin "$so_pin" >/dev/null
tool container-create VK-SAFE APP "../../../ctn" --pin "$pin" >/dev/null 2>&1 || true
tool container-create VK-SAFE APP "..%2f..%2fctn" --pin "$pin" >/dev/null 2>&1 || true

outside=$(find "$work" -path "$SOFTSKF_DIR" -prune -o -print | grep -v -x -e "$work" -e "$work/deep" || true)
[[ -z "$outside" ]] || fail "files outside the store: $outside"

while read -r path; do
    mode=$(stat -c %a "$path")
    if [[ -d "$path" ]]; then
        [[ "$mode" == 700 ]] || fail "folder $path has mode $mode"
    else
        [[ "$mode" == 600 ]] || fail "file $path has mode $mode"
    fi
done < <(find "$SOFTSKF_DIR" -mindepth 1)

# Neither PIN appears as text in any file of the store. (The device authentication key is
# kept as it is: the token must encrypt with it, and no PIN guards it.)
tool pin-change VK-SAFE APP --pin "$pin" --new-pin "${pin}2" >/dev/null
for secret in "$pin" "$so_pin" "${pin}2"; do
    if grep -r -a -l -F "$secret" "$SOFTSKF_DIR" >/dev/null; then
        fail "a PIN in the clear in $(grep -r -a -l -F "$secret" "$SOFTSKF_DIR")"
    fi
done

((status == 0)) && echo "store_paths: escaping names refused, nothing outside the store, private modes, no PIN in the clear"
exit $status
