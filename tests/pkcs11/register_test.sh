#!/usr/bin/env bash
# skfp11-register in a fresh home: two Firefox profiles made by Firefox itself (one at a
# relative path, one at an absolute path, neither with an NSS database yet), a Thunderbird
# profile that already loads the module under a name of the user's, and no Chromium
# database. After one run `modutil -list` shows the module once in each database; a second
# run adds nothing; --unregister removes only what the command added; --list says so.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/clients_common.sh"
need modutil certutil python3 firefox-esr
[[ -x "${SKFP11_REGISTER:-}" ]] || skip "no skfp11-register at '${SKFP11_REGISTER:-}'"
exec </dev/null

export HOME="$work/home" SKFP11_MODULE="$P11_MODULE"
unset XDG_CONFIG_HOME
mkdir -p "$HOME"
# Firefox itself never gets the sanitizer's runtime (bounded would give it in such a build).
for profile in first "second $work/elsewhere"; do
    timeout --kill-after=5 60 firefox-esr --headless -CreateProfile "$profile" >/dev/null 2>&1 || fail "firefox-esr could not make profile '$profile'"
done
firefox_folder=$HOME/.config/mozilla/firefox
[[ -f $firefox_folder/profiles.ini ]] || firefox_folder=$HOME/.mozilla/firefox
first=$(ls -d "$firefox_folder"/*.first) || fail "Firefox made no profile 'first': $(find "$HOME")"
mkdir -p "$HOME/.thunderbird/mail.default"
printf '[Profile0]\nName=default\nIsRelative=1\nPath=mail.default\n' >"$HOME/.thunderbird/profiles.ini"
bounded 60 modutil -force -dbdir "sql:$HOME/.thunderbird/mail.default" -add "My token" -libfile "$P11_MODULE" >/dev/null 2>&1
chromium_db=$HOME/.pki/nssdb
ours="SKF tokens (skfp11-register)"

# The command loads the module through modutil, so it gets the sanitizer's runtime in such a
# build, as the other clients do.
register() {
    "${client_env[@]}" "$SKFP11_REGISTER" "$@"
}

# Reads lines "folder|names" from standard input: database `folder` holds entries for the
# module under exactly these comma-separated names, and NSS loads the module at most once.
expect_entries() {
    local state=$1 folder names listed
    while IFS='|' read -r folder names; do
        listed=$(modutil -rawlist -dbdir "sql:$folder" |
            sed -n 's/.*library="[^"]*libskfp11.so" name="\([^"]*\)".*/\1/p' | paste -sd, -)
        [[ "$listed" == "$names" ]] || fail "$state: $folder holds '$listed', not '$names'"
        [[ -z "$names" ]] && continue
        listed=$(bounded 60 modutil -force -list -dbdir "sql:$folder" 2>&1 | grep -cF "library name: $P11_MODULE" || true)
        [[ "$listed" == 1 ]] || fail "$state: modutil -list shows the module $listed times in $folder"
    done
}

# The four databases, the user's Thunderbird entry always, and ours where $1 says.
expect_all() {
    local state=$1 mine=$2
    expect_entries "$state" <<LINES
$first|$mine
$work/elsewhere|$mine
$chromium_db|$mine
$HOME/.thunderbird/mail.default|My token
LINES
}

register >"$work/first.txt" 2>&1 || fail "skfp11-register failed: $(cat "$work/first.txt")"
[[ -f $chromium_db/cert9.db && -f $chromium_db/key4.db ]] || fail "no Chromium database was made: $(ls -la "$chromium_db")"
expect_all "after one run" "$ours"
echo "one run: the module once in each database: ok"

register >"$work/second.txt" 2>&1 || fail "a second run failed: $(cat "$work/second.txt")"
if grep -q ': added$' "$work/second.txt"; then
    fail "a second run added entries: $(cat "$work/second.txt")"
fi
expect_all "after a second run" "$ours"
register --list >"$work/list.txt" 2>&1 || fail "--list failed: $(cat "$work/list.txt")"
[[ "$(grep -c "registered as '$ours', added by this command" "$work/list.txt")" == 3 &&
    "$(grep -c "registered as 'My token', added by hand" "$work/list.txt")" == 1 ]] ||
    fail "--list does not say where the module is: $(cat "$work/list.txt")"
echo "a second run adds nothing, and --list says where the module is: ok"

register --unregister >"$work/unregister.txt" 2>&1 || fail "--unregister failed: $(cat "$work/unregister.txt")"
expect_all "after --unregister" ""
register --list >"$work/list2.txt" 2>&1 || fail "--list failed: $(cat "$work/list2.txt")"
[[ "$(grep -c ': not registered$' "$work/list2.txt")" == 3 ]] || fail "--list after --unregister: $(cat "$work/list2.txt")"
echo "--unregister removes only the command's own entries: ok"
